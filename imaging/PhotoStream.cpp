// Photo normalization: decode, crop a landscape picture to its central square, fit into 110 x 120,
// area-average, reduce to 5-6-5 and write the stored photo format.
#include "imaging/PhotoStream.h"

#include <algorithm>
#include <new>
#include <optional>
#include <span>

#include "app/FilePath.h"
#include "imaging/ExifOrientation.h"
#include "imaging/JpegDecoder.h"
#include "imaging/JpegRowPipeline.h"
#include "imaging/PhotoBitmap.h"
#include "imaging/PhotoFile.h"
#include "imaging/PictureDecoding.h"
#include "imaging/PictureProbe.h"
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

// A photo is split over two threads (PhotoThreads::Split) from this many pixels on. The second thread can
// save at most the resampling, a tenth of a large photo's time, and handing rows over costs about as much:
// with the second core idle, bench-normalize measured the split at 1.15 x the wall time of the calling
// thread alone for 358 x 441, 1.08 x for 1200 x 1600 and 0.99 x for 3024 x 4032; with that core partly
// busy, at 1.17 to 1.28 x for 12 and 48 megapixels.
constexpr long long kSplitFromPixels = 12'000'000;

// A decoded row's pixels for a working image: the decoder's rows leave bits 24-31 unspecified.
void CopyChannels(const std::uint32_t* from, int count, std::uint32_t* to) {
  constexpr std::uint32_t kChannelBits = 0x00FFFFFFu;
  std::transform(from, from + count, to, [](std::uint32_t pixel) { return pixel & kChannelBits; });
}

// The JPEG path for photos that need shrinking: rows go from the decoder straight into the resampler
// (a landscape picture's crop is a column offset), so the full picture is never held; with
// PhotoThreads::Split a large photo is decoded on a second thread meanwhile. A picture stored turned (EXIF
// orientation) is turned upright whole first. False when the data is not a usable JPEG.
bool ShrinkJpeg(std::span<const std::uint8_t> file, PhotoThreads threads, WorkingImage& target, bool& tooThin) {
  JpegScanlineReader reader;
  if (!reader.Open(file)) return false;
  const int width = reader.Width();
  const int height = reader.Height();
  const bool split = threads == PhotoThreads::Split && static_cast<long long>(width) * height >= kSplitFromPixels;
  const auto feedRows = split ? PipeJpegRows : ReadJpegRows;
  // Read before the rows: the decoding thread works on the reader while the callback runs.
  const int orientation = reader.Orientation();
  if (orientation != kOrientationUpright) {
    WorkingImage picture(UprightWidth(width, height, orientation), UprightHeight(width, height, orientation));
    std::vector<std::uint32_t> channels(static_cast<std::size_t>(width));
    int y = 0;
    const bool whole = feedRows(reader, [&](const std::uint32_t* row) {
      CopyChannels(row, width, channels.data());
      PlaceStoredRow(channels.data(), y++, width, height, orientation, picture);
    });
    tooThin = whole && !ShrinkPicture(picture, target);
    return whole && !tooThin;
  }
  const Crop crop = CentralSquare(width, height);
  const Size size = FitToPhoto(crop.width, crop.height);
  tooThin = size.width <= 0 || size.height <= 0;
  if (tooThin) return false;
  target.SetSize(size.width, size.height);
  if (size.width == crop.width && size.height == crop.height) {
    int y = 0;
    return feedRows(reader, [&](const std::uint32_t* row) { CopyChannels(row + crop.left, crop.width, target.Row(y++)); });
  }
  StreamingResampler resampler(crop.width, crop.height, target);
  return feedRows(reader, [&](const std::uint32_t* row) { resampler.AddRow(row + crop.left); });
}

PhotoFailure ReadWholeFile(const std::string& fileName, std::vector<std::uint8_t>& file) {
  if (!LongEnoughName(fileName)) return PhotoFailure::DamagedPicture;
  switch (ReadPhotoFile(fileName, file)) {
    case PhotoFileRead::Read: return PhotoFailure::None;
    case PhotoFileRead::Missing: return PhotoFailure::MissingFile;
    case PhotoFileRead::Unreadable: return PhotoFailure::UnreadableFile;
    case PhotoFileRead::TooLarge: return PhotoFailure::FileTooLarge;
    case PhotoFileRead::Changed: return PhotoFailure::FileChanged;
  }
  return PhotoFailure::UnreadableFile;
}

// Why bytes that no decoder took were refused: not a format the program reads, a picture above the pixel
// limit, or a damaged file.
PhotoFailure WhyUndecodable(std::span<const std::uint8_t> file) {
  if (SniffFormat(file) == PictureFormat::Other) return PhotoFailure::UnsupportedFormat;
  const std::optional<std::uint64_t> pixels = ClaimedPixels(file);
  if (pixels && *pixels > kMaxImagePixels) return PhotoFailure::PictureTooLarge;
  return PhotoFailure::DamagedPicture;
}

PhotoFailure NormalizeBytes(const std::string& fileName, std::vector<std::uint8_t>& file, PhotoThreads threads,
                            WorkingImage& target) {
  if (!LongEnoughName(fileName)) return PhotoFailure::DamagedPicture;
  const PictureKind kind = PictureKindOf(fileName);
  WorkingImage picture;
  if (kind == PictureKind::Jpeg) {
    bool tooThin = false;
    if (ShrinkJpeg(file, threads, target, tooThin)) return PhotoFailure::None;
    // A thin JPEG decoded well and failed the fit; anything else gets the PNG try like any picture.
    if (tooThin) return PhotoFailure::DamagedPicture;
    if (!DecodePngFallback(file, picture)) return WhyUndecodable(file);
  } else if (!DecodePicture(file, kind, picture)) {
    return WhyUndecodable(file);
  }
  file = {};
  return ShrinkPicture(picture, target) ? PhotoFailure::None : PhotoFailure::DamagedPicture;
}

PhotoFailure NormalizeFile(const std::string& fileName, PhotoThreads threads, WorkingImage& target) {
  std::vector<std::uint8_t> file;
  if (const PhotoFailure failure = ReadWholeFile(fileName, file); failure != PhotoFailure::None) return failure;
  return NormalizeBytes(fileName, file, threads, target);
}

// The stored photo of what `normalize` makes into the target, or why there is none.
template <typename Normalize>
PhotoFailure MakeStream(MemoryStream& stream, Normalize normalize) {
  try {
    WorkingImage target;
    if (const PhotoFailure failure = normalize(target); failure != PhotoFailure::None) return failure;
    stream.Clear();
    WriteStoredPhoto(target, stream.bytes);
    stream.position = 0;
    return PhotoFailure::None;
  } catch (const std::bad_alloc&) {
    return PhotoFailure::PictureTooLarge;
  } catch (...) {
    return PhotoFailure::DamagedPicture;
  }
}

}  // namespace

PhotoFailure MakePhotoStreamDetailed(const std::string& fileName, MemoryStream& stream, PhotoThreads threads) {
  return MakeStream(stream, [&](WorkingImage& target) { return NormalizeFile(fileName, threads, target); });
}

PhotoFailure MakePhotoStreamFromBytes(const std::string& fileName, std::vector<std::uint8_t> file,
                                      MemoryStream& stream, PhotoThreads threads) {
  if (file.size() > kMaxPhotoFileBytes) return PhotoFailure::FileTooLarge;
  return MakeStream(stream, [&](WorkingImage& target) { return NormalizeBytes(fileName, file, threads, target); });
}

bool MakePhotoStream(const std::string& fileName, MemoryStream& stream, PhotoThreads threads) {
  return MakePhotoStreamDetailed(fileName, stream, threads) == PhotoFailure::None;
}

}  // namespace imaging
