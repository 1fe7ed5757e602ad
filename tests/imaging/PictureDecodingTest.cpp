// Choosing the decoder by extension, the second try as PNG, and failing without harm.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "imaging/PictureDecoding.h"
#include "tests/imaging/PhotoTestFiles.h"

namespace imaging {
namespace {

using testing::TemporaryFolder;
using testing::WriteBytes;

const std::string kJpegSamples = std::string(CARDPHOTO_TESTDATA_DIR) + "/jpeg/";

WorkingImage Pattern(int width, int height) {
  std::mt19937 random(static_cast<unsigned>(width * 31 + height));
  WorkingImage image(width, height);
  for (auto& p : image.Pixels()) p = random() & 0xFFFFFFu;
  return image;
}

std::vector<std::uint8_t> JpegSample() { return testing::ReadBytes(kJpegSamples + "testorig.jpg"); }

enum class Content { Bmp, Png, Jpeg, Text };

std::vector<std::uint8_t> Make(Content content, const WorkingImage& image) {
  switch (content) {
    case Content::Bmp: return testing::BmpBytes(image);
    case Content::Png: return testing::PngBytes(image);
    case Content::Jpeg: return JpegSample();
    case Content::Text: return {'h', 'e', 'l', 'l', 'o'};
  }
  return {};
}

TEST(LoadPictureFile, ChoosesByExtensionAndRetriesAsPng) {
  const WorkingImage image = Pattern(7, 5);
  const struct {
    const char* name;
    Content content;
    bool loads;
  } cases[] = {
      {"a.bmp", Content::Bmp, true},        {"A.BMP", Content::Bmp, true},
      {"a.png", Content::Png, true},        {"a.PnG", Content::Png, true},
      {"A00001.jpg", Content::Png, true},   // PNG under a JPEG name: the PNG retry loads it
      {"a.bmp", Content::Png, true},        {"a.gif", Content::Png, true},
      {"no-extension", Content::Png, true}, {"a.tar.png", Content::Png, true},
      {"A00001.png", Content::Jpeg, false},  // JPEG under a PNG name: both attempts fail
      {"a.bmp", Content::Jpeg, false},      {"a.jpg", Content::Bmp, false},
      {"a.gif", Content::Bmp, false},       {"a.jpg", Content::Text, false},
      {"a.png", Content::Text, false},
  };
  TemporaryFolder folder;
  for (const auto& c : cases) {
    const std::string path = folder.File(c.name);
    WriteBytes(path, Make(c.content, image));
    WorkingImage loaded;
    EXPECT_EQ(LoadPictureFile(loaded, path), c.loads) << c.name;
    if (c.loads && c.content != Content::Jpeg) {
      EXPECT_EQ(loaded.Pixels(), image.Pixels()) << c.name;
    }
    std::filesystem::remove(path);
  }
}

TEST(LoadPictureFile, JpegAndJpgExtensionsDecodeTheSameAsTheJpegDecoder) {
  TemporaryFolder folder;
  WorkingImage expected;
  ASSERT_TRUE(LoadPictureFile(expected, kJpegSamples + "testorig.jpg"));
  EXPECT_EQ(expected.Width(), 227);
  EXPECT_EQ(expected.Height(), 149);
  for (const char* name : {"b.jpeg", "c.JPG", "d.JpEg"}) {
    WriteBytes(folder.File(name), JpegSample());
    WorkingImage loaded;
    ASSERT_TRUE(LoadPictureFile(loaded, folder.File(name))) << name;
    EXPECT_EQ(loaded.Pixels(), expected.Pixels()) << name;
  }
}

TEST(LoadPictureFile, ExtensionIsTakenFromTheFileNameNotTheFolder) {
  TemporaryFolder folder;
  std::filesystem::create_directories(folder.File("photos.bmp"));
  const std::string path = folder.File("photos.bmp/A00001");
  WriteBytes(path, testing::BmpBytes(Pattern(3, 3)));
  WorkingImage loaded;
  EXPECT_FALSE(LoadPictureFile(loaded, path));  // no extension: only the PNG try, which a BMP fails
}

// Names of fewer than 4 characters fail before the file is read; 4 characters are enough.
TEST(LoadPictureFile, ShortNamesFailWithoutReading) {
  TemporaryFolder folder;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.Path());
  const auto png = testing::PngBytes(Pattern(4, 4));
  for (const char* name : {"a", "ab", "abc", "a.p", "abcd", "a.png"}) WriteBytes(name, png);
  const struct {
    const char* name;
    bool loads;
  } cases[] = {{"", false}, {"a", false}, {"ab", false}, {"abc", false}, {"a.p", false}, {"abcd", true},
               {"a.png", true}};
  for (const auto& c : cases) {
    WorkingImage loaded;
    EXPECT_EQ(LoadPictureFile(loaded, c.name), c.loads) << '"' << c.name << '"';
  }
  std::filesystem::current_path(previous);
}

TEST(LoadPictureFile, FailsForMissingFoldersAndDamagedFiles) {
  TemporaryFolder folder;
  std::filesystem::create_directories(folder.File("dir.png"));
  const std::vector<std::string> paths = {
      folder.File("missing.jpg"), folder.File("dir.png"), kJpegSamples + "testorig-trunc-scan.jpg",
      kJpegSamples + "testorig-trunc-header.jpg"};
  for (const auto& path : paths) {
    WorkingImage loaded;
    EXPECT_FALSE(LoadPictureFile(loaded, path)) << path;
  }
  auto damaged = testing::PngBytes(Pattern(9, 9));
  damaged[damaged.size() - 20] ^= 0x55;  // inside IDAT: CRC mismatch
  WriteBytes(folder.File("damaged.png"), damaged);
  WorkingImage loaded;
  EXPECT_FALSE(LoadPictureFile(loaded, folder.File("damaged.png")));
}

}  // namespace
}  // namespace imaging
