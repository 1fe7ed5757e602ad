// Small picture files written by the photo tests: 24-bit BMP and 8-bit RGB PNG of a working image, in a
// temporary folder of their own.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "imaging/WorkingImage.h"
#include "support/TestPlatform.h"

namespace imaging::testing {

class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::random_device device;
    path_ = std::filesystem::temp_directory_path() / ("photo-test-" + std::to_string(device()));
    std::filesystem::create_directories(path_);
  }
  ~TemporaryFolder() {
    testsupport::RemoveFolder(path_);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void PutLittle(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

inline void PutBig(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// 24 bits per pixel, rows bottom-up, BITMAPINFOHEADER.
inline std::vector<std::uint8_t> BmpBytes(const WorkingImage& image) {
  const std::uint32_t stride = (image.Width() * 3 + 3) / 4 * 4;
  const std::uint32_t imageSize = stride * image.Height();
  std::vector<std::uint8_t> out = {'B', 'M'};
  PutLittle(out, 54 + imageSize, 4);
  PutLittle(out, 0, 4);
  PutLittle(out, 54, 4);
  PutLittle(out, 40, 4);
  PutLittle(out, image.Width(), 4);
  PutLittle(out, image.Height(), 4);
  PutLittle(out, 1, 2);
  PutLittle(out, 24, 2);
  PutLittle(out, 0, 4);
  PutLittle(out, imageSize, 4);
  for (int i = 0; i < 4; ++i) PutLittle(out, 0, 4);
  for (int y = image.Height() - 1; y >= 0; --y) {
    for (int x = 0; x < image.Width(); ++x) PutLittle(out, image.At(x, y) & 0xFFFFFFu, 3);  // B, G, R
    for (std::uint32_t pad = image.Width() * 3; pad < stride; ++pad) out.push_back(0);
  }
  return out;
}

inline void PutPngChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data) {
  PutBig(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBig(out, static_cast<std::uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

// A zlib stream of the bytes, as the IDAT chunks of a PNG hold it.
inline std::vector<std::uint8_t> ZlibCompress(const std::vector<std::uint8_t>& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> packed(size);
  compress(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
  packed.resize(size);
  return packed;
}

// 8-bit truecolour, no interlace, filter 0 on every row.
inline std::vector<std::uint8_t> PngBytes(const WorkingImage& image) {
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutBig(header, image.Width());
  PutBig(header, image.Height());
  header.insert(header.end(), {8, 2, 0, 0, 0});
  PutPngChunk(out, "IHDR", header);
  std::vector<std::uint8_t> raw;
  for (int y = 0; y < image.Height(); ++y) {
    raw.push_back(0);
    for (int x = 0; x < image.Width(); ++x) {
      const std::uint32_t p = image.At(x, y);
      raw.insert(raw.end(), {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                             static_cast<std::uint8_t>(p)});
    }
  }
  PutPngChunk(out, "IDAT", ZlibCompress(raw));
  PutPngChunk(out, "IEND", {});
  return out;
}

}  // namespace imaging::testing
