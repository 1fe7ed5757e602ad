// Reading a photo file whole into memory, safely: a file far larger than any photo is refused before it
// is read, and a file that changes while it is read is refused instead of giving a mix of two versions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imaging/Decoders.h"

namespace imaging {

// Largest file read: the working image of the largest picture accepted (64 megapixels at 4 bytes) plus
// 1 MiB of headers and metadata (EXIF, colour profiles, PNG text). Every format a camera picture of that
// size comes in stays below it: a 64-megapixel photo (9248 x 6936) is about 17 MiB as a JPEG of quality
// 95, about 94 MiB even at quality 100 without chroma subsampling with sensor noise, about 98 MiB as a PNG,
// 184 MiB as a 24-bit BMP and 245 MiB as a 32-bit BMP. So the limit refuses no picture the decoders
// accept, and the file never takes more memory than the picture it holds would.
inline constexpr std::uint64_t kMaxPhotoFileBytes = 4 * kMaxImagePixels + (std::uint64_t{1} << 20);

enum class PhotoFileRead {
  Read,        // bytes hold the whole file
  Missing,     // nothing at the path, or not a regular file
  Unreadable,  // the file cannot be opened or read (permissions, I/O error)
  TooLarge,    // larger than kMaxPhotoFileBytes; nothing was read
  Changed,     // written to, grown, shrunk or replaced while it was read
};

// Reads the regular file at path (as the file system takes it) into bytes. The size is taken from the
// open file and checked before reading; after reading, the file must be the same file of the same size,
// modification time and change time as before, and the path must still name it.
PhotoFileRead ReadPhotoFile(const std::string& path, std::vector<std::uint8_t>& bytes);

// Tests only: called with the path after a file's bytes have been read and before the file is checked
// again, to change the file at the one moment that matters. Empty by default.
void SetPhotoFileReadHookForTesting(std::function<void(const std::string& path)> hook);

}  // namespace imaging
