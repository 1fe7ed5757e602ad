// The 32-bit working image used for decoding and resampling: one little-endian word per pixel,
// blue in bits 0-7, green in bits 8-15, red in bits 16-23; bits 24-31 carry nothing.
#pragma once

#include <cstdint>
#include <vector>

namespace imaging {

inline constexpr std::uint32_t kWhite = 0x00FFFFFFu;

inline constexpr std::uint32_t PackRgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return (r << 16) | (g << 8) | b;
}

class WorkingImage {
 public:
  WorkingImage() = default;
  WorkingImage(int width, int height) { SetSize(width, height); }

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }

  // Changes the size, keeping the old pixels at the top-left corner; new pixels are white.
  void SetSize(int width, int height);

  std::uint32_t* Row(int y) { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
  const std::uint32_t* Row(int y) const { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
  std::uint32_t& At(int x, int y) { return Row(y)[x]; }
  std::uint32_t At(int x, int y) const { return Row(y)[x]; }
  std::vector<std::uint32_t>& Pixels() { return pixels_; }
  const std::vector<std::uint32_t>& Pixels() const { return pixels_; }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint32_t> pixels_;  // rows top to bottom
};

}  // namespace imaging
