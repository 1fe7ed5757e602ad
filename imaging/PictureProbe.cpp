#include "imaging/PictureProbe.h"

#include <algorithm>
#include <array>

namespace imaging {
namespace {

constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t BigEndian16(const std::uint8_t* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
std::uint32_t BigEndian32(const std::uint8_t* p) { return (BigEndian16(p) << 16) | BigEndian16(p + 2); }
std::uint32_t LittleEndian16(const std::uint8_t* p) { return p[0] | (std::uint32_t{p[1]} << 8); }
std::uint32_t LittleEndian32(const std::uint8_t* p) { return LittleEndian16(p) | (LittleEndian16(p + 2) << 16); }

// Frame headers: SOF0 to SOF15 except DHT (C4), JPG (C8) and DAC (CC).
bool IsFrameHeader(std::uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers without a length: TEM, RST0-7, SOI, EOI.
bool StandsAlone(std::uint8_t marker) { return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9); }

// Walks the marker segments up to the first frame header, which must come before the first scan.
std::optional<std::uint64_t> JpegPixels(std::span<const std::uint8_t> file) {
  std::size_t pos = 2;
  while (pos + 1 < file.size()) {
    if (file[pos] != 0xFF) return std::nullopt;
    const std::uint8_t marker = file[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    pos += 2;
    if (StandsAlone(marker)) continue;
    if (marker == 0xDA || pos + 2 > file.size()) return std::nullopt;
    const std::uint32_t length = BigEndian16(&file[pos]);
    if (IsFrameHeader(marker)) {
      if (length < 7 || pos + 7 > file.size()) return std::nullopt;
      return std::uint64_t{BigEndian16(&file[pos + 3])} * BigEndian16(&file[pos + 5]);
    }
    if (length < 2) return std::nullopt;
    pos += length;
  }
  return std::nullopt;
}

// IHDR is the first chunk: length, type, then width and height.
std::optional<std::uint64_t> PngPixels(std::span<const std::uint8_t> file) {
  if (file.size() < 24 || !std::equal(file.begin() + 12, file.begin() + 16, "IHDR")) return std::nullopt;
  return std::uint64_t{BigEndian32(&file[16])} * BigEndian32(&file[20]);
}

// The OS/2 1.x header (12 bytes) has 16-bit sizes, every later one signed 32-bit sizes (a negative height
// marks a top-down picture).
std::optional<std::uint64_t> BmpPixels(std::span<const std::uint8_t> file) {
  if (file.size() < 26) return std::nullopt;
  if (LittleEndian32(&file[14]) == 12) return std::uint64_t{LittleEndian16(&file[18])} * LittleEndian16(&file[20]);
  const auto width = static_cast<std::int32_t>(LittleEndian32(&file[18]));
  const auto height = static_cast<std::int32_t>(LittleEndian32(&file[22]));
  const auto magnitude = [](std::int32_t v) { return static_cast<std::uint64_t>(v < 0 ? -std::int64_t{v} : v); };
  return magnitude(width) * magnitude(height);
}

}  // namespace

PictureFormat SniffFormat(std::span<const std::uint8_t> file) {
  if (file.size() >= 3 && file[0] == 0xFF && file[1] == 0xD8 && file[2] == 0xFF) return PictureFormat::Jpeg;
  if (file.size() >= kPngSignature.size() && std::equal(kPngSignature.begin(), kPngSignature.end(), file.begin()))
    return PictureFormat::Png;
  if (file.size() >= 2 && file[0] == 'B' && file[1] == 'M') return PictureFormat::Bmp;
  return PictureFormat::Other;
}

std::optional<std::uint64_t> ClaimedPixels(std::span<const std::uint8_t> file) {
  switch (SniffFormat(file)) {
    case PictureFormat::Jpeg: return JpegPixels(file);
    case PictureFormat::Png: return PngPixels(file);
    case PictureFormat::Bmp: return BmpPixels(file);
    case PictureFormat::Other: break;
  }
  return std::nullopt;
}

}  // namespace imaging
