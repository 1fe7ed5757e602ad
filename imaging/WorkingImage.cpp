#include "imaging/WorkingImage.h"

#include <algorithm>
#include <stdexcept>

namespace imaging {

void WorkingImage::SetSize(int width, int height) {
  if (width < 0 || height < 0) throw std::invalid_argument("negative image size");
  if (width == width_ && height == height_) return;
  std::vector<std::uint32_t> resized(static_cast<std::size_t>(width) * height, kWhite);
  const int keepW = std::min(width, width_);
  const int keepH = std::min(height, height_);
  for (int y = 0; y < keepH; ++y)
    std::copy_n(Row(y), keepW, resized.data() + static_cast<std::size_t>(y) * width);
  pixels_.swap(resized);
  width_ = width;
  height_ = height;
}

}  // namespace imaging
