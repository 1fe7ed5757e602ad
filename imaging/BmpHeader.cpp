// Reading the BMP headers: the 14-byte file header, then one of the info header versions: OS/2 1.x (12
// bytes, 16-bit sizes, three-byte palette entries), OS/2 2.x (16 or 64 bytes), Windows 3.x (40), its
// V2/V3 extensions with colour masks (52/56), V4 (108) and V5 (124).
#include <algorithm>
#include <bit>

#include "imaging/BmpFormat.h"
#include "imaging/Decoders.h"

namespace imaging::bmp {
namespace {

constexpr std::size_t kFileHeaderSize = 14;

// Info header sizes.
constexpr std::uint32_t kCoreHeader = 12;   // OS/2 1.x, BITMAPCOREHEADER
constexpr std::uint32_t kOs2Short = 16;     // OS/2 2.x, only the fields up to the bit count
constexpr std::uint32_t kInfoHeader = 40;   // BITMAPINFOHEADER
constexpr std::uint32_t kV2Header = 52;     // adds the red, green and blue masks
constexpr std::uint32_t kV3Header = 56;     // adds the alpha mask
constexpr std::uint32_t kOs2Full = 64;      // OS/2 2.x, all fields
constexpr std::uint32_t kV4Header = 108;
constexpr std::uint32_t kV5Header = 124;

// Compression codes.
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitFields = 3;       // Huffman 1D in OS/2 2.x files
constexpr std::uint32_t kBiJpeg = 4;            // RLE24 in OS/2 2.x files
constexpr std::uint32_t kBiAlphaBitFields = 6;

bool KnownHeaderSize(std::uint32_t size) {
  switch (size) {
    case kCoreHeader: case kOs2Short: case kInfoHeader: case kV2Header:
    case kV3Header: case kOs2Full: case kV4Header: case kV5Header:
      return true;
    default:
      return false;
  }
}

bool IsOs2V2(std::uint32_t headerSize) { return headerSize == kOs2Short || headerSize == kOs2Full; }

// Fields shared by every header version, widened so that no sign or size is lost before the checks.
struct RawHeader {
  std::uint32_t headerSize = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::uint32_t planes = 0;
  std::uint32_t bitCount = 0;
  std::uint32_t compression = kBiRgb;
  std::uint32_t colorsUsed = 0;
};

RawHeader ReadRawHeader(const std::uint8_t* info, std::uint32_t headerSize) {
  RawHeader raw;
  raw.headerSize = headerSize;
  if (headerSize == kCoreHeader) {
    raw.width = ReadU16(info + 4);
    raw.height = ReadU16(info + 6);
    raw.planes = ReadU16(info + 8);
    raw.bitCount = ReadU16(info + 10);
    return raw;
  }
  raw.width = static_cast<std::int32_t>(ReadU32(info + 4));
  raw.height = static_cast<std::int32_t>(ReadU32(info + 8));
  raw.planes = ReadU16(info + 12);
  raw.bitCount = ReadU16(info + 14);
  if (headerSize >= kInfoHeader) {
    raw.compression = ReadU32(info + 16);
    raw.colorsUsed = ReadU32(info + 32);
  }
  return raw;
}

Failure CheckSize(const RawHeader& raw, Header& header) {
  if (raw.width <= 0 || raw.width > kMaxImageSide) return Failure::kBadWidth;
  if (raw.height == 0 || raw.height > kMaxImageSide || raw.height < -kMaxImageSide) return Failure::kBadHeight;
  header.width = static_cast<int>(raw.width);
  header.height = static_cast<int>(raw.height < 0 ? -raw.height : raw.height);
  header.topDown = raw.height < 0;
  // A 1-bit picture carries eight pixels a byte: a file of a few megabytes can hold a picture whose working
  // image would take gigabytes.
  if (static_cast<std::uint64_t>(header.width) * header.height > kMaxImagePixels) return Failure::kImageTooLarge;
  return Failure::kNone;
}

bool KnownBitCount(std::uint32_t bitCount) {
  // 2 bits per pixel is a Windows CE form; supporting it costs nothing.
  switch (bitCount) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32:
      return true;
    default:
      return false;
  }
}

// The pixel layout named by the compression code, checked against the bit count.
Failure ChooseEncoding(const RawHeader& raw, Header& header) {
  const bool os2 = IsOs2V2(raw.headerSize);
  const std::uint32_t bits = raw.bitCount;
  switch (raw.compression) {
    case kBiRgb:
      header.encoding = Encoding::kRgb;
      return Failure::kNone;
    case kBiRle8:
      header.encoding = Encoding::kRle8;
      return bits == 8 ? Failure::kNone : Failure::kCompressionMismatch;
    case kBiRle4:
      header.encoding = Encoding::kRle4;
      return bits == 4 ? Failure::kNone : Failure::kCompressionMismatch;
    case kBiBitFields:
      if (os2) return Failure::kUnsupportedCompression;  // Huffman 1D, a fax coding
      header.encoding = Encoding::kBitFields;
      return bits == 16 || bits == 32 ? Failure::kNone : Failure::kCompressionMismatch;
    case kBiJpeg:
      if (!os2) return Failure::kUnsupportedCompression;  // an embedded JPEG picture
      header.encoding = Encoding::kRle24;
      return bits == 24 ? Failure::kNone : Failure::kCompressionMismatch;
    case kBiAlphaBitFields:
      if (os2) return Failure::kUnsupportedCompression;
      header.encoding = Encoding::kBitFields;
      return bits == 16 || bits == 32 ? Failure::kNone : Failure::kCompressionMismatch;
    default:  // embedded PNG (5), CMYK forms and anything unknown
      return Failure::kUnsupportedCompression;
  }
}

// A mask must be one run of set bits inside the pixel; an empty mask is a channel that always reads 0.
bool MakeChannel(std::uint32_t mask, int bitCount, Channel& channel) {
  channel = Channel{};
  if (mask == 0) return true;
  if (bitCount == 16 && mask > 0xFFFFu) return false;
  const int shift = std::countr_zero(mask);
  const std::uint32_t field = mask >> shift;
  if ((field & (field + 1)) != 0) return false;  // a gap inside the mask
  channel = Channel{mask, shift, field};
  return true;
}

void SetDefaultChannels(Header& header) {
  // 16 bits: 5-5-5 with the top bit unused; 32 bits: 8-8-8 with the top byte unused.
  const bool is16 = header.bitCount == 16;
  MakeChannel(is16 ? 0x7C00u : 0xFF0000u, header.bitCount, header.red);
  MakeChannel(is16 ? 0x03E0u : 0x00FF00u, header.bitCount, header.green);
  MakeChannel(is16 ? 0x001Fu : 0x0000FFu, header.bitCount, header.blue);
}

// The red, green and blue masks sit right after the 40-byte header fields, inside the header for V2 and
// later versions and as a separate block after a 40-byte header.
Failure ReadMasks(std::span<const std::uint8_t> file, Header& header) {
  const std::size_t masksAt = kFileHeaderSize + kInfoHeader;
  if (file.size() < masksAt + 12) return Failure::kTruncatedHeader;
  const std::uint8_t* masks = file.data() + masksAt;
  const bool ok = MakeChannel(ReadU32(masks), header.bitCount, header.red) &&
                  MakeChannel(ReadU32(masks + 4), header.bitCount, header.green) &&
                  MakeChannel(ReadU32(masks + 8), header.bitCount, header.blue);
  return ok ? Failure::kNone : Failure::kBadMasks;
}

// Bytes of separate mask block between a 40-byte header and the palette.
std::size_t MaskBlockSize(const RawHeader& raw) {
  if (raw.headerSize != kInfoHeader) return 0;
  if (raw.compression == kBiBitFields) return 12;
  if (raw.compression == kBiAlphaBitFields) return 16;
  return 0;
}

// Palette entries missing from the file, and indices beyond the palette, show black, as Windows paints
// them. A colours-used count above 2^bits is allowed (the extra entries are skipped) as long as that
// many entries really fit in the file; beyond it, the count is garbage and so is the header.
Failure ReadPalette(std::span<const std::uint8_t> file, const RawHeader& raw, std::size_t paletteAt,
                    Header& header) {
  if (header.bitCount > 8) return Failure::kNone;
  const std::size_t capacity = std::size_t{1} << header.bitCount;
  const std::size_t entrySize = raw.headerSize == kCoreHeader ? 3 : 4;
  const std::uint64_t declared =
      raw.headerSize == kCoreHeader || raw.colorsUsed == 0 ? capacity : raw.colorsUsed;
  if (declared > capacity && declared * entrySize > file.size() - paletteAt) return Failure::kPaletteBeyondFile;
  // Some writers leave out part of the palette; the pixel data offset tells where it really ends.
  const std::size_t room = (header.pixelOffset - paletteAt) / entrySize;
  const std::size_t count = std::min<std::size_t>({static_cast<std::size_t>(declared), capacity, room});
  header.palette.assign(capacity, 0);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = file.data() + paletteAt + i * entrySize;
    header.palette[i] = PackRgb(entry[2], entry[1], entry[0]);
  }
  return Failure::kNone;
}

}  // namespace

Failure ParseHeader(std::span<const std::uint8_t> file, Header& header) {
  header = Header{};
  if (file.size() < kFileHeaderSize + 4) return Failure::kTooShort;
  if (file[0] != 'B' || file[1] != 'M') return Failure::kNotBmp;
  const std::uint32_t headerSize = ReadU32(file.data() + kFileHeaderSize);
  if (!KnownHeaderSize(headerSize)) return Failure::kUnknownHeaderSize;
  if (file.size() < kFileHeaderSize + headerSize) return Failure::kTruncatedHeader;

  const RawHeader raw = ReadRawHeader(file.data() + kFileHeaderSize, headerSize);
  if (raw.planes != 1) return Failure::kBadPlanes;
  if (Failure f = CheckSize(raw, header); f != Failure::kNone) return f;
  if (Failure f = ChooseEncoding(raw, header); f != Failure::kNone) return f;
  if (!KnownBitCount(raw.bitCount)) return Failure::kUnsupportedBitCount;
  header.bitCount = static_cast<int>(raw.bitCount);
  if (header.encoding == Encoding::kRgb && header.bitCount >= 16) SetDefaultChannels(header);
  if (header.encoding != Encoding::kRgb && header.encoding != Encoding::kBitFields && header.topDown)
    return Failure::kTopDownRle;
  if (header.encoding == Encoding::kBitFields) {
    if (Failure f = ReadMasks(file, header); f != Failure::kNone) return f;
  }

  const std::size_t paletteAt = kFileHeaderSize + headerSize + MaskBlockSize(raw);
  if (file.size() < paletteAt) return Failure::kTruncatedHeader;
  const std::uint32_t pixelOffset = ReadU32(file.data() + 10);
  if (pixelOffset < paletteAt || pixelOffset > file.size()) return Failure::kBadPixelOffset;
  header.pixelOffset = pixelOffset;
  return ReadPalette(file, raw, paletteAt, header);
}

const char* FailureName(Failure failure) {
  switch (failure) {
    case Failure::kNone: return "none";
    case Failure::kTooShort: return "too short";
    case Failure::kNotBmp: return "not a BMP file";
    case Failure::kUnknownHeaderSize: return "unknown header size";
    case Failure::kTruncatedHeader: return "truncated header";
    case Failure::kBadPlanes: return "planes not 1";
    case Failure::kBadWidth: return "bad width";
    case Failure::kBadHeight: return "bad height";
    case Failure::kUnsupportedBitCount: return "unsupported bit count";
    case Failure::kUnsupportedCompression: return "unsupported compression";
    case Failure::kCompressionMismatch: return "compression does not fit the bit count";
    case Failure::kTopDownRle: return "top-down run-length data";
    case Failure::kBadMasks: return "bad colour masks";
    case Failure::kPaletteBeyondFile: return "palette beyond the file";
    case Failure::kBadPixelOffset: return "bad pixel data offset";
    case Failure::kTruncatedPixels: return "truncated pixel data";
    case Failure::kTruncatedRle: return "truncated run-length data";
    case Failure::kImageTooLarge: return "image too large";
  }
  return "unknown";
}

}  // namespace imaging::bmp
