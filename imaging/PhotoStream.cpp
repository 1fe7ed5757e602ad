// Photo normalization: decode, crop a landscape picture to its central square, fit into 110 x 120,
// area-average, reduce to 5-6-5 and write the stored photo format.
#include "imaging/PhotoStream.h"

#include <filesystem>
#include <system_error>

#include "imaging/PhotoBitmap.h"
#include "imaging/PictureDecoding.h"
#include "imaging/Resample.h"

namespace imaging {
namespace {

// The part of the decoded picture that is normalized: all of it, or the central square of a landscape
// picture (H x H from column (W - H) div 2), read in place instead of copied.
struct Crop {
  int left;
  int width;
  int height;
};

Crop CentralSquare(int width, int height) {
  if (height < width) return {(width - height) / 2, height, height};
  return {0, width, height};
}

struct Size {
  int width;
  int height;
};

// Integer fit into the 110 x 120 box; a picture that already fits keeps its size.
Size FitToPhoto(int width, int height) {
  if (width <= kPhotoMaxWidth && height <= kPhotoMaxHeight) return {width, height};
  const long long w = width, h = height;
  if (12 * w <= 11 * h) return {static_cast<int>(w * kPhotoMaxHeight / h), kPhotoMaxHeight};
  return {kPhotoMaxWidth, static_cast<int>(h * kPhotoMaxWidth / w)};
}

bool IsExistingFile(const std::string& fileName) {
  std::error_code error;
  return std::filesystem::is_regular_file(fileName, error);
}

void CopyCrop(const WorkingImage& picture, const Crop& crop, WorkingImage& target) {
  for (int y = 0; y < crop.height; ++y) {
    const std::uint32_t* row = picture.Row(y) + crop.left;
    std::copy(row, row + crop.width, target.Row(y));
  }
}

// Crop, fit and resample a decoded picture into `target`. False when the fitted size is empty.
bool ShrinkPicture(const WorkingImage& picture, WorkingImage& target) {
  const Crop crop = CentralSquare(picture.Width(), picture.Height());
  const Size size = FitToPhoto(crop.width, crop.height);
  if (size.width <= 0 || size.height <= 0) return false;
  target.SetSize(size.width, size.height);
  if (size.width == crop.width && size.height == crop.height) {
    CopyCrop(picture, crop, target);
    return true;
  }
  StreamingResampler resampler(crop.width, crop.height, target);
  for (int y = 0; y < crop.height; ++y) resampler.AddRow(picture.Row(y) + crop.left);
  return true;
}

bool NormalizeFile(const std::string& fileName, WorkingImage& target) {
  std::vector<std::uint8_t> file;
  if (!ReadPictureFile(fileName, file)) return false;
  WorkingImage picture;
  if (!DecodePicture(file, PictureKindOf(fileName), picture)) return false;
  file = {};
  return ShrinkPicture(picture, target);
}

}  // namespace

bool MakePhotoStream(const std::string& fileName, MemoryStream& stream) {
  try {
    if (!IsExistingFile(fileName)) return false;
    WorkingImage target;
    if (!NormalizeFile(fileName, target)) return false;
    stream.Clear();
    WriteStoredPhoto(target, stream.bytes);
    stream.position = 0;
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace imaging
