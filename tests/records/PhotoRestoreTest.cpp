// A restore verifies before it writes, on a real database: only a value that can be a stored photo, from a
// regular file of the folder, to the reader it belonged to, and after a run only over the photo that run
// stored. Each crafted folder below once became (or erased) a reader's photo.
#include "records/PhotoRestore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "app/FilePath.h"
#include "imaging/JpegTestFiles.h"
#include "imaging/PhotoTestFiles.h"
#include "records/PhotoExport.h"
#include "records/RunBackup.h"
#include "support/ScratchFolder.h"
#include "support/TestDatabase.h"

namespace {

using data::Bytes;
using importtest::ScratchFolder;
using photoimport::PhotoRestore;
using testsupport::Backend;
using testsupport::TestDatabase;

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class PhotoRestoreTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    db_ = TestDatabase::Create(GetParam());
    if (!db_) GTEST_SKIP() << "no database server";
    db_->Exec("insert into lib_people (pe_id, pe_name) values ('R00005', '甲')");
    db_->Exec("insert into lib_people (pe_id, pe_name) values ('R00010', '乙')");
    session().WritePhoto("R00005", photo5_);
    session().WritePhoto("R00010", photo10_);
  }
  data::Session& session() { return db_->AdminSession(); }
  Bytes Photo(const std::string& card) { return session().ReadPhoto(card).value_or(Bytes()); }

  // What a restore of the folder says of each file ("" for one written back, or that would be), the
  // listing's problems included.
  std::map<std::string, std::string> Restore(const std::filesystem::path& folder, bool dryRun) {
    const photoimport::BackupListing listing = photoimport::ListBackupFolder(folder);
    EXPECT_EQ(listing.error, "");
    std::map<std::string, std::string> said;
    for (const std::string& problem : listing.problems) said[problem.substr(0, problem.find(':'))] = problem;
    PhotoRestore restore(session(), dryRun, scratch_.PathOf("replaced"));
    for (const photoimport::BackupFile& file : listing.files)
      said[app::Utf8FromPath(file.path.filename())] = restore.File(file);
    return said;
  }

  // An export of both readers into a folder of the scratch folder.
  std::filesystem::path Export(const std::string& name) {
    const std::filesystem::path folder = app::PathFromUtf8(scratch_.PathOf(name));
    photoimport::PhotoBackup files(folder);
    for (const photoimport::PhotoOwner& reader : photoimport::ReadersWithPhoto(session())) {
      std::string reason;
      EXPECT_EQ(photoimport::ExportReader(session(), files, reader, reason), photoimport::Exported::Written) << reason;
    }
    return folder;
  }

  std::unique_ptr<TestDatabase> db_;
  ScratchFolder scratch_;
  const Bytes photo5_ = testsupport::MakeSamplePhoto(4, 5, 0x001F), photo10_ = testsupport::MakeSamplePhoto(4, 5, 0x07E0);
  const Bytes other_ = testsupport::MakeSamplePhoto(3, 3, 0xF800);
};

// Folders without a manifest (made before backups recorded their owners, or by hand) and tampered
// exports: a file that holds no photo is never written, in a dry run as in a real one, and the reader
// keeps the photo it has.
TEST_P(PhotoRestoreTest, WritesOnlyWhatCanBeAStoredPhoto) {
  const imaging::WorkingImage picture(3, 2);
  const Bytes jpeg = imaging::testing::EncodeJpeg(picture), png = imaging::testing::PngBytes(picture);
  const auto write = [](const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  };
  const struct Case {
    const char* what;
    std::function<void(const std::filesystem::path& folder)> make;
    const char* file;
    const char* refusal;  // nullptr: written back
  } cases[] = {
      {"a text file named .bmp", [&](auto& f) { write(f / "R00005.bmp", "hello, not a picture"); }, "R00005.bmp",
       "holds no picture"},
      {"a README named .jpg", [&](auto& f) { write(f / "R00005.jpg", "# README\nnothing here\n"); }, "R00005.jpg",
       "holds no picture"},
      {"an empty file", [&](auto& f) { write(f / "R00005.bmp", ""); }, "R00005.bmp", "an empty file is no photo"},
      {"a bitmap's first bytes only", [&](auto& f) { write(f / "R00005.bmp", "BM\x10"); }, "R00005.bmp",
       "not a sound bitmap"},
      {"a bitmap named .jpg", [&](auto& f) { write(f / "R00005.jpg", Text(other_)); }, "R00005.jpg",
       "not what its extension says"},
      {"a JPEG cut short", [&](auto& f) { write(f / "R00005.jpg", Text(jpeg).substr(0, jpeg.size() / 2)); },
       "R00005.jpg", "damaged JPEG"},
      {"a PNG cut short", [&](auto& f) { write(f / "R00005.png", Text(png).substr(0, png.size() - 20)); },
       "R00005.png", "damaged PNG"},
#ifndef _WIN32
      {"a link to a system file", [&](auto& f) { std::filesystem::create_symlink("/etc/passwd", f / "R00005.bmp"); },
       "R00005.bmp", "a link"},
      {"a link to a sound bitmap outside the folder",
       [&](auto& f) {
         write(f.parent_path() / "outside.bmp", Text(other_));
         std::filesystem::create_symlink(f.parent_path() / "outside.bmp", f / "R00005.bmp");
       },
       "R00005.bmp", "a link"},
#endif
      {"a sound bitmap", [&](auto& f) { write(f / "R00005.bmp", Text(other_)); }, "R00005.bmp", nullptr},
      {"a JPEG", [&](auto& f) { write(f / "R00005.jpg", Text(jpeg)); }, "R00005.jpg", nullptr},
      {"a PNG", [&](auto& f) { write(f / "R00005.png", Text(png)); }, "R00005.png", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const bool dryRun : {true, false}) {
      session().WritePhoto("R00005", photo5_);
      ScratchFolder scratch;
      const std::filesystem::path folder = app::PathFromUtf8(scratch.PathOf("backup"));
      std::filesystem::create_directory(folder);
      c.make(folder);
      const std::map<std::string, std::string> said = Restore(folder, dryRun);
      ASSERT_TRUE(said.contains(c.file));
      if (c.refusal) {
        EXPECT_NE(said.at(c.file).find(c.refusal), std::string::npos) << said.at(c.file);
        EXPECT_EQ(Photo("R00005"), photo5_);
      } else {
        EXPECT_EQ(said.at(c.file), "");
        if (!dryRun) {
          EXPECT_NE(Photo("R00005"), photo5_);
        }
      }
    }
  }
}

// An export records whose photos it holds: a file changed or added since, or a record whose file is gone,
// is refused by name.
TEST_P(PhotoRestoreTest, AnExportsFilesMustBeTheOnesItRecorded) {
  const std::filesystem::path folder = Export("export");
  std::ofstream(folder / "R00010.bmp", std::ios::binary | std::ios::trunc) << Text(other_);  // a sound bitmap, but not the one exported
  std::ofstream(folder / "R00011.bmp", std::ios::binary) << Text(other_);
  session().WritePhoto("R00005", other_);
  session().WritePhoto("R00010", other_);
  std::map<std::string, std::string> said = Restore(folder, false);
  EXPECT_EQ(said.at("R00005.bmp"), "");
  EXPECT_NE(said.at("R00010.bmp").find("no longer holds the photo recorded"), std::string::npos);
  EXPECT_NE(said.at("R00011.bmp").find("not recorded in manifest.csv"), std::string::npos);
  EXPECT_EQ(Photo("R00005"), photo5_);

  std::filesystem::remove(folder / "R00010.bmp");
  said = Restore(folder, true);
  EXPECT_NE(said.at("R00010.bmp").find("the file is missing"), std::string::npos);
}

// Reader R00010 renumbered R00005 after the export (the old R00005 left): the old R00005's photo must not
// go to the new R00005, and the photo of R00010 has no reader any more.
TEST_P(PhotoRestoreTest, ARenumberedReaderNeverReceivesAnothersPhoto) {
  const std::filesystem::path folder = Export("export");
  db_->Exec("delete from lib_people where pe_id='R00005'");
  db_->Exec("update lib_people set pe_id='R00005' where pe_id='R00010'");
  session().WritePhoto("R00005", other_);
  for (const bool dryRun : {true, false}) {
    const std::map<std::string, std::string> said = Restore(folder, dryRun);
    EXPECT_NE(said.at("R00005.bmp").find("the card number R00005 now belongs to 乙, this photo was 甲's"),
              std::string::npos)
        << said.at("R00005.bmp");
    EXPECT_NE(said.at("R00010.bmp").find("no reader has the card number R00010"), std::string::npos);
    EXPECT_EQ(Photo("R00005"), other_);
  }
}

// A run's backup puts a photo back only while the reader still holds the photo that run stored.
TEST_P(PhotoRestoreTest, ARunsBackupIsPutBackOnlyOverThePhotoTheRunStored) {
  photoimport::RunBackup backup(app::PathFromUtf8(scratch_.PathOf("runs")), std::chrono::system_clock::now());
  const Bytes stored5 = testsupport::MakeSamplePhoto(2, 2, 0x0001), stored10 = testsupport::MakeSamplePhoto(2, 2, 0x0002);
  ASSERT_EQ(backup.Keep({"R00005", "甲"}, photo5_, stored5), "");
  ASSERT_EQ(backup.Keep({"R00010", "乙"}, photo10_, stored10), "");
  session().WritePhoto("R00005", stored5);
  session().WritePhoto("R00010", other_);  // changed after the run by someone else
  const std::map<std::string, std::string> said = Restore(backup.folder(), false);
  EXPECT_EQ(said.at("R00005.bmp"), "");
  EXPECT_EQ(Photo("R00005"), photo5_);
  EXPECT_NE(said.at("R00010.bmp").find("was changed after the photo that replaced this one was stored"),
            std::string::npos)
      << said.at("R00010.bmp");
  EXPECT_EQ(Photo("R00010"), other_);
  EXPECT_EQ(Restore(backup.folder(), false).at("R00005.bmp"), "") << "restored already: nothing to do";
}

// Card numbers are kept as the reader table holds them (a leading blank is part of one), and one too long
// for a file name is saved under another name that the manifest records: the export leaves no reader out
// and the restore finds each one again.
TEST_P(PhotoRestoreTest, AnExportLeavesNoReaderOutAndARestoreFindsEachAgain) {
  std::string longCard;
  for (int i = 0; i < 200; ++i) longCard += "书";
  if (GetParam() == Backend::Postgres) db_->Exec("alter table lib_people alter column pe_id type varchar(800)");
  db_->Exec("insert into lib_people (pe_id, pe_name) values (' R00007', '丙')");
  db_->Exec("insert into lib_people (pe_id, pe_name) values ('" + longCard + "', '丁')");
  session().WritePhoto(" R00007", other_);
  session().WritePhoto(longCard, other_);

  const std::filesystem::path folder = app::PathFromUtf8(scratch_.PathOf("export"));
  photoimport::PhotoBackup files(folder);
  std::map<std::string, photoimport::Exported> exported;
  for (const photoimport::PhotoOwner& reader : photoimport::ReadersWithPhoto(session())) {
    std::string reason;
    exported[reader.cardNumber] = photoimport::ExportReader(session(), files, reader, reason);
    EXPECT_EQ(reason, "") << reader.cardNumber;
  }
  EXPECT_EQ(exported.size(), 4u);
  EXPECT_EQ(exported.at(" R00007"), photoimport::Exported::Written);
  EXPECT_EQ(exported.at(longCard), photoimport::Exported::WrittenUnderOtherName);
  EXPECT_EQ(app::Utf8FromPath(files.SavedFile(longCard).stem()), photoimport::OtherBackupFileStem(longCard));

  db_->Exec("update lib_people set pe_photo = null");
  const std::map<std::string, std::string> said = Restore(folder, false);
  EXPECT_EQ(said.size(), 4u);
  for (const auto& [file, reason] : said) EXPECT_EQ(reason, "") << file;
  EXPECT_EQ(Photo(" R00007"), other_);
  EXPECT_EQ(Photo(longCard), other_);
}

INSTANTIATE_TEST_SUITE_P(Backends, PhotoRestoreTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

}  // namespace
