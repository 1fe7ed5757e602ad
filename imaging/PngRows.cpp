#include "imaging/PngRows.h"

#include <cstdlib>

namespace imaging::png {
namespace {

struct Adam7Step {
  std::uint32_t x0, y0, dx, dy;
};
constexpr Adam7Step kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                 {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

std::uint32_t Reach(std::uint32_t side, std::uint32_t start, std::uint32_t step) {
  return side > start ? (side - start + step - 1) / step : 0;
}

// The Paeth predictor written to compile to conditional moves, not branches (which photo noise defeats).
// With estimate = left + up - upLeft: |estimate - left| = |up - upLeft|, |estimate - up| = |left - upLeft|.
// Left wins when it is no farther than both others; up wins over upLeft on a tie.
inline std::uint8_t Paeth(int left, int up, int upLeft) {
  const int toUpSide = up - upLeft;
  const int toLeftSide = left - upLeft;
  const int toLeft = std::abs(toUpSide);
  const int toUp = std::abs(toLeftSide);
  const int toUpLeft = std::abs(toUpSide + toLeftSide);
  const bool upNearer = toUp <= toUpLeft;
  const int nearerOfOthers = upNearer ? up : upLeft;
  const int distanceOfOthers = upNearer ? toUp : toUpLeft;
  return static_cast<std::uint8_t>(toLeft <= distanceOfOthers ? left : nearerOfOthers);
}

// The Paeth filter with the pixel size fixed at compile time; the left and upper-left pixels are carried
// in registers instead of being read back from the row just written.
template <std::size_t PixelBytes>
void UnfilterPaeth(std::uint8_t* row, const std::uint8_t* previous, std::size_t length) {
  int left[PixelBytes] = {}, upLeft[PixelBytes] = {};
  std::size_t i = 0;
  for (; i + PixelBytes <= length; i += PixelBytes) {
    for (std::size_t k = 0; k < PixelBytes; ++k) {
      const int up = previous[i + k];
      const auto value = static_cast<std::uint8_t>(row[i + k] + Paeth(left[k], up, upLeft[k]));
      row[i + k] = value;
      left[k] = value;
      upLeft[k] = up;
    }
  }
  for (std::size_t k = 0; i + k < length; ++k)  // a partial pixel cannot occur; kept for safety
    row[i + k] = static_cast<std::uint8_t>(row[i + k] + Paeth(left[k], previous[i + k], upLeft[k]));
}

void UnfilterPaeth(std::uint8_t* row, const std::uint8_t* previous, std::size_t length,
                   std::size_t pixelBytes) {
  switch (pixelBytes) {
    case 1: return UnfilterPaeth<1>(row, previous, length);
    case 2: return UnfilterPaeth<2>(row, previous, length);
    case 3: return UnfilterPaeth<3>(row, previous, length);
    case 4: return UnfilterPaeth<4>(row, previous, length);
    case 6: return UnfilterPaeth<6>(row, previous, length);
    default: return UnfilterPaeth<8>(row, previous, length);
  }
}

}  // namespace

std::vector<Pass> PassesOf(const Header& header) {
  if (!header.interlaced) return {Pass{0, 0, 1, 1, header.width, header.height}};
  std::vector<Pass> passes;
  for (const Adam7Step& step : kAdam7)
    passes.push_back(Pass{step.x0, step.y0, step.dx, step.dy, Reach(header.width, step.x0, step.dx),
                          Reach(header.height, step.y0, step.dy)});
  return passes;
}

std::size_t RowBytes(const Header& header, std::uint32_t width) {
  return (static_cast<std::size_t>(width) * BitsPerPixel(header) + 7) / 8;
}

std::uint64_t ImageDataSize(const Header& header) {
  std::uint64_t total = 0;
  for (const Pass& pass : PassesOf(header)) {
    if (pass.width == 0 || pass.height == 0) continue;  // an empty pass has not even filter bytes
    total += std::uint64_t{pass.height} * (1 + RowBytes(header, pass.width));
  }
  return total;
}

bool Unfilter(std::uint8_t filterType, std::uint8_t* row, const std::uint8_t* previous, std::size_t length,
              std::size_t pixelBytes) {
  const std::size_t lead = pixelBytes < length ? pixelBytes : length;  // bytes without a left neighbour
  switch (filterType) {
    case 0: return true;
    case 1:
      for (std::size_t i = pixelBytes; i < length; ++i)
        row[i] = static_cast<std::uint8_t>(row[i] + row[i - pixelBytes]);
      return true;
    case 2:
      for (std::size_t i = 0; i < length; ++i) row[i] = static_cast<std::uint8_t>(row[i] + previous[i]);
      return true;
    case 3:
      for (std::size_t i = 0; i < lead; ++i) row[i] = static_cast<std::uint8_t>(row[i] + (previous[i] >> 1));
      for (std::size_t i = lead; i < length; ++i)
        row[i] = static_cast<std::uint8_t>(row[i] + ((row[i - pixelBytes] + previous[i]) >> 1));
      return true;
    case 4: UnfilterPaeth(row, previous, length, pixelBytes); return true;
    default: return false;
  }
}

}  // namespace imaging::png
