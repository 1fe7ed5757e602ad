// card-photo normalize writes exactly the value MakePhotoStream makes, for the pictures of the public
// test suites and for the normalizer's edge cases; a picture that cannot be used gives exit code 1, one
// line on stderr and no output file.
#include <gtest/gtest.h>

#ifdef _WIN32
TEST(CardPhotoCommands, LinuxOnly) { GTEST_SKIP() << "runs card-photo through a POSIX shell; WindowsPathsTest runs it on Windows"; }
#else

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/PhotoStream.h"
#include "tests/imaging/PhotoTestFiles.h"

namespace imaging {
namespace {

const std::string kCardPhoto = std::string(CARDPHOTO_BINARY_DIR) + "/tools/card-photo";

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::vector<std::string> SuitePictures() {
  std::vector<std::string> pictures;
  for (const char* suite : {"jpeg", "pngsuite", "bmpsuite"}) {
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(std::string(CARDPHOTO_TESTDATA_DIR) + "/" + suite)) {
      const std::string extension = entry.path().extension().string();
      if (entry.is_regular_file() && (extension == ".jpg" || extension == ".png" || extension == ".bmp"))
        pictures.push_back(entry.path().string());
    }
  }
  std::sort(pictures.begin(), pictures.end());
  return pictures;
}

std::vector<std::string> EdgeCasePictures(const testing::TemporaryFolder& folder) {
  const int sizes[][2] = {{640, 480}, {480, 640}, {358, 441}, {100, 100}, {120, 120}, {111, 120},
                          {110, 121}, {220, 240}, {150, 100}, {151, 100}, {1, 200}};
  std::vector<std::string> pictures;
  for (const auto& size : sizes) {
    WorkingImage picture(size[0], size[1]);
    for (int y = 0; y < size[1]; ++y)
      for (int x = 0; x < size[0]; ++x) picture.At(x, y) = PackRgb(x % 256, y % 256, (x * y) % 256);
    const std::string path = folder.File(std::to_string(size[0]) + "x" + std::to_string(size[1]) + ".png");
    testing::WriteBytes(path, testing::PngBytes(picture));
    pictures.push_back(path);
  }
  return pictures;
}

TEST(CardPhotoNormalize, WritesWhatMakePhotoStreamMakes) {
  ASSERT_TRUE(std::filesystem::exists(kCardPhoto)) << "build the card-photo target first";
  testing::TemporaryFolder folder;
  std::vector<std::string> pictures = SuitePictures();
  ASSERT_GT(pictures.size(), 300u);
  const auto edgeCases = EdgeCasePictures(folder);
  pictures.insert(pictures.end(), edgeCases.begin(), edgeCases.end());
  pictures.push_back(folder.File("missing.jpg"));
  int usable = 0;
  for (const auto& picture : pictures) {
    SCOPED_TRACE(picture);
    const std::string output = folder.File("out.bmp");
    const std::string errors = folder.File("errors.txt");
    const int status = std::system((kCardPhoto + " normalize " + Quoted(picture) + " " + Quoted(output) + " 2>" +
                                    Quoted(errors)).c_str());
    MemoryStream stream;
    if (MakePhotoStream(picture, stream)) {
      ++usable;
      ASSERT_EQ(status, 0);
      EXPECT_EQ(testing::ReadBytes(output), stream.bytes);
      std::filesystem::remove(output);
    } else {
      EXPECT_NE(status, 0);
      EXPECT_EQ(WEXITSTATUS(status), 1);
      EXPECT_FALSE(std::filesystem::exists(output));
      const auto message = testing::ReadBytes(errors);
      ASSERT_FALSE(message.empty());
      EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1);
    }
  }
  EXPECT_GT(usable, 200);
}

// Several pairs in one start: each written or refused on its own, exit 1 when any was refused.
TEST(CardPhotoNormalize, TakesSeveralPairsAtOnce) {
  testing::TemporaryFolder folder;
  const std::string good = std::string(CARDPHOTO_TESTDATA_DIR) + "/jpeg/testorig.jpg";
  const std::string missing = folder.File("missing.jpg");
  const std::string command = kCardPhoto + " normalize " + Quoted(good) + " " + Quoted(folder.File("1.bmp")) + " " +
                              Quoted(missing) + " " + Quoted(folder.File("2.bmp")) + " " + Quoted(good) + " " +
                              Quoted(folder.File("3.bmp")) + " 2>/dev/null";
  const int status = std::system(command.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 1);
  MemoryStream stream;
  ASSERT_TRUE(MakePhotoStream(good, stream));
  EXPECT_EQ(testing::ReadBytes(folder.File("1.bmp")), stream.bytes);
  EXPECT_FALSE(std::filesystem::exists(folder.File("2.bmp")));
  EXPECT_EQ(testing::ReadBytes(folder.File("3.bmp")), stream.bytes);
  EXPECT_EQ(WEXITSTATUS(std::system((kCardPhoto + " normalize " + Quoted(good) + " 2>/dev/null").c_str())), 2);
}

TEST(CardPhotoDecode, WritesThePictureAsPpmOrFails) {
  ASSERT_TRUE(std::filesystem::exists(kCardPhoto)) << "build the card-photo target first";
  testing::TemporaryFolder folder;
  WorkingImage picture(3, 2);
  picture.At(0, 0) = PackRgb(1, 2, 3);
  picture.At(2, 1) = PackRgb(250, 128, 0);
  testing::WriteBytes(folder.File("p.jpg"), testing::PngBytes(picture));  // loads through the PNG retry
  ASSERT_EQ(std::system((kCardPhoto + " decode " + Quoted(folder.File("p.jpg")) + " " + Quoted(folder.File("p.ppm")))
                            .c_str()),
            0);
  std::vector<std::uint8_t> expected = {'P', '6', '\n', '3', ' ', '2', '\n', '2', '5', '5', '\n'};
  for (const auto p : picture.Pixels())
    expected.insert(expected.end(), {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                                     static_cast<std::uint8_t>(p)});
  EXPECT_EQ(testing::ReadBytes(folder.File("p.ppm")), expected);
  const int status = std::system((kCardPhoto + " decode " + Quoted(folder.File("none.png")) + " " +
                                  Quoted(folder.File("none.ppm")) + " 2>/dev/null").c_str());
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_FALSE(std::filesystem::exists(folder.File("none.ppm")));
}

}  // namespace
}  // namespace imaging

#endif  // !_WIN32
