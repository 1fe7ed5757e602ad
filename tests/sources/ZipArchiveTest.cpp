// Zip archives as the photo folder: which entries are listed under which names, what each entry reads
// as, and the archives and entries that are refused (damaged, encrypted, zip bombs).
#include "sources/ZipArchive.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <string>
#include <vector>

#include "app/Text.h"
#include "support/ScratchFolder.h"
#include "support/ZipFixture.h"

namespace {

using importtest::RawZipEntry;
using importtest::RawZipWriter;
using importtest::ScratchFolder;
using photoimport::ZipArchive;
using photoimport::ZipLimits;

constexpr std::uint64_t kMiB = 1 << 20;

class ZipArchiveTest : public ::testing::Test {
 protected:
  std::unique_ptr<ZipArchive> OpenBuilt(const std::vector<RawZipEntry>& entries, const ZipLimits& limits = {}) {
    return OpenBytes(RawZipWriter::Build(entries), limits);
  }
  std::unique_ptr<ZipArchive> OpenBytes(const std::string& bytes, const ZipLimits& limits = {}) {
    scratch_.Write("photos.zip", bytes);
    reason_.clear();
    auto archive = ZipArchive::Open(scratch_.PathOf("photos.zip"), reason_, limits);
    EXPECT_TRUE(archive || !reason_.empty()) << "a refusal gives its reason";
    return archive;
  }

  static std::vector<std::string> Names(const ZipArchive& archive) {
    std::vector<std::string> names;
    for (const auto& entry : archive.Entries()) names.push_back(entry.name);
    return names;
  }
  // The entry's content, or "error: reason".
  static std::string ReadEntry(ZipArchive& archive, const std::string& name) {
    for (const auto& entry : archive.Entries()) {
      if (entry.name != name) continue;
      std::vector<std::uint8_t> bytes;
      std::string reason;
      if (!archive.Read(entry.index, bytes, reason)) return "error: " + reason;
      EXPECT_TRUE(reason.empty());
      return std::string(bytes.begin(), bytes.end());
    }
    return "not listed";
  }

  ScratchFolder scratch_;
  std::string reason_;
};

TEST_F(ZipArchiveTest, NamesAreReadAsTheArchiveDeclaresThemOrElseAsGbk) {
  const std::string both = "张王.jpg";  // its UTF-8 bytes are also valid GBK
  const std::string bothAsGbk = app::GbkToUtf8(both);
  ASSERT_EQ(bothAsGbk.find("\xEF\xBF\xBD"), std::string::npos) << "fixture: valid as GBK";
  ASSERT_NE(bothAsGbk, both);
  const std::string gbkName = app::Utf8ToGbk("李四.jpg");
  ASSERT_FALSE(app::IsValidUtf8(gbkName));

  auto archive = OpenBuilt({
      RawZipEntry("A001.jpg", "ascii"),
      RawZipEntry("张三.jpg", "flagged").Utf8Flag(),
      RawZipEntry(gbkName, "gbk").Deflate(),
      // The Unicode path field names the entry, whatever the raw name says.
      RawZipEntry("W5.jpg", "extra field").Extra(importtest::UnicodePathExtra("W5.jpg", "王五.jpg")),
      RawZipEntry(both, "both readings"),
      RawZipEntry("€.jpg", "UTF-8, not GBK"),
      RawZipEntry("sub/"),
      RawZipEntry("sub/A002.jpg", "in a sub-folder"),
  });
  ASSERT_TRUE(archive) << reason_;
  EXPECT_EQ(archive->Folder(), "");
  const std::vector<std::string> expected = {"A001.jpg", "张三.jpg", "李四.jpg",   "王五.jpg",
                                             both,       bothAsGbk,  "€.jpg"};
  EXPECT_EQ(Names(*archive), expected);
  const std::pair<std::string, std::string> contents[] = {
      {"A001.jpg", "ascii"},          {"张三.jpg", "flagged"}, {"李四.jpg", "gbk"},
      {"王五.jpg", "extra field"},     {both, "both readings"}, {bothAsGbk, "both readings"},
      {"€.jpg", "UTF-8, not GBK"}};
  for (const auto& [name, content] : contents) EXPECT_EQ(ReadEntry(*archive, name), content) << name;
  EXPECT_EQ(archive->Entries()[4].index, archive->Entries()[5].index) << "two readings, one entry";
}

TEST_F(ZipArchiveTest, ASingleFolderAtTheRootIsThePhotoFolder) {
  const RawZipEntry macFork("__MACOSX/照片/._A1.jpg", "resource fork");
  const struct {
    const char* name;
    std::vector<RawZipEntry> entries;
    std::string folder;
    std::vector<std::string> listed;
  } cases[] = {
      {"one folder, with a folder entry and a sub-folder",
       {RawZipEntry("照片/").Utf8Flag(), RawZipEntry("照片/A1.jpg", "a1").Utf8Flag(),
        RawZipEntry("照片/old/A2.jpg").Utf8Flag(), macFork},
       "照片",
       {"A1.jpg"}},
      {"one folder without a folder entry, GBK", {RawZipEntry(app::Utf8ToGbk("照片/A1.jpg"), "a1")}, "照片", {"A1.jpg"}},
      {"a file beside the folder: the root is listed",
       {RawZipEntry("photos/A1.jpg"), RawZipEntry("A3.jpg", "a3")},
       "",
       {"A3.jpg"}},
      {"two folders: the root holds no files", {RawZipEntry("a/A1.jpg"), RawZipEntry("b/A2.jpg")}, "", {}},
      // What senders and their systems put beside the photo folder is no photo: the folder is still found.
      {"a note beside the folder",
       {RawZipEntry("照片/A1.jpg", "a1").Utf8Flag(), RawZipEntry("说明.txt", "read me").Utf8Flag()},
       "照片",
       {"A1.jpg"}},
      {"macOS leftovers at the root",
       {RawZipEntry(".DS_Store", "x"), RawZipEntry("photos/A1.jpg", "a1"), RawZipEntry("photos/.DS_Store"),
        RawZipEntry("__MACOSX/"), RawZipEntry("__MACOSX/._photos"), macFork, RawZipEntry(".hidden/A9.jpg")},
       "photos",
       {"A1.jpg", ".DS_Store"}},
      {"an empty archive", {}, "", {}},
      {"one empty folder", {RawZipEntry("照片/").Utf8Flag()}, "照片", {}},
      // An archiver flags a name UTF-8 only where it does not fit the local code page: the folder's name
      // is GBK in one entry and UTF-8 in the other, and it is still one folder.
      {"one folder named in GBK and in flagged UTF-8",
       {RawZipEntry(app::Utf8ToGbk("照片/A1.jpg"), "a1"), RawZipEntry("照片/€.jpg", "euro").Utf8Flag()},
       "照片",
       {"A1.jpg", "€.jpg"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto archive = OpenBuilt(c.entries);
    ASSERT_TRUE(archive) << reason_;
    EXPECT_EQ(archive->Folder(), c.folder);
    EXPECT_EQ(Names(*archive), c.listed);
  }
  auto archive = OpenBuilt(cases[0].entries);
  EXPECT_EQ(ReadEntry(*archive, "A1.jpg"), "a1");
}

// An archive inside the archive is not opened, but named, so that its photos are not left out unseen.
TEST_F(ZipArchiveTest, ANestedArchiveIsNamed) {
  auto archive = OpenBuilt({RawZipEntry("照片/A1.jpg", "a1").Utf8Flag(), RawZipEntry("照片/二班.zip", "PK").Utf8Flag(),
                            RawZipEntry("旧.rar", "Rar!").Utf8Flag()});
  ASSERT_TRUE(archive) << reason_;
  EXPECT_EQ(archive->Folder(), "照片");
  ASSERT_EQ(archive->Warnings().size(), 2u);
  EXPECT_NE(archive->Warnings()[0].find("二班.zip"), std::string::npos) << archive->Warnings()[0];
  EXPECT_NE(archive->Warnings()[1].find("旧.rar"), std::string::npos) << archive->Warnings()[1];
  EXPECT_EQ(ReadEntry(*archive, "A1.jpg"), "a1");
}

TEST_F(ZipArchiveTest, DamagedArchivesAreRefusedWithAReason) {
  const std::string good = RawZipWriter::Build(
      {RawZipEntry("A1.jpg", "photo bytes").Deflate(), RawZipEntry("A2.jpg", "more photo bytes")});
  std::string localHeaderDamaged = good;
  localHeaderDamaged[26] = 'X';  // the first local header's name length no longer matches the directory
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"not a zip archive", "JFIF this is a picture, not an archive"},
      {"empty file", ""},
      {"directory cut off", good.substr(0, good.size() - 30)},
      {"local header does not match the directory", localHeaderDamaged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(OpenBytes(c.bytes));
    EXPECT_NE(reason_.find("压缩包"), std::string::npos) << reason_;
  }
  std::string missingReason;
  EXPECT_FALSE(ZipArchive::Open(scratch_.PathOf("missing.zip"), missingReason));
  EXPECT_NE(missingReason.find("missing.zip"), std::string::npos) << missingReason;
}

TEST_F(ZipArchiveTest, ADamagedEntryFailsAloneAndTheOthersStillRead) {
  std::string bytes = RawZipWriter::Build(
      {RawZipEntry("A1.jpg", std::string(4000, 'x') + "tail").Deflate(), RawZipEntry("A2.jpg", "fine")});
  bytes[40] ^= 0x55;  // inside the first entry's compressed data
  auto archive = OpenBytes(bytes);
  ASSERT_TRUE(archive) << reason_;
  EXPECT_EQ(ReadEntry(*archive, "A1.jpg").rfind("error: 压缩包中的此文件已损坏", 0), 0u) << ReadEntry(*archive, "A1.jpg");
  EXPECT_EQ(ReadEntry(*archive, "A2.jpg"), "fine");
}

TEST_F(ZipArchiveTest, AnEncryptedEntryIsListedWithItsReason) {
  const zip_uint16_t method =
      zip_encryption_method_supported(ZIP_EM_AES_256, 1) ? ZIP_EM_AES_256 : ZIP_EM_TRAD_PKWARE;
  ASSERT_TRUE(zip_encryption_method_supported(method, 1)) << "libzip cannot write encrypted entries here";
  const std::string path = scratch_.PathOf("encrypted.zip");
  int code = 0;
  zip_t* writer = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  ASSERT_NE(writer, nullptr) << code;
  static const char kSecret[] = "secret photo", kPlain[] = "plain photo";
  const zip_int64_t secret = zip_file_add(writer, "A1.jpg", zip_source_buffer(writer, kSecret, sizeof kSecret - 1, 0), 0);
  zip_file_add(writer, "A2.jpg", zip_source_buffer(writer, kPlain, sizeof kPlain - 1, 0), 0);
  ASSERT_EQ(zip_file_set_encryption(writer, static_cast<zip_uint64_t>(secret), method, "password"), 0);
  ASSERT_EQ(zip_close(writer), 0);

  std::string reason;
  auto archive = ZipArchive::Open(path, reason);
  ASSERT_TRUE(archive) << reason;
  ASSERT_EQ(archive->Entries().size(), 2u);
  EXPECT_NE(archive->Entries()[0].reason.find("加密"), std::string::npos);
  EXPECT_EQ(archive->Entries()[1].reason, "");
  EXPECT_EQ(ReadEntry(*archive, "A1.jpg"), "error: " + archive->Entries()[0].reason);
  EXPECT_EQ(ReadEntry(*archive, "A2.jpg"), "plain photo");
}

// An entry may be as large as a photo file on disk, and no larger.
TEST_F(ZipArchiveTest, AnEntryLargerThanTheLimitIsNotInflated) {
  const std::string limit = std::to_string(imaging::kMaxPhotoFileBytes >> 20) + " MiB";
  const std::uint64_t tooLarge = imaging::kMaxPhotoFileBytes + kMiB;
  // Honest: the directory says so, and the entry is refused from the listing on.
  auto archive = OpenBuilt({RawZipEntry("big.bmp").Zeros(tooLarge).Deflate(), RawZipEntry("A1.jpg", "small")});
  ASSERT_TRUE(archive) << reason_;
  EXPECT_NE(archive->Entries()[0].reason.find(limit), std::string::npos) << archive->Entries()[0].reason;
  EXPECT_EQ(ReadEntry(*archive, "big.bmp"), "error: " + archive->Entries()[0].reason);
  EXPECT_EQ(ReadEntry(*archive, "A1.jpg"), "small");

  // Lying: the directory says 1000 bytes, the data inflates to more. Reading stops at the limit.
  archive = OpenBuilt({RawZipEntry("bomb.jpg").Zeros(tooLarge).Deflate().Claim(1000)});
  ASSERT_TRUE(archive) << reason_;
  EXPECT_EQ(archive->Entries()[0].reason, "");
  EXPECT_NE(ReadEntry(*archive, "bomb.jpg").find(limit), std::string::npos) << ReadEntry(*archive, "bomb.jpg");
}

TEST_F(ZipArchiveTest, AllReadsTogetherStayWithinTheTotalBound) {
  // Small limits so that the test inflates little: 1 MiB per entry, 3 MiB + 1 x the archive in all.
  const ZipLimits limits{.maxEntrySize = kMiB, .totalFloor = 3 * kMiB, .totalRatio = 1};
  std::vector<RawZipEntry> entries;
  for (const char* name : {"A1.jpg", "A2.jpg", "A3.jpg", "A4.jpg", "A5.jpg"})
    entries.push_back(RawZipEntry(name).Zeros(900 * 1024).Deflate().Claim(10));
  entries.push_back(RawZipEntry("A6.jpg", "tiny"));
  auto archive = OpenBuilt(entries, limits);
  ASSERT_TRUE(archive) << reason_;
  std::vector<std::string> outcomes;
  for (const auto& entry : archive->Entries()) {
    const std::string read = ReadEntry(*archive, entry.name);
    outcomes.push_back(read.find("总量超过上限") != std::string::npos ? "bound"
                       : read.find("长度与目录不符") != std::string::npos ? "size lie"
                                                                          : read);
  }
  // Each lying entry inflates 900 KiB before its size is found wrong; the fourth would pass the bound.
  const std::vector<std::string> expected = {"size lie", "size lie", "size lie", "bound", "bound", "bound"};
  EXPECT_EQ(outcomes, expected);
}

TEST(ZipArchivePathTest, ZipExtensionInAnyCase) {
  EXPECT_TRUE(photoimport::IsZipArchivePath("/p/photos.zip"));
  EXPECT_TRUE(photoimport::IsZipArchivePath("C:\\p\\照片.ZIP"));
  EXPECT_FALSE(photoimport::IsZipArchivePath("/p/photos.zip/"));
  EXPECT_FALSE(photoimport::IsZipArchivePath("/p/zip"));
  EXPECT_FALSE(photoimport::IsZipArchivePath("/p/photos"));
}

}  // namespace
