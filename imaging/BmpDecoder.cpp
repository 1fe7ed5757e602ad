// The BMP decoder: header, then uncompressed rows or run-length data, onto a new white working image.
// Every pixel is opaque: alpha masks and unused bits are ignored.
#include <new>

#include "imaging/BmpFormat.h"
#include "imaging/Decoders.h"

namespace imaging {
namespace bmp {

Failure DecodeBmpDetailed(std::span<const std::uint8_t> file, WorkingImage& image) {
  Header header;
  if (Failure f = ParseHeader(file, header); f != Failure::kNone) return f;
  try {
    WorkingImage decoded;
    const bool runLength = header.encoding == Encoding::kRle8 || header.encoding == Encoding::kRle4 ||
                           header.encoding == Encoding::kRle24;
    const Failure f = runLength ? DecodeRle(file, header, decoded) : DecodeRows(file, header, decoded);
    if (f != Failure::kNone) return f;
    image = std::move(decoded);
    return Failure::kNone;
  } catch (const std::bad_alloc&) {
    return Failure::kImageTooLarge;
  }
}

}  // namespace bmp

bool DecodeBmp(std::span<const std::uint8_t> file, WorkingImage& image) {
  return bmp::DecodeBmpDetailed(file, image) == bmp::Failure::kNone;
}

}  // namespace imaging
