// Uncompressed BMP pixel data: rows padded to four bytes, bottom-up unless the height was negative.
#include "imaging/BmpFormat.h"

namespace imaging::bmp {
namespace {

// A field of max+1 levels spreads over 0..255 as v * 255 / max, rounded to nearest, so that the
// brightest level is full white (a 5-bit 31 is 255, not 248).
std::uint32_t ScaleChannel(std::uint32_t pixel, const Channel& channel) {
  if (channel.max == 0) return 0;
  const std::uint64_t value = (pixel & channel.mask) >> channel.shift;
  if (channel.max == 255) return static_cast<std::uint32_t>(value);
  const std::uint64_t max = channel.max;
  return static_cast<std::uint32_t>((value * 510 + max) / (2 * max));
}

std::uint32_t MaskedColour(std::uint32_t pixel, const Header& header) {
  return PackRgb(ScaleChannel(pixel, header.red), ScaleChannel(pixel, header.green),
                 ScaleChannel(pixel, header.blue));
}

// Palette indices, packed from the most significant bit of each byte.
void PaintIndexedRow(const std::uint8_t* source, const Header& header, std::uint32_t* row) {
  const int bits = header.bitCount;
  const unsigned indexMask = (1u << bits) - 1;
  for (int x = 0; x < header.width; ++x) {
    const std::size_t bit = static_cast<std::size_t>(x) * bits;
    const unsigned index = (source[bit / 8] >> (8 - bits - bit % 8)) & indexMask;
    row[x] = header.palette[index];  // the palette always has 2^bits entries
  }
}

void PaintRow(const std::uint8_t* source, const Header& header, std::uint32_t* row) {
  switch (header.bitCount) {
    case 16:
      for (int x = 0; x < header.width; ++x) row[x] = MaskedColour(ReadU16(source + 2 * x), header);
      break;
    case 24:
      for (int x = 0; x < header.width; ++x, source += 3) row[x] = PackRgb(source[2], source[1], source[0]);
      break;
    case 32:
      for (int x = 0; x < header.width; ++x) row[x] = MaskedColour(ReadU32(source + 4 * x), header);
      break;
    default:
      PaintIndexedRow(source, header, row);
      break;
  }
}

}  // namespace

Failure DecodeRows(std::span<const std::uint8_t> file, const Header& header, WorkingImage& image) {
  const std::uint64_t rowBits = static_cast<std::uint64_t>(header.width) * header.bitCount;
  const std::uint64_t stride = (rowBits + 31) / 32 * 4;
  const std::uint64_t rowBytes = (rowBits + 7) / 8;
  // The last row may lack its padding: some writers stop at the last pixel byte.
  const std::uint64_t needed = (static_cast<std::uint64_t>(header.height) - 1) * stride + rowBytes;
  if (needed > file.size() - header.pixelOffset) return Failure::kTruncatedPixels;

  image.SetSize(header.width, header.height);
  const std::uint8_t* pixels = file.data() + header.pixelOffset;
  for (int fileRow = 0; fileRow < header.height; ++fileRow) {
    const int y = header.topDown ? fileRow : header.height - 1 - fileRow;
    PaintRow(pixels + fileRow * stride, header, image.Row(y));
  }
  return Failure::kNone;
}

}  // namespace imaging::bmp
