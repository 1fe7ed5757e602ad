// What a restore may write back as a reader's photo: only a value the tool itself stores or reads back,
// never whatever a file holds. A file named ".bmp" that holds text, a README named ".jpg" or an empty file
// must never become (or erase) a reader's photo.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace photoimport {

// Why the bytes of a backup file with this extension (".bmp", any letter case, ...) cannot be written back
// as a photo; empty when they can. Accepted: a sound bitmap (imaging::IsStoredBitmap: bare, or behind the
// 8-byte blob header) in a ".bmp" file; a JPEG in a ".jpg" and a PNG in a ".png" file that the tool's own
// decoders read whole (a JPEG or PNG photo another program stored, as an export writes it). The content
// must be what the extension says (an export names each file by its content); ".bin" (a value of no known
// picture format) is never written back.
std::string WhyNotRestorable(std::span<const std::uint8_t> value, std::string_view extension);

}  // namespace photoimport
