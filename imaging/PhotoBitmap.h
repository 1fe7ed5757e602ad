// The stored photo format: a 16-bit BMP file (RGB 5-6-5 bit fields, rows bottom-up, no colour table),
// the value kept in lib_people.pe_photo. Colour reduction from the working image, the writer, and a check
// that a value already stored is a bitmap the tool can replace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imaging/WorkingImage.h"

namespace imaging {

// Size of the file header, information header and the three bit-field masks: where the pixels start.
inline constexpr std::size_t kStoredPhotoHeaderSize = 66;

// 32-bit working pixel to 16-bit photo pixel: the low bits of each channel are dropped (no rounding, no
// dithering); red in bits 11-15, green in bits 5-10, blue in bits 0-4.
inline constexpr std::uint16_t ReduceTo565(std::uint32_t pixel) {
  const std::uint32_t red5 = ((pixel >> 16) & 0xFFu) >> 3;
  const std::uint32_t green6 = ((pixel >> 8) & 0xFFu) >> 2;
  const std::uint32_t blue5 = (pixel & 0xFFu) >> 3;
  return static_cast<std::uint16_t>(red5 * 2048 + green6 * 32 + blue5);
}

// Bytes per stored row: width x 2 rounded up to a multiple of 4.
inline constexpr std::size_t StoredPhotoStride(int width) {
  return (static_cast<std::size_t>(width) + 1) / 2 * 4;
}

inline constexpr std::size_t StoredPhotoSize(int width, int height) {
  return kStoredPhotoHeaderSize + StoredPhotoStride(width) * static_cast<std::size_t>(height);
}

// Replaces `out` with the stored photo value of `image`, every pixel reduced to 5-6-5.
void WriteStoredPhoto(const WorkingImage& image, std::vector<std::uint8_t>& out);

// True when a stored value holds a BMP file, either bare or behind the 8-byte blob header that some
// database front ends put before a picture (16-bit 1, 16-bit 0x0100, 32-bit length of the rest; a header
// whose fields do not match exactly is not one, and the value is read from its first byte). A BMP file here
// begins with "BM" and carries a complete file header and a known information header. An empty value is
// not a bitmap; callers that accept "no photo yet" test for emptiness themselves.
bool IsStoredBitmap(std::span<const std::uint8_t> value);

// The BMP file inside a stored value (without the blob header when it has one); empty when the value is
// not a bitmap by IsStoredBitmap.
std::span<const std::uint8_t> StoredBitmapFile(std::span<const std::uint8_t> value);

}  // namespace imaging
