// Reading photo files safely, on real files: a file far larger than any photo is refused unread, a file
// that changes while it is read is refused, and every refusal reaches the caller with its reason.
#include "imaging/PhotoFile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "imaging/PhotoStream.h"
#include "tests/imaging/PhotoTestFiles.h"

namespace imaging {
namespace {

namespace fs = std::filesystem;
using testing::BmpBytes;
using testing::PngBytes;
using testing::PutBig;
using testing::PutLittle;
using testing::PutPngChunk;
using testing::ReadBytes;
using testing::TemporaryFolder;
using testing::WriteBytes;

const std::string kJpegSamples = std::string(CARDPHOTO_TESTDATA_DIR) + "/jpeg/";

// Puts a hook in place for one test and removes it again.
class ReadHook {
 public:
  explicit ReadHook(std::function<void(const std::string&)> hook) {
    SetPhotoFileReadHookForTesting(std::move(hook));
  }
  ~ReadHook() { SetPhotoFileReadHookForTesting({}); }
  ReadHook(const ReadHook&) = delete;
  ReadHook& operator=(const ReadHook&) = delete;
};

// The file's modification time a day back, as a folder copied with its times kept has it: a rewrite is
// then seen whatever the resolution of the file system's clock.
void AgeFile(const std::string& path) {
  std::error_code error;
  const fs::file_time_type written = fs::last_write_time(path, error);
  ASSERT_FALSE(error) << error.message();
  fs::last_write_time(path, written - std::chrono::hours(24), error);
  ASSERT_FALSE(error) << error.message();
}

// Writes bytes over the start of the file without truncating it, as a program saving in place does.
void OverwriteInPlace(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  std::fclose(file);
}

WorkingImage Picture(int width, int height, int shade = 0) {
  WorkingImage image(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.At(x, y) = PackRgb(x * 7 & 255, y * 5 & 255, (x + y + shade) & 255);
  return image;
}

TEST(PhotoFile, AFileOverTheLimitIsRefusedUnread) {
  TemporaryFolder folder;
  // Just past 4 GiB, where a size in 32 bits would wrap round to 3 bytes. Sparse on Linux; NTFS allocates
  // the whole length, and under Wine here a 64 GiB length was refused ("File too large").
  const std::string huge = folder.File("huge.jpg");
  WriteBytes(huge, {0xFF, 0xD8, 0xFF});
  fs::resize_file(huge, (std::uint64_t{4} << 30) + 3);
  const std::string overLimit = folder.File("over.png");
  WriteBytes(overLimit, PngBytes(Picture(4, 4)));
  fs::resize_file(overLimit, kMaxPhotoFileBytes + 1);

  for (const std::string& path : {huge, overLimit}) {
    std::vector<std::uint8_t> bytes = {1, 2, 3};
    EXPECT_EQ(ReadPhotoFile(path, bytes), PhotoFileRead::TooLarge) << path;
    EXPECT_TRUE(bytes.empty());
    MemoryStream stream;
    EXPECT_EQ(MakePhotoStreamDetailed(path, stream), PhotoFailure::FileTooLarge) << path;
  }
}

TEST(PhotoFile, AFileThatChangesWhileItIsReadIsRefused) {
  const std::vector<std::uint8_t> original = BmpBytes(Picture(30, 40));
  const std::vector<std::uint8_t> other = BmpBytes(Picture(30, 40, 100));
  ASSERT_EQ(original.size(), other.size());
  const struct {
    const char* what;
    std::function<void(const std::string&)> change;
    PhotoFileRead expected;
  } cases[] = {
      {"left alone", [](const std::string&) {}, PhotoFileRead::Read},
      {"rewritten in place, same length", [&](const std::string& path) { OverwriteInPlace(path, other); },
       PhotoFileRead::Changed},
      {"grown", [](const std::string& path) { fs::resize_file(path, fs::file_size(path) + 1); },
       PhotoFileRead::Changed},
      {"cut short", [](const std::string& path) { fs::resize_file(path, 100); }, PhotoFileRead::Changed},
#ifndef _WIN32  // Windows does not let another file take the name of a file that is open
      {"replaced by another file", [&](const std::string& path) {
         WriteBytes(path + ".new", other);
         fs::rename(path + ".new", path);
       },
       PhotoFileRead::Changed},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TemporaryFolder folder;
    const std::string path = folder.File("A00001.bmp");
    WriteBytes(path, original);
    AgeFile(path);
    int calls = 0;
    ReadHook hook([&](const std::string& read) {
      ++calls;
      EXPECT_EQ(read, path);
      c.change(path);
    });
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(ReadPhotoFile(path, bytes), c.expected);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(bytes, c.expected == PhotoFileRead::Read ? original : std::vector<std::uint8_t>());

    // The normalizer gives the reason and leaves the stream alone.
    WriteBytes(path, original);
    AgeFile(path);
    MemoryStream stream;
    stream.bytes = {7};
    const PhotoFailure failure = MakePhotoStreamDetailed(path, stream);
    EXPECT_EQ(failure, c.expected == PhotoFileRead::Read ? PhotoFailure::None : PhotoFailure::FileChanged);
    if (failure != PhotoFailure::None) {
      EXPECT_EQ(stream.bytes, std::vector<std::uint8_t>{7});
    }
  }
}

// A 1-bit BMP claiming 30000 x 30000 with all its rows on disk (113 MB, sparse): a file within the size
// limit whose picture would need a working image of 3.6 GB. Refused from its header.
TEST(PhotoFile, AHugeUncompressedBmpIsRefusedFromItsHeader) {
  TemporaryFolder folder;
  const std::string path = folder.File("huge.bmp");
  const std::uint32_t stride = (30000 + 31) / 32 * 4;
  const std::uint32_t pixelOffset = 14 + 40 + 8;
  std::vector<std::uint8_t> header = {'B', 'M'};
  PutLittle(header, pixelOffset + stride * 30000, 4);
  PutLittle(header, 0, 4);
  PutLittle(header, pixelOffset, 4);
  PutLittle(header, 40, 4);
  PutLittle(header, 30000, 4);
  PutLittle(header, 30000, 4);
  PutLittle(header, 1, 2);  // planes
  PutLittle(header, 1, 2);  // bits per pixel
  for (int i = 0; i < 6; ++i) PutLittle(header, 0, 4);
  PutLittle(header, 0x000000, 4);  // palette: black, white
  PutLittle(header, 0xFFFFFF, 4);
  WriteBytes(path, header);
  fs::resize_file(path, pixelOffset + std::uint64_t{stride} * 30000);
  ASSERT_LT(fs::file_size(path), kMaxPhotoFileBytes);

  MemoryStream stream;
  EXPECT_EQ(MakePhotoStreamDetailed(path, stream), PhotoFailure::PictureTooLarge);
}

// A PNG IHDR claiming the given size, then nothing of the picture.
std::vector<std::uint8_t> PngHeaderOnly(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutBig(header, width);
  PutBig(header, height);
  header.insert(header.end(), {8, 2, 0, 0, 0});
  PutPngChunk(out, "IHDR", header);
  return out;
}

// The JPEG sample with its frame header's height and width replaced.
std::vector<std::uint8_t> JpegClaiming(std::uint16_t width, std::uint16_t height) {
  std::vector<std::uint8_t> jpeg = ReadBytes(kJpegSamples + "testorig.jpg");
  for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = height >> 8, jpeg[i + 6] = height & 255;
      jpeg[i + 7] = width >> 8, jpeg[i + 8] = width & 255;
      break;
    }
  }
  return jpeg;
}

TEST(PhotoFile, EveryRefusalNamesItsReason) {
  TemporaryFolder folder;
  std::vector<std::uint8_t> cutJpeg = ReadBytes(kJpegSamples + "testorig.jpg");
  cutJpeg.resize(cutJpeg.size() / 2);
  fs::create_directory(folder.File("folder.jpg"));
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;  // empty: nothing written
    PhotoFailure expected;
  } cases[] = {
      {"good.png", PngBytes(Picture(20, 30)), PhotoFailure::None},
      {"missing.jpg", {}, PhotoFailure::MissingFile},
      {"folder.jpg", {}, PhotoFailure::MissingFile},
      {"text.jpg", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'h', 'o', 't', 'o'}, PhotoFailure::UnsupportedFormat},
      {"gif.png", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}, PhotoFailure::UnsupportedFormat},
      {"cut.jpg", cutJpeg, PhotoFailure::DamagedPicture},
      {"jpeg.png", ReadBytes(kJpegSamples + "testorig.jpg"), PhotoFailure::DamagedPicture},
      {"thin.bmp", BmpBytes(Picture(1, 200)), PhotoFailure::DamagedPicture},
      {"huge.png", PngHeaderOnly(10000, 10000), PhotoFailure::PictureTooLarge},
      {"huge.jpg", JpegClaiming(9000, 9000), PhotoFailure::PictureTooLarge},
      {"wide.jpg", JpegClaiming(60000, 2), PhotoFailure::DamagedPicture},  // few pixels: damaged data
  };
  for (const auto& c : cases) {
    if (!c.bytes.empty()) WriteBytes(folder.File(c.name), c.bytes);
    MemoryStream stream;
    EXPECT_EQ(MakePhotoStreamDetailed(folder.File(c.name), stream), c.expected) << c.name;
  }
}

// On Linux a file without read permission; on Windows a file another program holds open without sharing
// it (a picture editor, a virus scanner), which is the usual unreadable photo there.
TEST(PhotoFile, AFileThatCannotBeReadSaysSo) {
  TemporaryFolder folder;
  const std::string path = folder.File("locked.png");
  WriteBytes(path, PngBytes(Picture(4, 4)));
#ifdef _WIN32
  const HANDLE holder = CreateFileW(fs::path(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  struct Closer {
    HANDLE handle;
    ~Closer() { CloseHandle(handle); }
  } closer{holder};
#else
  if (::geteuid() == 0) GTEST_SKIP() << "the superuser reads every file";
  fs::permissions(path, fs::perms::none);
#endif
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(ReadPhotoFile(path, bytes), PhotoFileRead::Unreadable);
  MemoryStream stream;
  EXPECT_EQ(MakePhotoStreamDetailed(path, stream), PhotoFailure::UnreadableFile);
}

}  // namespace
}  // namespace imaging
