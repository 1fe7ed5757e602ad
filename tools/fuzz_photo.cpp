// libFuzzer target: the whole normalization (decoder choice, PNG retry, streamed JPEG rows on the second
// thread, crop, fit, resampling, the stored format) on arbitrary file contents. The first byte picks the
// file's extension, the rest is the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "imaging/PhotoBitmap.h"
#include "imaging/PhotoStream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const char* const kExtensions[] = {".jpg", ".png", ".bmp", ".gif"};
  static const std::string stem = "/dev/shm/fuzz-photo-" + std::to_string(::getpid());
  const std::string path = stem + kExtensions[data[0] % 4];
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data + 1, 1, size - 1, file);
  std::fclose(file);
  imaging::MemoryStream stream;
  if (imaging::MakePhotoStream(path, stream)) {
    // A photo that was made is a complete stored value.
    if (!imaging::IsStoredBitmap(stream.bytes) || stream.position != 0) __builtin_trap();
  }
  std::remove(path.c_str());
  return 0;
}
