// Inner parts of the BMP decoder: the parsed headers, the named reasons a file is refused, and the two
// pixel-data readers (uncompressed rows and run-length encoding). DecodeBmp (Decoders.h) is the only entry
// point the rest of the program uses; the detailed form here lets tests see why a file was refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imaging/WorkingImage.h"

namespace imaging::bmp {

enum class Failure {
  kNone,
  kTooShort,                // shorter than the file header plus the info header's size field
  kNotBmp,                  // no "BM" signature
  kUnknownHeaderSize,       // an info header size no known bitmap version uses
  kTruncatedHeader,         // the file ends inside the info header or its colour masks
  kBadPlanes,               // planes other than 1
  kBadWidth,                // 0, negative or above kMaxImageSide
  kBadHeight,               // 0 or above kMaxImageSide after the sign
  kUnsupportedBitCount,     // a bit count no bitmap version defines (0, 3, 64, ...)
  kUnsupportedCompression,  // embedded JPEG or PNG, Huffman 1D, or an unknown code
  kCompressionMismatch,     // a compression the bit count cannot carry (RLE8 at 4 bits, bit fields at 8)
  kTopDownRle,              // run-length data with a negative height
  kBadMasks,                // a colour mask that is not one run of bits or lies beyond the bit count
  kPaletteBeyondFile,       // a colours-used count above 2^bits that the file cannot hold
  kBadPixelOffset,          // the pixel data offset points into the headers or past the end
  kTruncatedPixels,         // uncompressed rows that do not fit in the file
  kTruncatedRle,            // run-length data that ends before the picture is complete
  kImageTooLarge,           // more than kMaxImagePixels, or memory refused
};

// A short fixed name for each failure, for test messages.
const char* FailureName(Failure failure);

// Pixel layout in the file.
enum class Encoding { kRgb, kRle8, kRle4, kRle24, kBitFields };

// One colour channel of a 16- or 32-bit pixel: (pixel & mask) >> shift gives 0..max.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;  // 0 when the mask is empty: the channel reads as 0
};

struct Header {
  int width = 0;
  int height = 0;         // always positive; topDown carries the sign
  bool topDown = false;
  int bitCount = 0;
  Encoding encoding = Encoding::kRgb;
  Channel red, green, blue;          // for 16 and 32 bits per pixel
  std::vector<std::uint32_t> palette;  // packed colours, 2^bitCount entries for bit counts up to 8
  std::size_t pixelOffset = 0;       // start of the pixel data in the file
};

// Reads and checks the file header, the info header, the colour masks and the palette. A picture above
// kMaxImagePixels (Decoders.h) is refused here, before anything is allocated for it, whatever its encoding.
Failure ParseHeader(std::span<const std::uint8_t> file, Header& header);

// Paints uncompressed rows (any bit count, palette or bit fields) onto a white image of the header's size.
Failure DecodeRows(std::span<const std::uint8_t> file, const Header& header, WorkingImage& image);

// Paints RLE8, RLE4 or RLE24 data onto a white image of the header's size; pixels the data skips stay white.
Failure DecodeRle(std::span<const std::uint8_t> file, const Header& header, WorkingImage& image);

// DecodeBmp with the reason for a refusal. The image is replaced only on success.
Failure DecodeBmpDetailed(std::span<const std::uint8_t> file, WorkingImage& image);

inline std::uint32_t ReadU16(const std::uint8_t* p) { return p[0] | (std::uint32_t{p[1]} << 8); }
inline std::uint32_t ReadU32(const std::uint8_t* p) {
  return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

}  // namespace imaging::bmp
