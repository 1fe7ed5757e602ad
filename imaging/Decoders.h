// The picture decoders. Each reads a whole file held in memory and paints it onto a new white working
// image of the picture's own size. False for anything damaged, truncated or unsupported; never throws,
// never reads outside the input, whatever the input.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/WorkingImage.h"

namespace imaging {

// Largest width or height any decoder accepts.
inline constexpr int kMaxImageSide = 65535;
// Largest picture any decoder accepts: 64 megapixels (a 256 MB working image), far above any
// reader photo or phone camera. A few hundred bytes can claim any size; without a bound they would make
// the tool allocate gigabytes before the data turned out to be missing.
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{1} << 26;

bool DecodeJpeg(std::span<const std::uint8_t> file, WorkingImage& image);
bool DecodePng(std::span<const std::uint8_t> file, WorkingImage& image);
bool DecodeBmp(std::span<const std::uint8_t> file, WorkingImage& image);

}  // namespace imaging
