// Recognising a stored photo value as a bitmap: bare BMP files and BMP files behind the 8-byte blob
// header are; empty values, other formats and damaged headers are not.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/PhotoBitmap.h"
#include "imaging/PhotoStream.h"
#include "tests/imaging/PhotoTestFiles.h"

namespace imaging {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes StoredPhoto() {
  WorkingImage image(3, 2);
  std::vector<std::uint8_t> bytes;
  WriteStoredPhoto(image, bytes);
  return bytes;
}

Bytes BehindBlobHeader(const Bytes& file, std::uint32_t length, std::uint16_t count = 1, std::uint16_t kind = 0x0100) {
  Bytes value;
  testing::PutLittle(value, count, 2);
  testing::PutLittle(value, kind, 2);
  testing::PutLittle(value, length, 4);
  value.insert(value.end(), file.begin(), file.end());
  return value;
}

TEST(IsStoredBitmap, AcceptsBareAndBlobHeaderedBitmapsOnly) {
  const Bytes photo = StoredPhoto();
  WorkingImage picture(5, 4);
  const Bytes bmp24 = testing::BmpBytes(picture);
  const Bytes png = testing::PngBytes(picture);
  Bytes coreHeaderBmp = {'B', 'M', 26, 0, 0, 0, 0, 0, 0, 0, 26, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0, 1, 0, 24, 0};
  Bytes unknownInfoSize = photo;
  unknownInfoSize[14] = 41;
  const Bytes shortInfo(photo.begin(), photo.begin() + 30);
  const struct {
    const char* what;
    Bytes value;
    bool bitmap;
    std::size_t fileOffset;  // where the BMP file starts inside the value
  } cases[] = {
      {"stored photo", photo, true, 0},
      {"24-bit BMP", bmp24, true, 0},
      {"OS/2 core header", coreHeaderBmp, true, 0},
      {"behind the blob header", BehindBlobHeader(photo, static_cast<std::uint32_t>(photo.size())), true, 8},
      {"blob header with a wrong length", BehindBlobHeader(photo, 5), false, 0},
      {"blob header with a wrong count", BehindBlobHeader(photo, static_cast<std::uint32_t>(photo.size()), 2), false, 0},
      {"blob header with a wrong kind", BehindBlobHeader(photo, static_cast<std::uint32_t>(photo.size()), 1, 0x0200), false, 0},
      {"empty", {}, false, 0},
      {"BM alone", {'B', 'M'}, false, 0},
      {"information header cut short", shortInfo, false, 0},
      {"unknown information header size", unknownInfoSize, false, 0},
      {"PNG", png, false, 0},
      {"PNG behind the blob header", BehindBlobHeader(png, static_cast<std::uint32_t>(png.size())), false, 0},
      {"JPEG start", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0}, false, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsStoredBitmap(c.value), c.bitmap) << c.what;
    const auto file = StoredBitmapFile(c.value);
    if (c.bitmap) {
      EXPECT_EQ(file.data(), c.value.data() + c.fileOffset) << c.what;
      EXPECT_EQ(file.size(), c.value.size() - c.fileOffset) << c.what;
    } else {
      EXPECT_TRUE(file.empty()) << c.what;
    }
  }
}

}  // namespace
}  // namespace imaging
