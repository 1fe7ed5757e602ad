// Photo normalization end to end: picture files made by the test go through MakePhotoStream, and the
// stored value is checked against a value built here from the resampler oracle, the crop and fit rules
// and the stored photo layout.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "imaging/PhotoStream.h"
#include "tests/imaging/PhotoTestFiles.h"
#include "tests/imaging/ResampleReference.h"

namespace imaging {
namespace {

using testing::BmpBytes;
using testing::PngBytes;
using testing::TemporaryFolder;
using testing::WriteBytes;

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

WorkingImage RandomPicture(int width, int height, unsigned seed) {
  std::mt19937 random(seed);
  WorkingImage image(width, height);
  for (auto& p : image.Pixels()) p = random() & 0xFFFFFFu;
  return image;
}

WorkingImage Columns(const WorkingImage& image, int left, int width) {
  WorkingImage part(width, image.Height());
  for (int y = 0; y < image.Height(); ++y)
    for (int x = 0; x < width; ++x) part.At(x, y) = image.At(left + x, y);
  return part;
}

// The pixel rows of the stored value: bottom row first, 5-6-5 by dropping low bits, zero padding.
std::vector<std::uint8_t> ExpectedPixelRows(const WorkingImage& image) {
  std::vector<std::uint8_t> rows;
  const int stride = (image.Width() + 1) / 2 * 4;
  for (int y = image.Height() - 1; y >= 0; --y) {
    for (int x = 0; x < image.Width(); ++x) {
      const std::uint32_t p = image.At(x, y);
      const std::uint32_t value = ((p >> 19) & 31) << 11 | ((p >> 10) & 63) << 5 | ((p >> 3) & 31);
      rows.push_back(static_cast<std::uint8_t>(value));
      rows.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    rows.resize(rows.size() + stride - image.Width() * 2, 0);
  }
  return rows;
}

MemoryStream Normalize(const std::string& path) {
  MemoryStream stream;
  EXPECT_TRUE(MakePhotoStream(path, stream)) << path;
  return stream;
}

TEST(MakePhotoStream, CropsFitsAndStoresEveryEdgeCaseSize) {
  const struct {
    int width, height;     // picture
    int cropLeft;          // first column of the central square of a landscape picture
    int photoWidth, photoHeight, stride;
    std::size_t bytes;
  } cases[] = {
      {640, 480, 80, 110, 110, 220, 24266},  // landscape: square from column 80, then fitted
      {480, 640, 0, 90, 120, 180, 21666},
      {358, 441, 0, 97, 120, 196, 23586},    // 358 * 120 div 441 = 97; odd width pads 2 bytes
      {100, 100, 0, 100, 100, 200, 20066},   // neither cropped nor fitted
      {120, 120, 0, 110, 110, 220, 24266},
      {111, 120, 0, 110, 118, 220, 26026},
      {110, 121, 0, 109, 120, 220, 26466},
      {220, 240, 0, 110, 120, 220, 26466},   // exactly 11 : 12
      {150, 100, 25, 100, 100, 200, 20066},  // cropped, not fitted
      {151, 100, 25, 100, 100, 200, 20066},  // 51 div 2
      {1, 1, 0, 1, 1, 4, 70},
  };
  TemporaryFolder folder;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const WorkingImage picture = RandomPicture(c.width, c.height, c.width * 1000 + c.height);
    const std::string path = folder.File("photo.bmp");
    WriteBytes(path, BmpBytes(picture));
    const MemoryStream stream = Normalize(path);
    ASSERT_EQ(stream.bytes.size(), c.bytes);
    EXPECT_EQ(stream.position, 0u);
    EXPECT_EQ(U32(stream.bytes, 2), c.bytes);
    EXPECT_EQ(static_cast<int>(U32(stream.bytes, 18)), c.photoWidth);
    EXPECT_EQ(static_cast<int>(U32(stream.bytes, 22)), c.photoHeight);
    EXPECT_EQ(U32(stream.bytes, 34), static_cast<std::uint32_t>(c.stride * c.photoHeight));
    const WorkingImage square = c.width > c.height ? Columns(picture, c.cropLeft, c.height) : picture;
    const WorkingImage photo = reference::Resample(square, c.photoWidth, c.photoHeight);
    const std::vector<std::uint8_t> pixels(stream.bytes.begin() + 66, stream.bytes.end());
    EXPECT_EQ(pixels, ExpectedPixelRows(photo));
  }
}

TEST(MakePhotoStream, WritesTheStoredPhotoHeaderByteForByte) {
  TemporaryFolder folder;
  WriteBytes(folder.File("a.bmp"), BmpBytes(RandomPicture(358, 441, 1)));
  const MemoryStream stream = Normalize(folder.File("a.bmp"));
  // 97 x 120, stride 196, 23520 bytes of pixels, 23586 in all.
  const std::vector<std::uint8_t> expected = {
      'B', 'M', 0x22, 0x5C, 0, 0,  0, 0, 0, 0,  66, 0, 0, 0,            // file header
      40, 0, 0, 0,  97, 0, 0, 0,  120, 0, 0, 0,  1, 0,  16, 0,  3, 0, 0, 0,  // size, width, height, planes, bpp, bit fields
      0xE0, 0x5B, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  // image size, resolutions, colours
      0x00, 0xF8, 0, 0,  0xE0, 0x07, 0, 0,  0x1F, 0, 0, 0};                  // masks
  ASSERT_GE(stream.bytes.size(), expected.size());
  EXPECT_EQ(std::vector<std::uint8_t>(stream.bytes.begin(), stream.bytes.begin() + 66), expected);
}

TEST(MakePhotoStream, ReducesColoursByDroppingLowBits) {
  const struct {
    std::uint32_t pixel;
    std::uint16_t stored;
  } cases[] = {{PackRgb(255, 255, 255), 0xFFFF}, {PackRgb(7, 3, 7), 0x0000},  {PackRgb(8, 4, 8), 0x0821},
               {PackRgb(255, 0, 0), 0xF800},      {PackRgb(0, 255, 0), 0x07E0}, {PackRgb(0, 0, 255), 0x001F},
               {PackRgb(15, 7, 250), 0x083F}};
  TemporaryFolder folder;
  for (const auto& c : cases) {
    WorkingImage picture(1, 1);
    picture.At(0, 0) = c.pixel;
    WriteBytes(folder.File("p.bmp"), BmpBytes(picture));
    const MemoryStream stream = Normalize(folder.File("p.bmp"));
    ASSERT_EQ(stream.bytes.size(), 70u);
    EXPECT_EQ(U16(stream.bytes, 66), c.stored) << std::hex << c.pixel;
    EXPECT_EQ(U16(stream.bytes, 68), 0);  // padding
  }
}

TEST(MakePhotoStream, CropStartsAtTheCentralColumn) {
  // Column c painted so that it survives the 5-6-5 reduction: red = c mod 32, green = c div 32.
  TemporaryFolder folder;
  for (const int width : {150, 151}) {
    WorkingImage picture(width, 100);
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < width; ++x) picture.At(x, y) = PackRgb((x % 32) << 3, (x / 32) << 2, 0);
    WriteBytes(folder.File("wide.bmp"), BmpBytes(picture));
    const MemoryStream stream = Normalize(folder.File("wide.bmp"));
    ASSERT_EQ(stream.bytes.size(), 20066u);
    const std::uint16_t first = U16(stream.bytes, 66);
    EXPECT_EQ((first >> 11) + 32 * ((first >> 5) & 63), 25) << width;
  }
}

TEST(MakePhotoStream, FailsForUnusableFiles) {
  TemporaryFolder folder;
  WriteBytes(folder.File("tall.bmp"), BmpBytes(RandomPicture(1, 200, 3)));  // fitted width 0
  WriteBytes(folder.File("text.jpg"), {'n', 'o', 't', ' ', 'a', ' ', 'p', 'h', 'o', 't', 'o'});
  WriteBytes(folder.File("empty.png"), {});
  std::filesystem::create_directories(folder.File("folder.jpg"));
  for (const char* name : {"tall.bmp", "text.jpg", "empty.png"}) {
    MemoryStream stream;
    EXPECT_FALSE(MakePhotoStream(folder.File(name), stream)) << name;
  }
  // No file at the path: false and the stream is not touched.
  for (const char* name : {"missing.jpg", "folder.jpg"}) {
    MemoryStream stream;
    stream.bytes = {1, 2, 3};
    stream.position = 2;
    EXPECT_FALSE(MakePhotoStream(folder.File(name), stream)) << name;
    EXPECT_EQ(stream.bytes, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(stream.position, 2u);
  }
}

TEST(MakePhotoStream, SecondCallReplacesTheFirstPhoto) {
  TemporaryFolder folder;
  WriteBytes(folder.File("big.bmp"), BmpBytes(RandomPicture(120, 120, 4)));
  WriteBytes(folder.File("small.png"), PngBytes(RandomPicture(30, 40, 5)));
  MemoryStream stream;
  ASSERT_TRUE(MakePhotoStream(folder.File("big.bmp"), stream));
  stream.position = 100;
  ASSERT_TRUE(MakePhotoStream(folder.File("small.png"), stream));
  EXPECT_EQ(stream.bytes, Normalize(folder.File("small.png")).bytes);
  EXPECT_EQ(stream.bytes.size(), 66u + 60 * 40);
  EXPECT_EQ(stream.position, 0u);
}

}  // namespace
}  // namespace imaging
