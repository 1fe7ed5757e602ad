// The PNG container: signature, chunks with their CRCs, and the header, palette, transparency and gamma
// chunks the decoder uses. Parsing never reads outside the file and keeps the image data as views into it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace imaging::png {

enum ColourType : std::uint8_t { kGray = 0, kRgb = 2, kPalette = 3, kGrayAlpha = 4, kRgba = 6 };

struct Header {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t bitDepth = 0;
  std::uint8_t colourType = 0;
  bool interlaced = false;
};

struct PaletteEntry {
  std::uint8_t red = 0, green = 0, blue = 0;
};

struct PngFile {
  Header header;
  std::vector<PaletteEntry> palette;       // PLTE, empty when absent
  std::vector<std::uint8_t> paletteAlpha;  // tRNS of a palette image: alpha of the first entries
  bool hasKey = false;                     // tRNS of a gray or truecolour image
  std::array<std::uint16_t, 3> key{};      // gray in [0]; red, green, blue for truecolour
  std::uint32_t gamma = 0;                 // gAMA value times 100000; 0 when absent
  std::vector<std::span<const std::uint8_t>> imageData;  // the IDAT chunks' data, in order
};

// Samples per pixel of a valid colour type.
int SamplesPerPixel(std::uint8_t colourType);

// Bits per pixel of a valid header.
int BitsPerPixel(const Header& header);

// Reads the whole container up to IEND. False for a bad signature, a chunk that does not fit the file, a
// CRC mismatch, a missing or invalid IHDR, misplaced or invalid critical chunks, an unknown critical chunk,
// invalid tRNS or gAMA data, no image data, or a missing IEND.
bool ParsePng(std::span<const std::uint8_t> file, PngFile& png);

}  // namespace imaging::png
