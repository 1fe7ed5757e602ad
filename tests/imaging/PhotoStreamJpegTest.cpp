// The JPEG path of the normalizer, which streams decoded rows into the resampler (on a second thread for
// large photos, or all on the calling thread), must store exactly what decoding the whole picture and
// shrinking it gives, and must fail where decoding fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "imaging/Decoders.h"
#include "imaging/JpegDecoder.h"
#include "imaging/JpegRowPipeline.h"
#include "imaging/PhotoBitmap.h"
#include "imaging/PhotoStream.h"
#include "imaging/PictureDecoding.h"
#include "tests/imaging/JpegTestFiles.h"
#include "tests/imaging/PhotoTestFiles.h"
#include "tests/imaging/ResampleReference.h"

namespace imaging {
namespace {

using testing::TemporaryFolder;
using testing::WriteBytes;

// Smooth colour gradients with some noise: a photo-like picture that JPEG keeps reasonably.
WorkingImage Picture(int width, int height, unsigned seed) {
  std::mt19937 random(seed);
  WorkingImage picture(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      picture.At(x, y) = PackRgb(x * 255 / width, y * 255 / height, (x + y) % 256 / 2 + random() % 64);
  return picture;
}

std::vector<std::uint8_t> EncodeJpeg(int width, int height, int orientation = 1, bool progressive = false) {
  testing::JpegSettings settings;
  settings.progressive = progressive;
  if (orientation != 1) settings.app1Payloads.push_back(testing::OrientationBlock(orientation));
  return testing::EncodeJpeg(Picture(width, height, static_cast<unsigned>(width + height)), settings);
}

// What the normalization of a decoded picture gives: central square, fit, oracle resampling, 5-6-5.
std::vector<std::uint8_t> ExpectedValue(const WorkingImage& picture) {
  int width = picture.Width(), height = picture.Height(), left = 0;
  if (height < width) left = (width - height) / 2, width = height;
  WorkingImage square(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) square.At(x, y) = picture.At(left + x, y);
  int photoWidth = width, photoHeight = height;
  if (width > 110 || height > 120) {
    if (12LL * width <= 11LL * height) photoWidth = width * 120 / height, photoHeight = 120;
    else photoWidth = 110, photoHeight = height * 110 / width;
  }
  std::vector<std::uint8_t> value;
  WriteStoredPhoto(reference::Resample(square, photoWidth, photoHeight), value);
  return value;
}

constexpr PhotoThreads kBothThreadings[] = {PhotoThreads::Split, PhotoThreads::CallingThread};

const char* ThreadingName(PhotoThreads threads) {
  return threads == PhotoThreads::Split ? " (split)" : " (calling thread)";
}

TEST(MakePhotoStreamJpeg, StoresWhatDecodingWholeAndShrinkingGives) {
  const struct {
    const char* what;
    int width, height, orientation;
    bool progressive;
  } cases[] = {
      {"phone-photo size (split: second thread)", 3000, 4000, 1, false},
      {"large landscape", 1300, 900, 1, false},
      {"large portrait", 900, 1200, 1, false},
      {"large progressive", 1000, 1100, 1, true},
      {"ID-photo size", 358, 441, 1, false},
      {"small portrait", 300, 400, 1, false},
      {"small, not shrunk", 100, 90, 1, false},
      {"stored turned, orientation 6", 1200, 900, 6, false},
      {"stored mirrored, orientation 2", 300, 200, 2, false},
  };
  TemporaryFolder folder;
  for (const auto& c : cases) {
    const std::string path = folder.File("A00001.jpg");
    WriteBytes(path, EncodeJpeg(c.width, c.height, c.orientation, c.progressive));
    WorkingImage picture;
    ASSERT_TRUE(LoadPictureFile(picture, path)) << c.what;
    for (const PhotoThreads threads : kBothThreadings) {
      MemoryStream stream;
      ASSERT_TRUE(MakePhotoStream(path, stream, threads)) << c.what;
      EXPECT_EQ(stream.bytes, ExpectedValue(picture)) << c.what << ThreadingName(threads);
    }
  }
}

// The JPEG samples (grayscale through the quantizer, CMYK, progressive, restart markers, damaged ones):
// the streamed path agrees with whole-picture decoding, also on which files fail.
TEST(MakePhotoStreamJpeg, SamplesAgreeWithWholePictureDecoding) {
  int usable = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(CARDPHOTO_TESTDATA_DIR) + "/jpeg")) {
    if (entry.path().extension() != ".jpg") continue;
    const std::string path = entry.path().string();
    WorkingImage picture;
    const bool loads = LoadPictureFile(picture, path);
    usable += loads;
    for (const PhotoThreads threads : kBothThreadings) {
      MemoryStream stream;
      ASSERT_EQ(MakePhotoStream(path, stream, threads), loads) << path << ThreadingName(threads);
      if (loads) {
        EXPECT_EQ(stream.bytes, ExpectedValue(picture)) << path << ThreadingName(threads);
      }
    }
  }
  EXPECT_GE(usable, 12);
}

// The PNG and BMP suites through both threadings: those never take the JPEG row path, so the two must
// agree byte for byte, failures included.
TEST(MakePhotoStreamJpeg, ThreadingsAgreeOnThePngAndBmpSuites) {
  int usable = 0;
  for (const char* suite : {"pngsuite", "bmpsuite/g", "bmpsuite/q", "bmpsuite/b"})
    for (const auto& entry : std::filesystem::directory_iterator(std::string(CARDPHOTO_TESTDATA_DIR) + "/" + suite)) {
      const std::string path = entry.path().string();
      MemoryStream split, calling;
      const bool splitLoads = MakePhotoStream(path, split, PhotoThreads::Split);
      ASSERT_EQ(MakePhotoStream(path, calling, PhotoThreads::CallingThread), splitLoads) << path;
      EXPECT_EQ(calling.bytes, split.bytes) << path;
      usable += splitLoads;
    }
  EXPECT_GE(usable, 150);
}

TEST(MakePhotoStreamJpeg, DamagedJpegsFailAndPngsUnderJpegNamesLoad) {
  TemporaryFolder folder;
  const auto jpeg = EncodeJpeg(1200, 1000);
  const struct {
    const char* what;
    std::vector<std::uint8_t> bytes;
    bool usable;
  } cases[] = {
      {"cut in the middle of the scan", {jpeg.begin(), jpeg.begin() + jpeg.size() / 2}, false},
      {"end-of-image marker missing", {jpeg.begin(), jpeg.end() - 2}, false},
      {"cut in the headers", {jpeg.begin(), jpeg.begin() + 100}, false},
      {"PNG named .jpg", testing::PngBytes(WorkingImage(800, 700)), true},
      {"whole", jpeg, true},
  };
  for (const auto& c : cases) {
    WriteBytes(folder.File("photo.jpg"), c.bytes);
    for (const PhotoThreads threads : kBothThreadings) {
      MemoryStream stream;
      EXPECT_EQ(MakePhotoStream(folder.File("photo.jpg"), stream, threads), c.usable) << c.what << ThreadingName(threads);
    }
  }
}

TEST(MakePhotoStreamJpeg, ThinJpegFailsTheFit) {
  TemporaryFolder folder;
  WriteBytes(folder.File("thin.jpg"), EncodeJpeg(2, 300));
  MemoryStream stream;
  EXPECT_FALSE(MakePhotoStream(folder.File("thin.jpg"), stream));
}

// The pipeline under the JPEG path of a split photo: every row once, in order, equal to the whole decoded
// picture; a consumer that throws stops the decoding thread and the exception comes out.
TEST(PipeJpegRows, HandsOverEveryRowInOrderAndPassesExceptionsOn) {
  const auto file = EncodeJpeg(1000, 1300);  // large enough for the second thread
  WorkingImage whole;
  ASSERT_TRUE(DecodeJpeg(file, whole));
  JpegScanlineReader reader;
  ASSERT_TRUE(reader.Open(file));
  int y = 0;
  bool same = true;
  EXPECT_TRUE(PipeJpegRows(reader, [&](const std::uint32_t* row) {
    for (int x = 0; x < whole.Width(); ++x) same &= (row[x] & 0xFFFFFFu) == whole.At(x, y);
    ++y;
  }));
  EXPECT_EQ(y, 1300);
  EXPECT_TRUE(same);

  JpegScanlineReader failing;
  ASSERT_TRUE(failing.Open(file));
  int consumed = 0;
  EXPECT_THROW(PipeJpegRows(failing,
                            [&](const std::uint32_t*) {
                              if (++consumed == 300) throw std::bad_alloc();
                            }),
               std::bad_alloc);
  EXPECT_EQ(consumed, 300);
}

// A file cut in the middle of its scan: both ways of feeding rows say so, after handing over no row that
// was not decoded from the file.
TEST(PipeJpegRows, DamagedDataEndsTheRowsAndFails) {
  const auto whole = EncodeJpeg(1000, 1300);
  const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + whole.size() / 2);
  for (const auto feed : {PipeJpegRows, ReadJpegRows}) {
    JpegScanlineReader reader;
    ASSERT_TRUE(reader.Open(cut));
    int rows = 0;
    EXPECT_FALSE(feed(reader, [&](const std::uint32_t*) { ++rows; }));
    EXPECT_LT(rows, 1300);
  }
}

}  // namespace
}  // namespace imaging
