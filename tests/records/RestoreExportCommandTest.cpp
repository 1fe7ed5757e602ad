// card-photo export and card-photo restore, run as programs against the demo readers: a full export
// written back into an emptied photo column gives every value back byte for byte.
#include <gtest/gtest.h>

#ifdef _WIN32
TEST(RestoreExportCommandTest, LinuxOnly) { GTEST_SKIP() << "runs card-photo through a POSIX shell; WindowsPathsTest.ExportAndRestoreThroughChineseFolders runs both commands on Windows"; }
#else

#include <filesystem>
#include <map>
#include <string>

#include "imaging/JpegTestFiles.h"
#include "imaging/PhotoTestFiles.h"
#include "support/CommandRunner.h"
#include "support/ScratchFolder.h"
#include "support/TestDatabase.h"

namespace {

using importtest::CommandOutput;
using importtest::ScratchFolder;
using importtest::ShellQuoted;
using testsupport::Backend;
using testsupport::TestDatabase;
using Photos = std::map<std::string, data::Bytes>;  // trimmed card number -> pe_photo

data::Bytes WithBlobHeader(const data::Bytes& bitmap) {
  const auto n = static_cast<std::uint32_t>(bitmap.size());
  data::Bytes value(8 + bitmap.size());
  value[0] = 1, value[3] = 1;
  for (int i = 0; i < 4; ++i) value[4 + i] = static_cast<std::uint8_t>(n >> (8 * i));
  std::copy(bitmap.begin(), bitmap.end(), value.begin() + 8);
  return value;
}

class RestoreExportCommandTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    db_ = TestDatabase::Create(GetParam(), {.withDemoData = true});
    if (!db_) GTEST_SKIP() << "no database server";
    dsn_ = db_->RegisterDataSource("CardPhotoTransfer");
  }

  // card-photo COMMAND ARGUMENTS --dsn ..., the password passed on standard input, or as the password
  // option says.
  CommandOutput Run(const std::string& command, const std::string& arguments,
                    const std::string& passwordOption = "--password -") {
    return importtest::RunCommandLine("printf '%s\\n' " + ShellQuoted(dsn_.password) + " | " + importtest::kCardPhoto +
                                          " " + command + " " + arguments + " --dsn " + dsn_.name + " --user " +
                                          ShellQuoted(dsn_.user) + " " + passwordOption,
                                      scratch_);
  }

  Photos StoredPhotos() {
    auto query = db_->AdminSession().Open({"select pe_id, pe_photo from lib_people where pe_photo is not null"});
    Photos photos;
    for (; !query->Eof(); query->Next()) {
      std::string card = query->AsString("pe_id");
      card.erase(card.find_last_not_of(' ') + 1);
      photos[card] = query->AsBytes("pe_photo").value_or(data::Bytes());
    }
    return photos;
  }

  std::string Folder(const std::string& name) const { return scratch_.PathOf(name); }

  std::unique_ptr<TestDatabase> db_;
  TestDatabase::Dsn dsn_;
  ScratchFolder scratch_;
};

TEST_P(RestoreExportCommandTest, ExportThenRestoreIntoAnEmptiedColumnGivesEveryValueBack) {
  data::Session& admin = db_->AdminSession();
  admin.WritePhoto("A00001", testsupport::MakeSamplePhoto(7, 3, 0x07E0));
  const imaging::WorkingImage picture(3, 2);
  admin.WritePhoto("A00003", imaging::testing::EncodeJpeg(picture));  // stored by another program
  admin.WritePhoto("A00004", WithBlobHeader(testsupport::MakeSamplePhoto(2, 2)));
  admin.WritePhoto("A00030", testsupport::MakeSamplePhoto(1, 1));  // stored with trailing blanks
  admin.WritePhoto("b00033", imaging::testing::PngBytes(picture));
  admin.WritePhoto("A00008", testsupport::MakeSamplePhoto(3, 3));  // an expired reader's photo is exported too
  const Photos before = StoredPhotos();
  ASSERT_EQ(before.size(), 8u) << "six photos written here and the two of the demo data";

  const CommandOutput exported = Run("export", "--folder " + ShellQuoted(Folder("全部相片")));
  EXPECT_EQ(exported.exitCode, 0) << exported.err << exported.out;
  EXPECT_EQ(exported.LastLine(), "selected=8 stored=8 failed=0 nofile=0");
  for (const char* file : {"A00001.bmp", "A00002.bmp", "A00003.jpg", "A00004.bmp", "A00030.bmp", "b00033.png"})
    EXPECT_TRUE(std::filesystem::exists(Folder("全部相片/") + file)) << file;

  db_->Exec("update lib_people set pe_photo = null");
  ASSERT_TRUE(StoredPhotos().empty());
  const CommandOutput restored = Run("restore", ShellQuoted(Folder("全部相片")) + " --backup-folder " +
                                                    ShellQuoted(Folder("replaced")));
  EXPECT_EQ(restored.exitCode, 0) << restored.err << restored.out;
  EXPECT_EQ(restored.LastLine(), "selected=8 stored=8 failed=0 nofile=0");
  EXPECT_EQ(StoredPhotos(), before);
  EXPECT_FALSE(std::filesystem::exists(Folder("replaced"))) << "nothing was replaced, nothing backed up";
}

TEST_P(RestoreExportCommandTest, RestoreBacksUpWhatItReplacesAndADryRunWritesNothing) {
  const CommandOutput exported = Run("export", "--folder " + ShellQuoted(Folder("backup")));
  ASSERT_EQ(exported.LastLine(), "selected=2 stored=2 failed=0 nofile=0") << exported.err;
  const Photos demo = StoredPhotos();
  const data::Bytes newer = testsupport::MakeSamplePhoto(9, 9, 0x001F);
  db_->AdminSession().WritePhoto("A00002", newer);
  importtest::ScratchFolder extra;
  std::filesystem::copy(Folder("backup"), extra.path());
  extra.Write("notes.txt", "not a backup");  // not in the export's manifest
  // A backup without a manifest goes by the names alone (with a warning).
  ScratchFolder old;
  std::filesystem::copy(Folder("backup") + "/A00002.bmp", old.PathOf("A00002.bmp"));
  std::filesystem::copy(Folder("backup") + "/A00002.bmp", old.PathOf("Z99999.bmp"));

  const CommandOutput dryRun = Run("restore", ShellQuoted(extra.path()) + " --dry-run --backup-folder " +
                                                  ShellQuoted(Folder("replaced")));
  EXPECT_EQ(dryRun.exitCode, 1);
  EXPECT_EQ(dryRun.LastLine(), "selected=3 ready=2 failed=1 nofile=0");
  EXPECT_EQ(StoredPhotos().at("A00002"), newer) << "a dry run writes nothing";
  EXPECT_FALSE(std::filesystem::exists(Folder("replaced")));

  const CommandOutput restored =
      Run("restore", ShellQuoted(extra.path()) + " --backup-folder " + ShellQuoted(Folder("replaced")));
  EXPECT_EQ(restored.exitCode, 1) << restored.err;
  EXPECT_EQ(restored.LastLine(), "selected=3 stored=2 failed=1 nofile=0");
  EXPECT_NE(restored.out.find("notes.txt: not recorded in manifest.csv"), std::string::npos) << restored.out;
  EXPECT_EQ(restored.err.find("warning"), std::string::npos) << restored.err;
  EXPECT_EQ(StoredPhotos(), demo);

  const CommandOutput byName = Run("restore", ShellQuoted(old.path()) + " --dry-run");
  EXPECT_EQ(byName.LastLine(), "selected=2 ready=1 failed=1 nofile=0") << byName.err;
  EXPECT_NE(byName.out.find("Z99999.bmp no reader has the card number Z99999"), std::string::npos) << byName.out;
  EXPECT_NE(byName.err.find("warning: this folder does not record whose photos"), std::string::npos) << byName.err;

  // The photo the restore replaced is in a backup folder of its own under the given root.
  std::vector<std::filesystem::path> runs;
  for (const auto& entry : std::filesystem::directory_iterator(Folder("replaced"))) runs.push_back(entry.path());
  ASSERT_EQ(runs.size(), 1u);
  const CommandOutput undo = Run("restore", ShellQuoted(runs[0].string()) + " --backup-folder " +
                                                ShellQuoted(Folder("replaced")));
  EXPECT_EQ(undo.LastLine(), "selected=1 stored=1 failed=0 nofile=0") << undo.err;
  EXPECT_EQ(StoredPhotos().at("A00002"), newer);
}

TEST_P(RestoreExportCommandTest, CommandsThatCannotStartExitWithTwo) {
  ScratchFolder used;
  used.Write("A00001.bmp", "BM");
  const struct {
    const char* command;
    std::string arguments;
    const char* message;
  } cases[] = {
      {"export", "--folder " + ShellQuoted(used.path()), "not a new or empty folder"},
      {"export", "", "--folder is required"},
      {"export", "--folder x --verbose", "unknown option --verbose"},
      {"restore", ShellQuoted(Folder("missing")), "cannot list"},
      {"restore", "", "one backup folder DIR is required"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + c.arguments);
    const CommandOutput output = Run(c.command, c.arguments);
    EXPECT_EQ(output.exitCode, 2);
    EXPECT_NE(output.err.find(c.message), std::string::npos) << output.err;
    EXPECT_EQ(output.out.find("selected="), std::string::npos);
  }
}

// Both take the password as card-photo import does: from a file, or (with a warning) as a value.
TEST_P(RestoreExportCommandTest, PasswordFromAFileOrTheCommandLine) {
  scratch_.Write("password.txt", dsn_.password + "\n");
  const std::string passwordFile = "--password-file " + ShellQuoted(Folder("password.txt"));
  const std::string passwordValue = "--password " + ShellQuoted(dsn_.password);
  const std::string warning = "process list";
  const CommandOutput fromFile = Run("export", "--folder " + ShellQuoted(Folder("exported")), passwordFile);
  EXPECT_EQ(fromFile.exitCode, 0) << fromFile.err;
  EXPECT_EQ(fromFile.err.find(warning), std::string::npos) << fromFile.err;
  const CommandOutput restored = Run("restore", ShellQuoted(Folder("exported")) + " --dry-run", passwordFile);
  EXPECT_EQ(restored.exitCode, 0) << restored.err;

  const CommandOutput fromValue = Run("restore", ShellQuoted(Folder("exported")) + " --dry-run", passwordValue);
  EXPECT_EQ(fromValue.exitCode, 0) << fromValue.err;
  EXPECT_NE(fromValue.err.find(warning), std::string::npos) << fromValue.err;

  const CommandOutput both = Run("export", "--folder " + ShellQuoted(Folder("again")), passwordFile + " " + passwordValue);
  EXPECT_EQ(both.exitCode, 2);
  EXPECT_NE(both.err.find("exclude each other"), std::string::npos) << both.err;
}

INSTANTIATE_TEST_SUITE_P(Backends, RestoreExportCommandTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

}  // namespace

#endif  // !_WIN32
