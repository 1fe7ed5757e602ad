#include "imaging/PngChunks.h"

#include <zlib.h>

#include <algorithm>

#include "imaging/Decoders.h"

namespace imaging::png {
namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFFu;

constexpr std::uint32_t ChunkType(const char (&name)[5]) {
  return (std::uint32_t{static_cast<std::uint8_t>(name[0])} << 24) |
         (std::uint32_t{static_cast<std::uint8_t>(name[1])} << 16) |
         (std::uint32_t{static_cast<std::uint8_t>(name[2])} << 8) | static_cast<std::uint8_t>(name[3]);
}

constexpr std::uint32_t kIHDR = ChunkType("IHDR");
constexpr std::uint32_t kPLTE = ChunkType("PLTE");
constexpr std::uint32_t kIDAT = ChunkType("IDAT");
constexpr std::uint32_t kIEND = ChunkType("IEND");
constexpr std::uint32_t kTRNS = ChunkType("tRNS");
constexpr std::uint32_t kGAMA = ChunkType("gAMA");

std::uint32_t ReadBigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::uint16_t ReadBigEndian16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

bool IsLetter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Bit 5 of the first type byte clear: a decoder that does not know the chunk must not show the image.
bool IsCritical(std::uint32_t type) { return (type & 0x20000000u) == 0; }

struct Chunk {
  std::uint32_t type = 0;
  std::span<const std::uint8_t> data;
};

// Walks the chunks after the signature; every length is checked against what is left of the file.
class ChunkReader {
 public:
  explicit ChunkReader(std::span<const std::uint8_t> rest) : rest_(rest) {}

  bool Next(Chunk& chunk) {
    if (rest_.size() < 12) return false;
    const std::uint32_t length = ReadBigEndian32(rest_.data());
    if (length > kMaxChunkLength || length > rest_.size() - 12) return false;
    const std::uint8_t* type = rest_.data() + 4;
    if (!std::all_of(type, type + 4, IsLetter)) return false;
    const auto crc = crc32(0, type, static_cast<uInt>(length + 4));
    if (crc != ReadBigEndian32(type + 4 + length)) return false;
    chunk.type = ReadBigEndian32(type);
    chunk.data = rest_.subspan(8, length);
    rest_ = rest_.subspan(12 + static_cast<std::size_t>(length));
    return true;
  }

 private:
  std::span<const std::uint8_t> rest_;
};

bool IsValidDepth(std::uint8_t colourType, std::uint8_t depth) {
  switch (colourType) {
    case kGray: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case kPalette: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case kRgb:
    case kGrayAlpha:
    case kRgba: return depth == 8 || depth == 16;
    default: return false;
  }
}

bool ParseHeader(std::span<const std::uint8_t> data, Header& header) {
  if (data.size() != 13) return false;
  header.width = ReadBigEndian32(&data[0]);
  header.height = ReadBigEndian32(&data[4]);
  header.bitDepth = data[8];
  header.colourType = data[9];
  const std::uint8_t compression = data[10], filter = data[11], interlace = data[12];
  header.interlaced = interlace == 1;
  const auto validSide = [](std::uint32_t side) { return side >= 1 && side <= kMaxImageSide; };
  return validSide(header.width) && validSide(header.height) &&
         IsValidDepth(header.colourType, header.bitDepth) && compression == 0 && filter == 0 &&
         interlace <= 1;
}

bool ParsePalette(std::span<const std::uint8_t> data, PngFile& png) {
  const Header& header = png.header;
  if (header.colourType == kGray || header.colourType == kGrayAlpha) return false;
  if (data.empty() || data.size() % 3 != 0 || data.size() / 3 > 256) return false;
  const std::size_t entries = data.size() / 3;
  if (header.colourType == kPalette && entries > (std::size_t{1} << header.bitDepth)) return false;
  png.palette.resize(entries);
  for (std::size_t i = 0; i < entries; ++i)
    png.palette[i] = PaletteEntry{data[3 * i], data[3 * i + 1], data[3 * i + 2]};
  return true;
}

// A transparency chunk whose size does not fit the colour type is damage; in images with an alpha
// channel the chunk has no meaning and is passed over.
bool ParseTransparency(std::span<const std::uint8_t> data, PngFile& png) {
  switch (png.header.colourType) {
    case kGray:
      if (data.size() != 2) return false;
      png.key[0] = ReadBigEndian16(&data[0]);
      png.hasKey = true;
      return true;
    case kRgb:
      if (data.size() != 6) return false;
      for (int i = 0; i < 3; ++i) png.key[i] = ReadBigEndian16(&data[2 * i]);
      png.hasKey = true;
      return true;
    case kPalette:
      if (png.palette.empty() || data.empty() || data.size() > png.palette.size()) return false;
      png.paletteAlpha.assign(data.begin(), data.end());
      return true;
    default: return true;
  }
}

// Order rules of the container: PLTE before the image data, at most once; the IDAT chunks in one run.
class ChunkSequence {
 public:
  explicit ChunkSequence(PngFile& png) : png_(png) {}

  bool Take(const Chunk& chunk) {
    if (chunk.type == kIDAT) return TakeImageData(chunk.data);
    if (!png_.imageData.empty()) imageDataClosed_ = true;
    switch (chunk.type) {
      case kIHDR: return false;
      case kPLTE: return TakePalette(chunk.data);
      case kTRNS: return TakeTransparency(chunk.data);
      case kGAMA: return TakeGamma(chunk.data);
      case kIEND: ended_ = true; return chunk.data.empty();
      default: return !IsCritical(chunk.type);
    }
  }

  // True once IEND closed a complete image.
  bool Complete() const {
    return ended_ && !png_.imageData.empty() && (png_.header.colourType != kPalette || !png_.palette.empty());
  }
  bool Ended() const { return ended_; }

 private:
  bool TakeImageData(std::span<const std::uint8_t> data) {
    if (imageDataClosed_) return false;
    if (png_.header.colourType == kPalette && png_.palette.empty()) return false;
    png_.imageData.push_back(data);
    return true;
  }

  bool TakePalette(std::span<const std::uint8_t> data) {
    if (!png_.palette.empty() || !png_.imageData.empty()) return false;
    return ParsePalette(data, png_);
  }

  // Transparency and gamma only count before the image data (gamma also before PLTE) and only once;
  // misplaced or repeated copies are passed over, as other readers do.
  bool TakeTransparency(std::span<const std::uint8_t> data) {
    if (seenTransparency_ || !png_.imageData.empty()) return true;
    seenTransparency_ = true;
    return ParseTransparency(data, png_);
  }

  bool TakeGamma(std::span<const std::uint8_t> data) {
    if (data.size() != 4) return false;
    if (seenGamma_ || !png_.palette.empty() || !png_.imageData.empty()) return true;
    seenGamma_ = true;
    png_.gamma = ReadBigEndian32(data.data());
    return true;
  }

  PngFile& png_;
  bool imageDataClosed_ = false;
  bool seenTransparency_ = false;
  bool seenGamma_ = false;
  bool ended_ = false;
};

}  // namespace

int SamplesPerPixel(std::uint8_t colourType) {
  switch (colourType) {
    case kRgb: return 3;
    case kGrayAlpha: return 2;
    case kRgba: return 4;
    default: return 1;
  }
}

int BitsPerPixel(const Header& header) { return SamplesPerPixel(header.colourType) * header.bitDepth; }

bool ParsePng(std::span<const std::uint8_t> file, PngFile& png) {
  if (file.size() < kSignature.size() || !std::equal(kSignature.begin(), kSignature.end(), file.begin()))
    return false;
  ChunkReader reader(file.subspan(kSignature.size()));
  Chunk chunk;
  if (!reader.Next(chunk) || chunk.type != kIHDR || !ParseHeader(chunk.data, png.header)) return false;
  ChunkSequence sequence(png);
  while (!sequence.Ended()) {
    if (!reader.Next(chunk) || !sequence.Take(chunk)) return false;
  }
  return sequence.Complete();
}

}  // namespace imaging::png
