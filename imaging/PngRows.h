// PNG scanlines: the reduced images of Adam7 interlacing and the five per-row filters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/PngChunks.h"

namespace imaging::png {

// One reduced image: its pixels sit at (x0 + i * dx, y0 + j * dy) of the full image.
struct Pass {
  std::uint32_t x0 = 0, y0 = 0, dx = 1, dy = 1;
  std::uint32_t width = 0, height = 0;  // 0 for a pass the image is too small to reach
};

// The passes in stream order: one for a plain image, seven for an interlaced one.
std::vector<Pass> PassesOf(const Header& header);

// Bytes of one scanline of the given width, without the filter-type byte.
std::size_t RowBytes(const Header& header, std::uint32_t width);

// Uncompressed size of all scanlines of all passes, filter-type bytes included.
std::uint64_t ImageDataSize(const Header& header);

// Undoes the filter named by filterType on row (length bytes) given the previous unfiltered row of the
// same pass (all zeros for its first row). pixelBytes: bytes per complete pixel, at least 1. False for
// an unknown filter type.
bool Unfilter(std::uint8_t filterType, std::uint8_t* row, const std::uint8_t* previous, std::size_t length,
              std::size_t pixelBytes);

}  // namespace imaging::png
