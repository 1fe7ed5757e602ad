#include "imaging/PhotoBitmap.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace imaging {
namespace {

void PutU16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void PutU32(std::uint8_t* at, std::uint32_t value) {
  PutU16(at, value & 0xFFFFu);
  PutU16(at + 2, value >> 16);
}

std::uint32_t GetU16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return bytes[at] | (std::uint32_t{bytes[at + 1]} << 8);
}

std::uint32_t GetU32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return GetU16(bytes, at) | (GetU16(bytes, at + 2) << 16);
}

// A row reduced to 5-6-5. The fixed-length inner loop is what compilers vectorize at -O2.
void ReduceRow(const std::uint32_t* __restrict in, std::uint16_t* __restrict out, int width) {
  int x = 0;
  for (; x + 8 <= width; x += 8)
    for (int i = 0; i < 8; ++i) out[x + i] = ReduceTo565(in[x + i]);
  for (; x < width; ++x) out[x] = ReduceTo565(in[x]);
}

void WriteHeaders(std::uint8_t* header, int width, int height) {
  const auto imageSize = static_cast<std::uint32_t>(StoredPhotoStride(width) * height);
  header[0] = 'B';
  header[1] = 'M';
  PutU32(header + 2, static_cast<std::uint32_t>(kStoredPhotoHeaderSize) + imageSize);
  PutU32(header + 6, 0);  // two reserved words
  PutU32(header + 10, static_cast<std::uint32_t>(kStoredPhotoHeaderSize));
  PutU32(header + 14, 40);
  PutU32(header + 18, static_cast<std::uint32_t>(width));
  PutU32(header + 22, static_cast<std::uint32_t>(height));  // positive: bottom row first
  PutU16(header + 26, 1);
  PutU16(header + 28, 16);
  PutU32(header + 30, 3);  // bit fields: the three masks follow
  PutU32(header + 34, imageSize);
  std::fill(header + 38, header + 54, std::uint8_t{0});  // resolutions, colours used and important
  PutU32(header + 54, 0xF800);
  PutU32(header + 58, 0x07E0);
  PutU32(header + 62, 0x001F);
}

constexpr std::size_t kBlobHeaderSize = 8;
constexpr std::size_t kFileHeaderSize = 14;

bool HasBlobHeader(std::span<const std::uint8_t> value) {
  return value.size() >= kBlobHeaderSize && GetU16(value, 0) == 1 && GetU16(value, 2) == 0x0100 &&
         GetU32(value, 4) == value.size() - kBlobHeaderSize;
}

bool IsKnownInfoHeaderSize(std::uint32_t size) {
  switch (size) {
    case 12:   // OS/2 core header
    case 40:   // BITMAPINFOHEADER
    case 52:   // with RGB masks
    case 56:   // with RGBA masks
    case 64:   // OS/2 2.x
    case 108:  // BITMAPV4HEADER
    case 124:  // BITMAPV5HEADER
      return true;
    default:
      return false;
  }
}

bool IsBmpFile(std::span<const std::uint8_t> file) {
  if (file.size() < kFileHeaderSize + 4 || file[0] != 'B' || file[1] != 'M') return false;
  const std::uint32_t infoSize = GetU32(file, kFileHeaderSize);
  return IsKnownInfoHeaderSize(infoSize) && file.size() >= kFileHeaderSize + infoSize;
}

}  // namespace

void WriteStoredPhoto(const WorkingImage& image, std::vector<std::uint8_t>& out) {
  const int width = image.Width();
  const int height = image.Height();
  const std::size_t stride = StoredPhotoStride(width);
  out.assign(StoredPhotoSize(width, height), 0);
  WriteHeaders(out.data(), width, height);
  std::uint8_t* row = out.data() + kStoredPhotoHeaderSize;
  std::vector<std::uint16_t> reduced(static_cast<std::size_t>(width));
  for (int y = height - 1; y >= 0; --y, row += stride) {
    ReduceRow(image.Row(y), reduced.data(), width);
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(row, reduced.data(), 2 * reduced.size());
    } else {
      for (int x = 0; x < width; ++x) PutU16(row + 2 * x, reduced[x]);
    }
  }
}

std::span<const std::uint8_t> StoredBitmapFile(std::span<const std::uint8_t> value) {
  const auto file = HasBlobHeader(value) ? value.subspan(kBlobHeaderSize) : value;
  return IsBmpFile(file) ? file : std::span<const std::uint8_t>{};
}

bool IsStoredBitmap(std::span<const std::uint8_t> value) { return !StoredBitmapFile(value).empty(); }

}  // namespace imaging
