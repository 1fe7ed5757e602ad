// From PNG samples to working-image pixels: sample scaling, the gAMA mapping and transparency against
// the white working image.
#pragma once

#include <array>
#include <cstdint>

#include "imaging/PngChunks.h"

namespace imaging::png {

// The gAMA mapping of 8-bit colour values: v -> round(255 * (v / 255)^(1 / (gamma / 100000 * 2.2))),
// halves to even. gamma 0 (no gAMA chunk) gives the identity.
std::array<std::uint8_t, 256> GammaTable(std::uint32_t gamma);

// A colour over white with 8-bit alpha: (source * alpha + 255 * (255 - alpha) + 255) >> 8.
constexpr std::uint32_t BlendOverWhite(std::uint32_t source, std::uint32_t alpha) {
  return (source * alpha + 255 * (255 - alpha) + 255) >> 8;
}

class PixelConverter {
 public:
  explicit PixelConverter(const PngFile& png);

  // Converts the first count pixels of an unfiltered scanline into working-image pixels.
  void ConvertRow(const std::uint8_t* row, std::uint32_t count, std::uint32_t* out) const;

 private:
  enum class Kind { kIndexed, kRgb, kGrayAlpha, kRgba };

  void BuildGrayTable(const PngFile& png);
  void BuildPaletteTable(const PngFile& png);
  void ConvertIndexed(const std::uint8_t* row, std::uint32_t count, std::uint32_t* out) const;
  void ConvertRgb(const std::uint8_t* row, std::uint32_t count, std::uint32_t* out) const;
  void ConvertGrayAlpha(const std::uint8_t* row, std::uint32_t count, std::uint32_t* out) const;
  void ConvertRgba(const std::uint8_t* row, std::uint32_t count, std::uint32_t* out) const;

  Kind kind_ = Kind::kIndexed;
  int bitDepth_ = 8;
  int sampleBytes_ = 1;  // 2 for 16-bit samples, of which the high (first) byte counts
  std::array<std::uint8_t, 256> gamma_{};
  std::array<std::uint32_t, 256> lookup_{};  // gray level or palette index -> final pixel
  bool hasKey_ = false;
  std::uint32_t key_ = 0;  // truecolour key colour, after the gamma mapping
};

}  // namespace imaging::png
