#include "records/RestorableValue.h"

#include <new>

#include "app/Text.h"
#include "imaging/Decoders.h"
#include "imaging/PhotoBitmap.h"
#include "records/PhotoBackup.h"

namespace photoimport {
namespace {

// Decoded whole by the tool's own decoder: a signature and a header alone would let a truncated or
// damaged file through.
bool Decodes(std::span<const std::uint8_t> value, bool (*decode)(std::span<const std::uint8_t>, imaging::WorkingImage&)) {
  try {
    imaging::WorkingImage picture;
    return decode(value, picture);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

std::string WhyNotRestorable(std::span<const std::uint8_t> value, std::string_view extension) {
  if (value.empty()) return "an empty file is no photo (restoring it would erase the reader's photo)";
  const std::string expected = app::LowerAscii(extension);
  const std::string_view content = PhotoFileExtension(value);
  if (content == ".bin") return "holds no picture the tool stores or reads back (neither BMP, JPEG nor PNG)";
  if (content != expected) return "holds a " + std::string(content.substr(1)) + " picture, not what its extension says";
  if (content == ".bmp" && !imaging::IsStoredBitmap(value)) return "is not a sound bitmap";
  if (content == ".jpg" && !Decodes(value, imaging::DecodeJpeg)) return "is a damaged JPEG";
  if (content == ".png" && !Decodes(value, imaging::DecodePng)) return "is a damaged PNG";
  return {};
}

}  // namespace photoimport
