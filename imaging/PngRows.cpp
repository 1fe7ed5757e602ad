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

std::uint8_t Paeth(int left, int up, int upLeft) {
  const int estimate = left + up - upLeft;
  const int toLeft = std::abs(estimate - left);
  const int toUp = std::abs(estimate - up);
  const int toUpLeft = std::abs(estimate - upLeft);
  if (toLeft <= toUp && toLeft <= toUpLeft) return static_cast<std::uint8_t>(left);
  return static_cast<std::uint8_t>(toUp <= toUpLeft ? up : upLeft);
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
      for (std::size_t i = pixelBytes; i < length; ++i) row[i] = static_cast<std::uint8_t>(row[i] + row[i - pixelBytes]);
      return true;
    case 2:
      for (std::size_t i = 0; i < length; ++i) row[i] = static_cast<std::uint8_t>(row[i] + previous[i]);
      return true;
    case 3:
      for (std::size_t i = 0; i < lead; ++i) row[i] = static_cast<std::uint8_t>(row[i] + (previous[i] >> 1));
      for (std::size_t i = lead; i < length; ++i)
        row[i] = static_cast<std::uint8_t>(row[i] + ((row[i - pixelBytes] + previous[i]) >> 1));
      return true;
    case 4:
      for (std::size_t i = 0; i < lead; ++i) row[i] = static_cast<std::uint8_t>(row[i] + previous[i]);
      for (std::size_t i = lead; i < length; ++i)
        row[i] = static_cast<std::uint8_t>(
            row[i] + Paeth(row[i - pixelBytes], previous[i], previous[i - pixelBytes]));
      return true;
    default: return false;
  }
}

}  // namespace imaging::png
