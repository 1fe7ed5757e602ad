// A look at a picture file's first bytes, without decoding it: which of the formats the program reads it
// is, and how many pixels its header claims. Used to say why a file that did not decode was refused.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace imaging {

enum class PictureFormat { Jpeg, Png, Bmp, Other };

// By the signature at the start of the file, whatever its name.
PictureFormat SniffFormat(std::span<const std::uint8_t> file);

// Width times height as the header says (the first frame header of a JPEG, IHDR of a PNG, the info header
// of a BMP); std::nullopt when no size can be read.
std::optional<std::uint64_t> ClaimedPixels(std::span<const std::uint8_t> file);

}  // namespace imaging
