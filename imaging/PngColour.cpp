#include "imaging/PngColour.h"

#include <algorithm>
#include <cmath>

#include "imaging/WorkingImage.h"

namespace imaging::png {
namespace {

// Half to even, decided explicitly rather than by the current rounding mode. Where a half can occur:
// in exact arithmetic never. The exponent is the fraction p/q = 500000 / (11 * gamma), and
// 255 * (v/255)^(p/q) = k + 1/2 would mean (v/255)^p = ((2k+1)/510)^q, an odd denominator on the left and
// an even one on the right. Only double rounding could land on x.5; for every gamma up to 2000000 and
// every v the computed values stay at least 7e-11 away from any half, far beyond double error, so the
// table is the same on every machine with a faithful pow.
std::uint8_t RoundHalfToEven(double value) {
  const double floor = std::floor(value);
  const double fraction = value - floor;
  auto result = static_cast<long>(floor);
  if (fraction > 0.5 || (fraction == 0.5 && result % 2 != 0)) ++result;
  return static_cast<std::uint8_t>(std::clamp(result, 0L, 255L));
}

std::uint32_t PackGray(std::uint32_t level) { return PackRgb(level, level, level); }

}  // namespace

std::array<std::uint8_t, 256> GammaTable(std::uint32_t gamma) {
  std::array<std::uint8_t, 256> table{};
  if (gamma == 0) {
    for (int v = 0; v < 256; ++v) table[v] = static_cast<std::uint8_t>(v);
    return table;
  }
  const double exponent = 1.0 / (static_cast<double>(gamma) / 100000.0 * 2.2);
  for (int v = 0; v < 256; ++v) table[v] = RoundHalfToEven(255.0 * std::pow(v / 255.0, exponent));
  return table;
}

PixelConverter::PixelConverter(const PngFile& png)
    : bitDepth_(png.header.bitDepth),
      sampleBytes_(png.header.bitDepth == 16 ? 2 : 1),
      gamma_(GammaTable(png.gamma)) {
  switch (png.header.colourType) {
    case kGray:
      kind_ = Kind::kIndexed;
      BuildGrayTable(png);
      break;
    case kPalette:
      kind_ = Kind::kIndexed;
      BuildPaletteTable(png);
      break;
    case kRgb:
      kind_ = Kind::kRgb;
      // The key is compared with the displayed colour: the low bytes of the tRNS values, gamma-mapped.
      hasKey_ = png.hasKey;
      key_ = PackRgb(gamma_[png.key[0] & 0xFF], gamma_[png.key[1] & 0xFF], gamma_[png.key[2] & 0xFF]);
      break;
    case kGrayAlpha: kind_ = Kind::kGrayAlpha; break;
    default: kind_ = Kind::kRgba; break;
  }
}

// Gray level n of a depth below 8 shows as n * 255 / (2^depth - 1); a 16-bit level shows its high byte,
// so a 16-bit image has the 256 levels of its high bytes. The key is level number t (the low byte of the
// tRNS value) of that scale; a t beyond the scale names no level and keys nothing.
void PixelConverter::BuildGrayTable(const PngFile& png) {
  const std::uint32_t levels = bitDepth_ >= 8 ? 256 : (1u << bitDepth_);
  const auto levelColour = [&](std::uint32_t level) { return PackGray(gamma_[level * 255 / (levels - 1)]); };
  const std::uint32_t t = png.key[0] & 0xFF;
  const bool keyed = png.hasKey && t < levels;
  const std::uint32_t key = keyed ? levelColour(t) : 0;
  for (std::uint32_t level = 0; level < levels; ++level) {
    const std::uint32_t colour = levelColour(level);
    lookup_[level] = keyed && colour == key ? kWhite : colour;
  }
}

// Palette images reduce to one pixel per index. tRNS with exactly one alpha below 255, that alpha 0,
// makes the colour of that entry a key; with two or more alphas below 255 every entry is blended.
// Exactly one alpha strictly between 0 and 255 names no key colour: that entry is blended like any
// translucent one. Indexes beyond the palette show black, as other readers show them.
void PixelConverter::BuildPaletteTable(const PngFile& png) {
  std::array<std::uint8_t, 256> alpha;
  alpha.fill(255);
  std::copy(png.paletteAlpha.begin(), png.paletteAlpha.end(), alpha.begin());
  const auto translucent =
      std::count_if(png.paletteAlpha.begin(), png.paletteAlpha.end(), [](auto a) { return a < 255; });
  const auto firstClear = std::find(png.paletteAlpha.begin(), png.paletteAlpha.end(), std::uint8_t{0});
  const bool keyed = translucent == 1 && firstClear != png.paletteAlpha.end();
  const bool blended = translucent >= 1 && !keyed;

  std::array<PaletteEntry, 256> colours{};
  std::copy(png.palette.begin(), png.palette.end(), colours.begin());
  const auto colourOf = [&](std::size_t index) {
    const PaletteEntry& entry = colours[index];
    return PackRgb(gamma_[entry.red], gamma_[entry.green], gamma_[entry.blue]);
  };
  const std::uint32_t key = keyed ? colourOf(firstClear - png.paletteAlpha.begin()) : 0;
  for (std::size_t index = 0; index < 256; ++index) {
    const PaletteEntry& entry = colours[index];
    if (blended) {
      const std::uint32_t a = alpha[index];
      lookup_[index] = PackRgb(BlendOverWhite(gamma_[entry.red], a), BlendOverWhite(gamma_[entry.green], a),
                               BlendOverWhite(gamma_[entry.blue], a));
    } else {
      const std::uint32_t colour = colourOf(index);
      lookup_[index] = keyed && colour == key ? kWhite : colour;
    }
  }
}

void PixelConverter::ConvertRow(const std::uint8_t* row, std::uint32_t count, std::uint32_t* out) const {
  switch (kind_) {
    case Kind::kIndexed: ConvertIndexed(row, count, out); break;
    case Kind::kRgb: ConvertRgb(row, count, out); break;
    case Kind::kGrayAlpha: ConvertGrayAlpha(row, count, out); break;
    case Kind::kRgba: ConvertRgba(row, count, out); break;
  }
}

void PixelConverter::ConvertIndexed(const std::uint8_t* row, std::uint32_t count, std::uint32_t* out) const {
  if (bitDepth_ >= 8) {
    for (std::uint32_t i = 0; i < count; ++i) out[i] = lookup_[row[i * sampleBytes_]];
    return;
  }
  // Packed samples, leftmost pixel in the high bits.
  const int perByte = 8 / bitDepth_;
  const std::uint32_t mask = (1u << bitDepth_) - 1;
  for (std::uint32_t i = 0; i < count; ++i) {
    const int shift = 8 - bitDepth_ * (1 + static_cast<int>(i % perByte));
    out[i] = lookup_[(row[i / perByte] >> shift) & mask];
  }
}

void PixelConverter::ConvertRgb(const std::uint8_t* row, std::uint32_t count, std::uint32_t* out) const {
  const int step = 3 * sampleBytes_;
  for (std::uint32_t i = 0; i < count; ++i, row += step) {
    const std::uint32_t colour =
        PackRgb(gamma_[row[0]], gamma_[row[sampleBytes_]], gamma_[row[2 * sampleBytes_]]);
    out[i] = hasKey_ && colour == key_ ? kWhite : colour;
  }
}

// Gray-with-alpha samples are used as stored: the gAMA mapping does not reach them.
void PixelConverter::ConvertGrayAlpha(const std::uint8_t* row, std::uint32_t count,
                                      std::uint32_t* out) const {
  const int step = 2 * sampleBytes_;
  for (std::uint32_t i = 0; i < count; ++i, row += step)
    out[i] = PackGray(BlendOverWhite(row[0], row[sampleBytes_]));
}

void PixelConverter::ConvertRgba(const std::uint8_t* row, std::uint32_t count, std::uint32_t* out) const {
  const int step = 4 * sampleBytes_;
  for (std::uint32_t i = 0; i < count; ++i, row += step) {
    const std::uint32_t alpha = row[3 * sampleBytes_];
    out[i] = PackRgb(BlendOverWhite(gamma_[row[0]], alpha), BlendOverWhite(gamma_[row[sampleBytes_]], alpha),
                     BlendOverWhite(gamma_[row[2 * sampleBytes_]], alpha));
  }
}

}  // namespace imaging::png
