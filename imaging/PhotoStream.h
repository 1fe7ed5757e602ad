// Photo normalization: a photo file becomes the stored photo value, a 16-bit (RGB 5-6-5) BMP file of at
// most 110 x 120 pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/WorkingImage.h"

namespace imaging {

// An in-memory byte stream.
struct MemoryStream {
  std::vector<std::uint8_t> bytes;
  std::size_t position = 0;
  void Clear() { bytes.clear(); position = 0; }
};

inline constexpr int kPhotoMaxWidth = 110;
inline constexpr int kPhotoMaxHeight = 120;

// Where the rows of a large JPEG photo (12 megapixels and more) are decoded. Split: on a second thread
// while the calling thread resamples them, so that one photo is done a little sooner (card-photo
// normalize). CallingThread: both on the calling thread, which costs less processor time per photo (no
// thread waits for the other) and is what a pool normalizing several photos at once wants. The stored
// value is the same either way.
enum class PhotoThreads { Split, CallingThread };

// True: the stream holds exactly one photo in the stored format, positioned at 0. False: the file is
// missing or cannot be used (the stream is untouched then). Never throws.
bool MakePhotoStream(const std::string& fileName, MemoryStream& stream, PhotoThreads threads = PhotoThreads::Split);

// Why a file did not become a photo.
enum class PhotoFailure {
  None,
  MissingFile,        // nothing at the path, or not a regular file
  UnreadableFile,     // the file cannot be opened or read
  FileTooLarge,       // larger than any photo (kMaxPhotoFileBytes): not read
  FileChanged,        // the file changed while it was read
  UnsupportedFormat,  // the bytes are no JPEG, PNG or BMP file
  PictureTooLarge,    // the picture has more than kMaxImagePixels
  DamagedPicture,     // a JPEG, PNG or BMP file that cannot be decoded, or a picture too thin to fit
};

// MakePhotoStream with the reason for a failure; the same photo on success.
PhotoFailure MakePhotoStreamDetailed(const std::string& fileName, MemoryStream& stream,
                                     PhotoThreads threads = PhotoThreads::Split);

// As MakePhotoStreamDetailed, for a file already read (from an archive): the same photo for the same bytes.
// fileName gives the format the bytes are tried as first, as the path does.
PhotoFailure MakePhotoStreamFromBytes(const std::string& fileName, std::vector<std::uint8_t> file,
                                      MemoryStream& stream, PhotoThreads threads = PhotoThreads::Split);

// Area-averaging resampler, bit-exact in single precision. The destination already has its final size.
void ResampleBitmap(const WorkingImage& source, WorkingImage& destination);

// Integer part of x plus 1 when x has a fractional part above 0.
int CeilPositive(float x);

}  // namespace imaging
