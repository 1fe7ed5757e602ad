// card-photo import and card-photo find, run as programs on the demo readers and the demo photo folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef _WIN32
TEST(ImportCommandTest, LinuxOnly) { GTEST_SKIP() << "runs card-photo and the demo scripts through a POSIX shell; WindowsPathsTest runs card-photo import on Windows"; }
#else
#include <sys/wait.h>

#include <csignal>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "imaging/PhotoStream.h"
#include "support/Browser.h"
#include "support/CommandRunner.h"
#include "support/CsvReader.h"
#include "support/ScratchFolder.h"
#include "support/SheetPages.h"
#include "support/TestDatabase.h"
#include "support/ThrowawayPostgres.h"

namespace {

using importtest::ReadCsv;
using importtest::Record;
using importtest::ScratchFolder;
using testsupport::Backend;
using testsupport::TestDatabase;

using Output = importtest::CommandOutput;
using importtest::kCardPhoto;
using importtest::FinishCommandLine;
using importtest::RunCommandLine;
using importtest::ShellQuoted;
using importtest::StartCommandLine;

class ImportCommandTest : public ::testing::TestWithParam<Backend> {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(std::filesystem::exists(kCardPhoto)) << kCardPhoto;
    importtest::UseScratchDataFolder();
    photos_ = new ScratchFolder;
    const std::string make = std::string(CARDPHOTO_SOURCE_DIR) + "/scripts/make-demo-photos " +
                             ShellQuoted(photos_->path()) + " >/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
  }
  static void TearDownTestSuite() {
    delete photos_;
    photos_ = nullptr;
  }

  // card-photo import on a fresh demo database, changed by `prepare` first. The password comes on
  // standard input ("--password -"), or as `passwordOption` says ("--password-file", "--password").
  Output Import(const std::string& arguments, const std::function<void(TestDatabase&)>& prepare = {},
                const std::string& passwordOption = "-") {
    auto db = TestDatabase::Create(GetParam(), {.withDemoData = true});
    if (!db) return {};
    if (prepare) prepare(*db);
    return ImportInto(*db, arguments, passwordOption);
  }

  // card-photo import on the database as it is (a later --folder overrides the demo folder).
  Output ImportInto(TestDatabase& db, const std::string& arguments, const std::string& passwordOption = "-") {
    const TestDatabase::Dsn dsn = db.RegisterDataSource("CardPhotoTest");
    std::string command = kCardPhoto + " import --folder " + ShellQuoted(photos_->path()) + " --dsn " + dsn.name +
                          " --user " + ShellQuoted(dsn.user) + " ";
    if (passwordOption == "-") {
      command = "printf '%s\\n' " + ShellQuoted(dsn.password) + " | " + command + "--password - ";
    } else if (passwordOption == "--password-file") {
      scratch_.Write("password.txt", dsn.password + "\n");
      command += "--password-file " + ShellQuoted(scratch_.PathOf("password.txt")) + " ";
    } else {
      command += "--password " + ShellQuoted(dsn.password) + " ";
    }
    return RunCommandLine(command + arguments, scratch_);
  }

  static ScratchFolder* photos_;
  ScratchFolder scratch_;
};

ScratchFolder* ImportCommandTest::photos_ = nullptr;

TEST_P(ImportCommandTest, SummaryAndExitCodeOnTheDemoData) {
  if (!TestDatabase::Create(GetParam())) GTEST_SKIP() << "no database server";
  const struct {
    const char* arguments;
    const char* summary;
    int exitCode;
  } cases[] = {
      // A00012.jpg is damaged; A00018 has two files (A00018.jpg, A00018.png): which one is meant cannot be
      // told; A00002 and A00005 have photos already.
      {"", "selected=25 stored=10 failed=2 nofile=13", 1},
      {"--replace", "selected=27 stored=11 failed=2 nofile=14", 1},
      {"--by name --category all", "selected=25 stored=2 failed=0 nofile=23", 0},
      {"--by name --category all --rule segment:2", "selected=25 stored=1 failed=0 nofile=24", 0},
      {"--rule segment:1", "selected=25 stored=1 failed=0 nofile=24", 0},
      {"--by name --category 4 --department \"King's 学院\"", "selected=1 stored=0 failed=0 nofile=1", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Output output = Import(c.arguments);
    EXPECT_EQ(output.exitCode, c.exitCode) << output.err;
    EXPECT_EQ(output.LastLine(), c.summary);
    EXPECT_EQ(output.out.find("selected="), output.out.rfind("selected=")) << "one summary line";
  }
}

TEST_P(ImportCommandTest, FailedFilesArePrintedAndEachReaderLineNamesItsOwnFile) {
  if (!TestDatabase::Create(GetParam())) GTEST_SKIP() << "no database server";
  const Output output = Import("");
  EXPECT_EQ(output.exitCode, 1) << output.err;
  EXPECT_NE(output.err.find(photos_->PathOf("A00012.jpg") + " 图片有问题，未能导入！\n"), std::string::npos);

  // Not a terminal: one line "[done/total] card name path" per reader. Under the exact rule by card number a
  // reader's file is named by its own card number, whatever the letter case.
  auto upper = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
  };
  std::istringstream lines(output.out);
  int readerLines = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("[", 0) != 0) continue;
    ++readerLines;
    std::istringstream fields(line);
    std::string counter, card;
    fields >> counter >> card;
    if (line.find("(no photo file)") != std::string::npos) continue;
    const std::string stem = std::filesystem::path(line.substr(line.rfind(' ') + 1)).stem().string();
    EXPECT_EQ(upper(stem), upper(card)) << line;
  }
  EXPECT_EQ(readerLines, 25);
}

TEST_P(ImportCommandTest, RunsThatCannotStartExitWithTwo) {
  if (!TestDatabase::Create(GetParam())) GTEST_SKIP() << "no database server";
  const char* cases[] = {
      "--by name",                 // no category
      "--category all",            // a category without name matching
      "--by name --category 1x",   // not a category number
      "--department X --by name --category all",
      "--rule segment:6",
      "--rule prefix:0",
      "--folder /nonexistent-cardphoto-folder",
      "--timeout 0",
      "--timeout 1.5",
      "--jobs 0",
      "--jobs 65",
      "--jobs two",
      "--password-file /nonexistent-cardphoto-password",  // besides --password -
  };
  for (const char* arguments : cases) {
    SCOPED_TRACE(arguments);
    const Output output = Import(arguments);
    EXPECT_EQ(output.exitCode, 2);
    EXPECT_FALSE(output.err.empty());
    EXPECT_EQ(output.out.find("selected="), std::string::npos);
  }
  const Output unknownSource = RunCommandLine(kCardPhoto + " import --folder /tmp --dsn NoSuchSource", scratch_);
  EXPECT_EQ(unknownSource.exitCode, 2);
  EXPECT_NE(unknownSource.err.find("cannot connect"), std::string::npos);
}

// Without --dsn the settings come from the machine's fixed settings file, for import, export and restore
// alike. The program runs in a mount namespace of its own whose /etc holds only the file the case makes,
// so the machine's own is never touched.
TEST(ImportCommandSettingsTest, StoredSettingsThatCannotBeReadExitWithTwoAndSayWhy) {
  ScratchFolder scratch, photos, backup;
  backup.Write("A00001.bmp", "BM");
  if (std::system("unshare --mount --propagation private true 2>/dev/null") != 0)
    GTEST_SKIP() << "no mount namespace for a settings file of the test's own";
  const struct {
    const char* what;
    const char* makeFile;  // shell commands run in the namespace's empty /etc/korvanel
    const char* reason;
  } cases[] = {
      {"a folder in the file's place", "mkdir registry.reg", "Is a directory"},
      {"not text", "printf 'Windows Registry Editor Version 5.00\\r\\n\\377\\r\\n' > registry.reg",
       "not UTF-8 or UTF-16 text"},
      {"no registry export", "echo 'ODBCNAME=LibODBC' > registry.reg", "line 1: no"},
  };
  const std::string commands[] = {"import --folder " + ShellQuoted(photos.path()),
                                  "export --folder " + ShellQuoted(scratch.PathOf("exported")),
                                  "restore " + ShellQuoted(backup.path()) + " --dry-run"};
  for (const auto& c : cases) {
    for (const std::string& command : commands) {
      SCOPED_TRACE(std::string(c.what) + ": " + command);
      const std::string script = "mount -t tmpfs tmpfs /etc && mkdir /etc/korvanel && cd /etc/korvanel && " +
                                 std::string(c.makeFile) + " && exec " + kCardPhoto + " " + command;
      const Output output =
          RunCommandLine("unshare --mount --propagation private sh -c " + ShellQuoted(script), scratch);
      EXPECT_EQ(output.exitCode, 2) << output.err;
      EXPECT_NE(output.err.find("/etc/korvanel/registry.reg: " + std::string(c.reason)), std::string::npos)
          << output.err;
    }
  }
}

TEST_P(ImportCommandTest, StoreFailuresAreReportedWithTheirReasonOnStandardError) {
  if (!TestDatabase::Create(GetParam())) GTEST_SKIP() << "no database server";
  // Another program stored a JPEG as A00001's photo: a bitmap may replace a bitmap, never a JPEG.
  const Output output = Import("--replace", [](TestDatabase& db) {
    db.AdminSession().WritePhoto("A00001", data::Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0});
  });
  EXPECT_EQ(output.exitCode, 1) << output.err;
  EXPECT_NE(output.err.find(photos_->PathOf("A00001.jpg") + " 未能保存：现有相片不是位图，未覆盖\n"), std::string::npos)
      << output.err;
  EXPECT_EQ(output.LastLine(), "selected=27 stored=10 failed=3 nofile=14");
}

TEST_P(ImportCommandTest, PasswordFromAFileOrTheCommandLine) {
  if (!TestDatabase::Create(GetParam())) GTEST_SKIP() << "no database server";
  const std::string warning = "process list";
  const Output fromFile = Import("", {}, "--password-file");
  EXPECT_EQ(fromFile.LastLine(), "selected=25 stored=10 failed=2 nofile=13") << fromFile.err;
  EXPECT_EQ(fromFile.err.find(warning), std::string::npos);

  const Output fromCommandLine = Import("", {}, "--password");
  EXPECT_EQ(fromCommandLine.LastLine(), "selected=25 stored=10 failed=2 nofile=13") << fromCommandLine.err;
  EXPECT_NE(fromCommandLine.err.find(warning), std::string::npos);
}

// Every reader's card number and photo, by card number: what a run may change.
std::vector<std::pair<std::string, data::Bytes>> Photos(TestDatabase& db) {
  auto rows = db.AdminSession().Open({"select pe_id, pe_photo from lib_people order by pe_id"});
  std::vector<std::pair<std::string, data::Bytes>> photos;
  for (; !rows->Eof(); rows->Next()) {
    std::string card = rows->Text("pe_id");
    card.erase(card.find_last_not_of(' ') + 1);  // a fixed-width pe_id comes padded
    photos.emplace_back(std::move(card), rows->AsBytes("pe_photo").value_or(data::Bytes()));
  }
  rows->Close();
  return photos;
}

// The report's records after the header (the byte-order mark taken off).
std::vector<Record> ReportRecords(const std::string& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  const std::string text = content.str();
  EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u) << path;
  std::vector<Record> records = ReadCsv(text.size() >= 3 ? text.substr(3) : text);
  EXPECT_FALSE(records.empty()) << path;
  if (!records.empty()) records.erase(records.begin());
  return records;
}

constexpr int kOutcomeColumn = 4, kReasonColumn = 5;

// A dry run stores nothing, and says what the real run then does: the same summary, failure lines, exit
// status and report rows, `ready` standing for `stored`. A store failure the current row tells (a JPEG
// kept) is predicted too.
TEST_P(ImportCommandTest, DryRunChangesNothingAndPredictsTheRealRun) {
  if (!TestDatabase::Create(GetParam())) GTEST_SKIP() << "no database server";
  const struct {
    const char* arguments;
    std::function<void(TestDatabase&)> prepare;
  } cases[] = {
      {"", {}},
      {"--replace", {}},
      {"--by name --category all", {}},
      {"--replace", [](TestDatabase& db) {
         db.AdminSession().WritePhoto("A00001", data::Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0});
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    auto db = TestDatabase::Create(GetParam(), {.withDemoData = true});
    ASSERT_TRUE(db);
    if (c.prepare) c.prepare(*db);
    const auto before = Photos(*db);
    const Output dry = ImportInto(*db, std::string(c.arguments) + " --dry-run --report " + ShellQuoted(scratch_.PathOf("dry.csv")));
    EXPECT_TRUE(Photos(*db) == before) << "the dry run changed a photo";
    const Output real = ImportInto(*db, std::string(c.arguments) + " --report " + ShellQuoted(scratch_.PathOf("real.csv")));
    EXPECT_FALSE(Photos(*db) == before) << "the real run stored nothing";

    EXPECT_EQ(dry.exitCode, real.exitCode);
    EXPECT_EQ(dry.LastLine(), real.LastLine()) << dry.err;
    EXPECT_EQ(dry.err, real.err.substr(0, real.err.find("card-photo import: the ")));
    std::vector<Record> predicted = ReportRecords(scratch_.PathOf("dry.csv"));
    const std::vector<Record> done = ReportRecords(scratch_.PathOf("real.csv"));
    int ready = 0;
    for (Record& record : predicted) {
      ASSERT_EQ(record.size(), 6u);
      EXPECT_NE(record[kOutcomeColumn], "stored");
      if (record[kOutcomeColumn] == "ready") record[kOutcomeColumn] = "stored", ++ready;
    }
    EXPECT_GT(ready, 0);
    EXPECT_EQ(predicted, done);
  }
}

// A report that cannot be written is found out before the run, not after its photos are stored.
TEST_P(ImportCommandTest, AReportPathThatCannotBeWrittenStopsTheRunBeforeAnyStore) {
  auto db = TestDatabase::Create(GetParam(), {.withDemoData = true});
  if (!db) GTEST_SKIP() << "no database server";
  for (const std::string& report : {scratch_.PathOf("missing/r.csv"), scratch_.path()}) {
    SCOPED_TRACE(report);
    const Output output = ImportInto(*db, "--report " + ShellQuoted(report));
    EXPECT_EQ(output.exitCode, 2) << output.err;
    EXPECT_NE(output.err.find("cannot be written, nothing was stored"), std::string::npos) << output.err;
    auto stored = db->AdminSession().Open({"select count(*) as n from lib_people where pe_photo is not null"});
    EXPECT_EQ(stored->AsInteger("n"), 2) << "the demo data's two photos only";
  }
}

TEST_P(ImportCommandTest, ReportHasARowPerReaderAndPerUnusedPicture) {
  if (!TestDatabase::Create(GetParam())) GTEST_SKIP() << "no database server";
  ScratchFolder folder;
  std::filesystem::copy(photos_->path(), folder.path());
  folder.Write("notes.txt", "not a picture");
  const Output output = Import("--folder " + ShellQuoted(folder.path()) + " --report " + ShellQuoted(scratch_.PathOf("r.csv")));
  EXPECT_EQ(output.exitCode, 1) << output.err;
  std::vector<Record> records = ReportRecords(scratch_.PathOf("r.csv"));
  auto rowOf = [&](const std::string& card) {
    for (const Record& record : records)
      if (!record.empty() && record[0] == card) return record;
    return Record{};
  };
  const Record stored = rowOf("A00001"), failed = rowOf("A00012"), nofile = rowOf("A00015");
  ASSERT_EQ(stored.size(), 6u);
  EXPECT_EQ(stored[2], "A00001");
  EXPECT_EQ(stored[3], folder.PathOf("A00001.jpg"));
  EXPECT_EQ(stored[kOutcomeColumn], "stored");
  ASSERT_EQ(failed.size(), 6u);
  EXPECT_EQ(failed[kOutcomeColumn], "failed");
  EXPECT_EQ(failed[kReasonColumn], "图片有问题，未能导入！");
  ASSERT_EQ(nofile.size(), 6u);
  EXPECT_EQ(nofile[3], "");
  EXPECT_EQ(nofile[kOutcomeColumn], "nofile");
  EXPECT_EQ(nofile[kReasonColumn], "没有匹配的相片文件");

  int readers = 0;
  std::vector<std::string> unused;
  for (const Record& record : records) {
    ASSERT_EQ(record.size(), 6u);
    if (record[kOutcomeColumn] != "unused") {
      EXPECT_TRUE(unused.empty()) << "reader rows come first";
      ++readers;
    } else {
      unused.push_back(std::filesystem::path(record[3]).filename().string());
    }
  }
  EXPECT_EQ(readers, 26) << "25 selected, and A00002, which has a photo and so was not selected";
  EXPECT_EQ(rowOf("A00002")[kOutcomeColumn], "skipped");
  EXPECT_EQ(rowOf("A00002")[3], folder.PathOf("A00002.jpg"));
  std::sort(unused.begin(), unused.end());
  // A00008 has expired, A00018 fails for its two files (its row names the jpg); the others are named by no
  // card number. notes.txt is no picture. 趙靜.jpg comes once, though its UTF-8 name is valid GBK too ("瓒欓潨.jpg"), and under the
  // reading the file manager shows: staff look here for names they misspelt.
  EXPECT_EQ(unused, (std::vector<std::string>{"A00008.jpg", "A00018.png", "A00023_韩梅_计算机学院.jpg",
                                              "A00024唐嫣.jpg", "tom smith.png", "趙靜.jpg"}));

  // A00015 has no identity-card number: not looked up, and the reason says so.
  Import("--by idcard --report " + ShellQuoted(scratch_.PathOf("r.csv")));
  records = ReportRecords(scratch_.PathOf("r.csv"));
  const Record noIdentifier = rowOf("A00015");
  ASSERT_EQ(noIdentifier.size(), 6u);
  EXPECT_EQ(noIdentifier[2], "");
  EXPECT_EQ(noIdentifier[kOutcomeColumn], "nofile");
  EXPECT_EQ(noIdentifier[kReasonColumn], "读者标识为空，未查找相片文件");
}

// The photos that are there before a replace run: a bitmap, the same behind the 8-byte blob header,
// and a JPEG (kept: a run never replaces another format).
void PrepareReplaceablePhotos(TestDatabase& db) {
  const data::Bytes bitmap = testsupport::MakeSamplePhoto(4, 5, 0x07E0);
  data::Bytes headed = {0x01, 0x00, 0x00, 0x01};
  const std::uint32_t length = static_cast<std::uint32_t>(bitmap.size());
  for (int shift = 0; shift < 32; shift += 8) headed.push_back(static_cast<std::uint8_t>(length >> shift));
  headed.insert(headed.end(), bitmap.begin(), bitmap.end());
  db.AdminSession().WritePhoto("A00001", bitmap);
  db.AdminSession().WritePhoto("A00004", headed);
  db.AdminSession().WritePhoto("A00003", data::Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0});
}

// The photos that were there, by card number.
std::map<std::string, data::Bytes> StoredPhotos(TestDatabase& db) {
  std::map<std::string, data::Bytes> stored;
  for (auto& [card, photo] : Photos(db))
    if (!photo.empty()) stored.emplace(card, std::move(photo));
  return stored;
}

TEST_P(ImportCommandTest, ReplaceRunBacksUpWhatItReplacesAndRestoreGivesItBack) {
  auto db = TestDatabase::Create(GetParam(), {.withDemoData = true});
  if (!db) GTEST_SKIP() << "no database server";
  PrepareReplaceablePhotos(*db);
  const auto before = StoredPhotos(*db);
  const std::string root = scratch_.PathOf("backups");
  const Output run = ImportInto(*db, "--replace --backup " + ShellQuoted(root));
  EXPECT_EQ(run.exitCode, 1) << run.err;  // A00012 is damaged, A00003's JPEG is kept
  EXPECT_NE(run.err.find("a00003.jpg 未能保存：现有相片不是位图，未覆盖"), std::string::npos) << run.err;
  const auto replaced = StoredPhotos(*db);
  for (const char* card : {"A00001", "A00002", "A00004"}) EXPECT_NE(replaced.at(card), before.at(card)) << card;
  EXPECT_EQ(replaced.at("A00003"), before.at("A00003"));
  EXPECT_EQ(replaced.at("A00005"), before.at("A00005")) << "no photo file";

  std::vector<std::filesystem::path> folders;
  for (const auto& entry : std::filesystem::directory_iterator(root)) folders.push_back(entry.path());
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_NE(run.err.find(folders[0].string()), std::string::npos) << "the backup folder is named";
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folders[0])) files.push_back(entry.path().filename());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"A00001.bmp", "A00002.bmp", "A00004.bmp", "manifest.csv"}));

  const TestDatabase::Dsn dsn = db->RegisterDataSource("CardPhotoTest");
  const Output restore = RunCommandLine("printf '%s\\n' " + ShellQuoted(dsn.password) + " | " + kCardPhoto + " restore " +
                                        ShellQuoted(folders[0].string()) + " --backup-folder " +
                                        ShellQuoted(scratch_.PathOf("restore-backups")) + " --dsn " + dsn.name +
                                        " --user " + ShellQuoted(dsn.user) + " --password -",
                                    scratch_);
  EXPECT_EQ(restore.exitCode, 0) << restore.err;
  const auto restored = StoredPhotos(*db);
  for (const auto& [card, photo] : before) EXPECT_EQ(restored.at(card), photo) << card;
}

TEST_P(ImportCommandTest, NoPhotoIsReplacedWithoutItsBackup) {
  auto db = TestDatabase::Create(GetParam(), {.withDemoData = true});
  if (!db) GTEST_SKIP() << "no database server";
  PrepareReplaceablePhotos(*db);
  const auto before = StoredPhotos(*db);
  scratch_.Write("not-a-folder", "a file where the backup folder would go");
  const Output run = ImportInto(*db, "--replace --backup " + ShellQuoted(scratch_.PathOf("not-a-folder")));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(StoredPhotos(*db).size(), before.size() + 7) << "readers without a photo are stored";
  for (const auto& [card, photo] : before) EXPECT_EQ(StoredPhotos(*db).at(card), photo) << card;
  EXPECT_NE(run.err.find("A00001.jpg 未能保存：现有相片未能备份，未覆盖："), std::string::npos) << run.err;
  // A00001, A00002 and A00004 are not backed up, A00003 keeps its JPEG, A00012 is damaged, A00018 has two
  // files.
  EXPECT_EQ(run.LastLine(), "selected=27 stored=7 failed=6 nofile=14");

  // --no-backup replaces without one.
  EXPECT_EQ(ImportInto(*db, "--replace --no-backup --backup " + ShellQuoted(scratch_.path())).exitCode, 2);
  const Output replaced = ImportInto(*db, "--replace --no-backup");
  EXPECT_NE(StoredPhotos(*db).at("A00001"), before.at("A00001")) << replaced.err;
}

// With --map each reader's file is the one the mapping file names; a line that cannot be meant refuses
// the run before anything is stored.
TEST_P(ImportCommandTest, MappingFileChoosesTheFiles) {
  auto db = TestDatabase::Create(GetParam(), {.withDemoData = true});
  if (!db) GTEST_SKIP() << "no database server";
  const auto before = StoredPhotos(*db);
  scratch_.Write("refused.csv", "A00001,A00013.jpg\r\nA00003\r\n");
  const Output refused = ImportInto(*db, "--map " + ShellQuoted(scratch_.PathOf("refused.csv")));
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.err.find("第 2 行"), std::string::npos) << refused.err;
  EXPECT_TRUE(StoredPhotos(*db) == before);

  scratch_.Write("map.csv",
                 "A00001,A00013.jpg\n"   // another reader's file
                 "A00004,a00006.PNG\n"   // letter case ignored
                 "A00003,missing.jpg\n"  // not in the folder
                 "A00010,A00011.bmp\n"   // one file for two readers: neither takes it
                 "A00011,A00011.bmp\n");
  const Output run = ImportInto(*db, "--map " + ShellQuoted(scratch_.PathOf("map.csv")) + " --report " +
                                         ShellQuoted(scratch_.PathOf("map-report.csv")));
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(run.LastLine(), "selected=25 stored=2 failed=2 nofile=21");
  std::map<std::string, Record> rows;
  for (const Record& record : ReportRecords(scratch_.PathOf("map-report.csv"))) rows[record[0]] = record;
  EXPECT_EQ(rows["A00001"][3], photos_->PathOf("A00013.jpg"));
  EXPECT_EQ(rows["A00001"][kOutcomeColumn], "stored");
  EXPECT_EQ(rows["A00004"][kOutcomeColumn], "stored");
  EXPECT_EQ(rows["A00003"][kOutcomeColumn], "nofile");
  EXPECT_EQ(rows["A00003"][kReasonColumn], "对照文件所列的相片文件不存在：missing.jpg");
  EXPECT_EQ(rows["A00010"][kOutcomeColumn], "failed");
  EXPECT_EQ(rows["A00011"][kOutcomeColumn], "failed");
  EXPECT_EQ(rows["A00013"][kOutcomeColumn], "nofile") << "not in the mapping";
  EXPECT_EQ(*db->AdminSession().ReadPhoto("A00001"), [&] {
    imaging::MemoryStream stream;
    imaging::MakePhotoStream(photos_->PathOf("A00013.jpg"), stream);
    return stream.bytes;
  }());
}

// A zip archive of the photo folder stands for the folder: the same readers get the same bytes.
TEST_P(ImportCommandTest, ZipArchiveRunStoresWhatTheFolderRunStores) {
  auto overFolder = TestDatabase::Create(GetParam(), {.withDemoData = true});
  if (!overFolder) GTEST_SKIP() << "no database server";
  const std::string archive = scratch_.PathOf("photos.ZIP");
  const std::string zip = "python3 -c 'import shutil,sys; shutil.move(shutil.make_archive(sys.argv[1], \"zip\", sys.argv[2]), sys.argv[3])' " +
                          ShellQuoted(scratch_.PathOf("photos")) + " " + ShellQuoted(photos_->path()) + " " + ShellQuoted(archive);
  ASSERT_EQ(std::system(zip.c_str()), 0);
  const Output folderRun = ImportInto(*overFolder, "");
  auto overArchive = TestDatabase::Create(GetParam(), {.withDemoData = true});
  const Output archiveRun = ImportInto(*overArchive, "--folder " + ShellQuoted(archive));
  EXPECT_EQ(archiveRun.exitCode, folderRun.exitCode) << archiveRun.err;
  EXPECT_EQ(archiveRun.LastLine(), folderRun.LastLine());
  EXPECT_EQ(archiveRun.LastLine(), "selected=25 stored=10 failed=2 nofile=13");
  EXPECT_NE(archiveRun.err.find(archive + "/A00012.jpg 图片有问题，未能导入！"), std::string::npos) << archiveRun.err;
  EXPECT_TRUE(Photos(*overArchive) == Photos(*overFolder));

  scratch_.Write("damaged.zip", "PK\x03\x04 not really an archive");
  const Output damaged = ImportInto(*overArchive, "--folder " + ShellQuoted(scratch_.PathOf("damaged.zip")));
  EXPECT_EQ(damaged.exitCode, 2);
  EXPECT_NE(damaged.err.find("相片压缩文件"), std::string::npos) << damaged.err;
}

// The run's contact sheet: every selected reader in reader order (those without a file listed after the
// grid), each photo the value the run stored byte for byte, the failed one with its reason, each reader's
// department; every picture decodes in a browser. The dry run's sheet shows the values the run then stores.
TEST_P(ImportCommandTest, TheSheetOfARunShowsEachPhotoAsStoredInReaderOrder) {
  auto db = TestDatabase::Create(GetParam(), {.withDemoData = true});
  if (!db) GTEST_SKIP() << "no database server";
  const std::string dry = scratch_.PathOf("预检 核对表.html"), real = scratch_.PathOf("核对表.html");
  const Output dryRun = ImportInto(*db, "--dry-run --sheet " + ShellQuoted(dry));
  EXPECT_EQ(dryRun.exitCode, 1) << dryRun.err;
  const Output run = ImportInto(*db, "--sheet " + ShellQuoted(real) + " --report " + ShellQuoted(scratch_.PathOf("r.csv")));
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("card-photo import: the contact sheet is written: " + real + " (1 page)"), std::string::npos)
      << run.err;

  std::vector<std::string> grid, listed;  // the report's readers, in reader order
  for (const Record& record : ReportRecords(scratch_.PathOf("r.csv")))
    if (record[kOutcomeColumn] != "unused" && record[kOutcomeColumn] != "skipped")
      (record[kOutcomeColumn] == "nofile" ? listed : grid).push_back(record[0]);
  std::vector<std::string> order = grid;
  order.insert(order.end(), listed.begin(), listed.end());
  std::map<std::string, data::Bytes> stored;
  for (const auto& [card, photo] : Photos(*db)) stored[card] = photo;

  for (const std::string& file : {dry, real}) {
    SCOPED_TRACE(file);
    const std::string html = sheettest::ReadText(file);
    EXPECT_EQ(sheettest::CardsOf(html), order);
    for (const sheettest::Cell& cell : sheettest::CellsOf(html)) {
      if (cell.card == "A00012" || cell.card == "A00018") {
        EXPECT_EQ(cell.mime, "") << "a damaged picture, or one of two files, has no photo";
        EXPECT_NE(cell.html.find(cell.card == "A00012" ? "失败：图片有问题，未能导入！" : "失败：有多个相片文件"),
                  std::string::npos)
            << cell.html;
        continue;
      }
      EXPECT_EQ(sheettest::Base64Decode(cell.base64), stored[cell.card]) << cell.card << ": the value stored";
      EXPECT_NE(cell.html.find(file == dry ? "可导入（预检）" : "已导入"), std::string::npos) << cell.html;
    }
    EXPECT_NE(html.find("data-card=\"A00013\"><div class=\"photo\"><img"), std::string::npos);
    EXPECT_NE(html.find("<b>A00013</b> 趙靜<br>图书馆<br><span class=\"file\">A00013.jpg</span>"), std::string::npos);
  }
  EXPECT_NE(sheettest::ReadText(dry).find("<h1>相片核对表（预检，未写入数据库）</h1>"), std::string::npos);
  EXPECT_NE(sheettest::ReadText(real).find("<p class=\"summary\">共选择读者 25 人，导入相片 10 张，失败 2 个，无相片文件 13 人</p>"),
            std::string::npos);

  // By name, A00013 趙靜 takes 趙靜.jpg, whose UTF-8 name is valid GBK too: the sheet names the file as
  // the folder shows it.
  const std::string byName = scratch_.PathOf("by-name.html");
  ImportInto(*db, "--by name --category all --replace --dry-run --sheet " + ShellQuoted(byName));
  const std::string byNameHtml = sheettest::ReadText(byName);
  EXPECT_NE(byNameHtml.find("<b>A00013</b> 趙靜<br>图书馆<br><span class=\"file\">趙靜.jpg</span>"), std::string::npos);
  EXPECT_EQ(byNameHtml.find("瓒欓潨"), std::string::npos);

  REQUIRE_BROWSER_OR_SKIP();
  const testsupport::BrowsedPage page = testsupport::OpenInBrowser(
      real, "[...document.images].map(i => i.alt + ':' + (i.naturalWidth > 0)).join(' ')",
      std::filesystem::path(CARDPHOTO_BINARY_DIR) / "screenshots" / ("run-sheet-" + testsupport::BackendName(GetParam()) + ".png"));
  ASSERT_TRUE(page.ok) << page.error;
  std::string expected;
  for (const std::string& card : grid)
    if (card != "A00012" && card != "A00018") expected += (expected.empty() ? "" : " ") + card + ":true";
  EXPECT_EQ(page.value, expected);
}

TEST_P(ImportCommandTest, ASheetThatCannotBeWrittenWhereAskedStopsTheRunBeforeItStarts) {
  auto db = TestDatabase::Create(GetParam(), {.withDemoData = true});
  if (!db) GTEST_SKIP() << "no database server";
  const auto before = Photos(*db);
  const Output output = ImportInto(*db, "--sheet " + ShellQuoted(scratch_.PathOf("missing/sheet.html")));
  EXPECT_EQ(output.exitCode, 2);
  EXPECT_NE(output.err.find("the folder of the contact sheet " + scratch_.PathOf("missing/sheet.html") +
                            " does not exist; nothing was stored"),
            std::string::npos)
      << output.err;
  EXPECT_TRUE(Photos(*db) == before);
}

INSTANTIATE_TEST_SUITE_P(Backends, ImportCommandTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

// Runs against a throwaway PostgreSQL server of the test's own, which the test stops and starts again:
// readers A00001 to A00005 without photos, a photo file for each.
class StoppedServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestDatabase::Create(Backend::Postgres)) GTEST_SKIP() << "no PostgreSQL";
    server_ = testsupport::ThrowawayPostgres::Start();
    ASSERT_TRUE(server_);
    admin_ = Connect();
    for (const std::string& card : cards_) {
      admin_->Execute({"insert into lib_people (pe_id, pe_name, pe_mark) values (?, '读者', '正常')"}, {card});
      std::filesystem::copy_file(photo_, photos_.PathOf(card + ".jpg"));
    }
    server_->RegisterDataSource("CardPhotoLost");
    scratch_.Write("password.txt", "libtest\n");
  }

  std::unique_ptr<data::Session> Connect() {
    auto session = std::make_unique<data::Session>();
    session->ConnectString(server_->ConnectionString());
    return session;
  }

  std::string Command(int connections) {
    return kCardPhoto + " import --folder " + ShellQuoted(photos_.path()) + " --dsn CardPhotoLost --user libtest" +
           " --connections " + std::to_string(connections) + " --password-file " +
           ShellQuoted(scratch_.PathOf("password.txt"));
  }

  const std::string photo_ = std::string(CARDPHOTO_TESTDATA_DIR) + "/jpeg/testorig.jpg";
  const std::vector<std::string> cards_ = {"A00001", "A00002", "A00003", "A00004", "A00005"};
  std::unique_ptr<testsupport::ThrowawayPostgres> server_;
  std::unique_ptr<data::Session> admin_;
  ScratchFolder photos_, scratch_;
};

// The database server stops while a run waits for a row another program holds locked: the run stops with
// one message and exit status 3, every photo is stored whole or not at all, and a second run, once the
// server is back, stores the rest. One store at a time: the readers after the locked one wait for it.
TEST_F(StoppedServerTest, ServerStoppedMidRunStopsTheRunWithExitThree) {
  const std::string command = Command(1) + " --timeout 10";  // connects again for as long
  {
    testsupport::RowLock lock(Backend::Postgres, server_->ConnectionString(), "A00003");
    FILE* run = StartCommandLine(command, scratch_);
    ASSERT_NE(run, nullptr);
    ASSERT_TRUE(lock.AwaitWaiter());  // the run's store of A00003
    ASSERT_TRUE(server_->Stop());
    const Output output = FinishCommandLine(run, scratch_);
    EXPECT_EQ(output.exitCode, 3) << output.err;
    EXPECT_NE(output.err.find("与数据库服务器的连接已断开"), std::string::npos) << output.err;
    EXPECT_NE(output.err.find("证号 A00003"), std::string::npos) << output.err;
    EXPECT_EQ(output.err.find("selected="), std::string::npos);
    // The readers after A00003 are not counted; A00003's store found the connection gone, so whether it
    // was carried out is not known.
    EXPECT_NE(output.err.find("其相片是否已保存无法确定"), std::string::npos) << output.err;
    EXPECT_EQ(output.LastLine(), "selected=5 stored=2 failed=0 nofile=0 unknown=1");
  }

  ASSERT_TRUE(server_->StartAgain());
  admin_ = Connect();
  imaging::MemoryStream normalized;
  ASSERT_TRUE(imaging::MakePhotoStream(photo_, normalized));
  int stored = 0;
  for (const std::string& card : cards_) {
    const data::Bytes value = admin_->ReadPhoto(card).value_or(data::Bytes());
    EXPECT_TRUE(value.empty() || value == normalized.bytes) << card;  // nothing half-written
    stored += value.empty() ? 0 : 1;
  }
  EXPECT_EQ(stored, 2);
  EXPECT_EQ(admin_->ReadPhoto("A00003"), data::Bytes());

  const Output again = RunCommandLine(command, scratch_);
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(again.LastLine(), "selected=3 stored=3 failed=0 nofile=0");
  for (const std::string& card : cards_) EXPECT_EQ(admin_->ReadPhoto(card), normalized.bytes) << card;
}

// On two connections the reader after a locked one is stored meanwhile; when the server then stops, the
// run reports both in reader order and the message names the last reader handled, whose photo is stored.
TEST_F(StoppedServerTest, ServerStoppedWithTwoStoresInFlightNamesTheLastReaderHandled) {
  {
    testsupport::RowLock lock(Backend::Postgres, server_->ConnectionString(), "A00003");
    FILE* run = StartCommandLine(Command(2) + " --timeout 10", scratch_);
    ASSERT_NE(run, nullptr);
    ASSERT_TRUE(lock.AwaitWaiter());
    // A00004's store runs on the other connection while A00003's waits; A00005's waits for a connection.
    bool fourthStored = false;
    for (int i = 0; i < 200 && !fourthStored; ++i) {
      fourthStored = !admin_->ReadPhoto("A00004").value_or(data::Bytes()).empty();
      if (!fourthStored) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(fourthStored);
    admin_.reset();
    ASSERT_TRUE(server_->Stop());
    const Output output = FinishCommandLine(run, scratch_);
    EXPECT_EQ(output.exitCode, 3) << output.err;
    EXPECT_NE(output.err.find(photos_.PathOf("A00003.jpg") + " 结果不明"), std::string::npos) << output.err;
    EXPECT_NE(output.err.find("证号 A00004"), std::string::npos) << output.err;
    EXPECT_NE(output.err.find("其相片已保存；之后的读者都未处理"), std::string::npos) << output.err;
    EXPECT_EQ(output.LastLine(), "selected=5 stored=3 failed=0 nofile=0 unknown=1");
  }
  ASSERT_TRUE(server_->StartAgain());
  admin_ = Connect();
  EXPECT_EQ(admin_->ReadPhoto("A00003"), data::Bytes());
  EXPECT_EQ(admin_->ReadPhoto("A00005"), data::Bytes());
  EXPECT_FALSE(admin_->ReadPhoto("A00004").value_or(data::Bytes()).empty());
}

// The server freezes (its processes stopped, as a machine that stops answering) while a store waits for a
// locked row: its own statement timeout cannot fire, so the run gives the store up after the timeout and a
// grace, tries to connect again for a while and stops as for a lost connection: exit 3, one message, the
// store's outcome unknown. The command runs under timeout(1), so that the test ends whatever happens.
TEST_F(StoppedServerTest, AFrozenServerCannotHoldTheRun) {
  Output output;
  {
    testsupport::RowLock lock(Backend::Postgres, server_->ConnectionString(), "A00003");
    FILE* run = StartCommandLine("timeout 120 " + Command(1) + " --timeout 2", scratch_);
    ASSERT_NE(run, nullptr);
    ASSERT_TRUE(lock.AwaitWaiter());
    ASSERT_TRUE(server_->Freeze());
    output = FinishCommandLine(run, scratch_);
    ASSERT_TRUE(server_->Thaw());
  }
  EXPECT_EQ(output.exitCode, 3) << output.err;
  EXPECT_NE(output.err.find("秒没有应答"), std::string::npos) << output.err;
  EXPECT_NE(output.err.find(photos_.PathOf("A00003.jpg") + " 结果不明"), std::string::npos) << output.err;
  EXPECT_NE(output.err.find("证号 A00003"), std::string::npos) << output.err;
  EXPECT_NE(output.err.find("其相片是否已保存无法确定"), std::string::npos) << output.err;
  EXPECT_EQ(output.LastLine(), "selected=5 stored=2 failed=0 nofile=0 unknown=1");
}

// The first Ctrl-C ends the wait for a frozen server at once: the statement timeout (600 s here) is not
// waited for, nor the cancel, which a frozen server never answers.
TEST_F(StoppedServerTest, TheFirstCtrlCEndsTheWaitForAFrozenServer) {
  const std::string pidFile = scratch_.PathOf("pid");
  Output output;
  {
    testsupport::RowLock lock(Backend::Postgres, server_->ConnectionString(), "A00003");
    FILE* run = StartCommandLine("echo $$ >" + ShellQuoted(pidFile) + "; exec timeout --foreground 60 " + Command(1) + " --timeout 600",
                                 scratch_);
    ASSERT_NE(run, nullptr);
    ASSERT_TRUE(lock.AwaitWaiter());
    ASSERT_TRUE(server_->Freeze());
    pid_t pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGINT);  // timeout(1) hands it on to card-photo (once: --foreground)
    output = FinishCommandLine(run, scratch_);
    ASSERT_TRUE(server_->Thaw());
  }
  EXPECT_EQ(output.exitCode, 130) << output.err;
  EXPECT_NE(output.err.find(photos_.PathOf("A00003.jpg") + " 结果不明"), std::string::npos) << output.err;
  EXPECT_THAT(output.LastLine(), ::testing::MatchesRegex("selected=5 stored=2 failed=[01] nofile=0 unknown=1"))
      << "A00004, the current reader as the Ctrl-C came, fails as cancelled unless its photo was still being made";
}

// The server stopped as by a crash in the middle of a run and started again at once: the run connects again
// after a pause, a store whose answer was lost finds its photo and counts as stored, and the run ends as if
// nothing had happened.
TEST_F(StoppedServerTest, AServerBackWithinSecondsEndsTheRunAsUsual) {
  for (int i = 6; i <= 40; ++i) {
    const std::string card = "A000" + std::to_string(i);
    admin_->Execute({"insert into lib_people (pe_id, pe_name, pe_mark) values (?, '读者', '正常')"}, {card});
    std::filesystem::copy_file(photo_, photos_.PathOf(card + ".jpg"));
  }
  FILE* run = StartCommandLine("timeout 120 " + Command(1) + " --timeout 10 --jobs 1", scratch_);
  ASSERT_NE(run, nullptr);
  bool started = false;
  for (int i = 0; i < 600 && !started; ++i) {
    started = !admin_->ReadPhoto("A00002").value_or(data::Bytes()).empty();
    if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(started);
  admin_.reset();
  ASSERT_TRUE(server_->StopImmediately());
  ASSERT_TRUE(server_->StartAgain());
  const Output output = FinishCommandLine(run, scratch_);
  EXPECT_EQ(output.exitCode, 0) << output.err;
  EXPECT_EQ(output.LastLine(), "selected=40 stored=40 failed=0 nofile=0") << output.err;
  admin_ = Connect();
  imaging::MemoryStream normalized;
  ASSERT_TRUE(imaging::MakePhotoStream(photo_, normalized));
  EXPECT_EQ(admin_->ReadPhoto("A00040"), normalized.bytes);
}

// Ctrl-C while a store waits for a row another program holds locked: the first cancels that store and
// stops after the current reader, with the summary; a second one ends the program at once. Either way
// each photo is stored whole or not at all.
TEST(ImportCommandServerTest, CtrlCCancelsAStoreThatWaitsAndASecondStopsAtOnce) {
  CREATE_DB_OR_SKIP(db, Backend::Postgres);
  ScratchFolder photos, scratch;
  const std::string photo = std::string(CARDPHOTO_TESTDATA_DIR) + "/jpeg/testorig.jpg";
  const std::vector<std::string> cards = {"A00001", "A00002", "A00003", "A00004", "A00005"};
  for (const std::string& card : cards) std::filesystem::copy_file(photo, photos.PathOf(card + ".jpg"));
  imaging::MemoryStream normalized;
  ASSERT_TRUE(imaging::MakePhotoStream(photo, normalized));
  const TestDatabase::Dsn dsn = db->RegisterDataSource("CardPhotoInterrupted");
  scratch.Write("password.txt", dsn.password + "\n");
  const std::string pidFile = scratch.PathOf("pid");
  // The shell writes its process number and becomes card-photo. One store at a time, so that the stop
  // comes one reader behind the store that waits.
  const std::string command = "echo $$ >" + ShellQuoted(pidFile) + "; exec " + kCardPhoto + " import --folder " +
                              ShellQuoted(photos.path()) + " --dsn " + dsn.name + " --user " + ShellQuoted(dsn.user) +
                              " --connections 1 --password-file " + ShellQuoted(scratch.PathOf("password.txt"));
  for (const int interrupts : {1, 2}) {
    SCOPED_TRACE(interrupts);
    db->Exec("delete from lib_people");
    for (const std::string& card : cards) {
      db->AdminSession().Execute({"insert into lib_people (pe_id, pe_name, pe_mark) values (?, '读者', '正常')"},
                                 {card});
    }
    Output output;
    {
      testsupport::RowLock lock(*db, "A00003");
      FILE* run = StartCommandLine(command, scratch);
      ASSERT_NE(run, nullptr);
      ASSERT_TRUE(lock.AwaitWaiter());  // the run's store of A00003
      pid_t pid = 0;
      std::ifstream(pidFile) >> pid;
      ASSERT_GT(pid, 0);
      for (int i = 0; i < interrupts; ++i) ::kill(pid, SIGINT);
      output = FinishCommandLine(run, scratch);
    }
    EXPECT_EQ(output.exitCode, 130) << output.err;
    for (const std::string& card : cards) {
      const data::Bytes value = db->AdminSession().ReadPhoto(card).value_or(data::Bytes());
      EXPECT_TRUE(value.empty() || value == normalized.bytes) << card;  // nothing half-written
    }
    EXPECT_EQ(db->AdminSession().ReadPhoto("A00003"), data::Bytes());
    if (interrupts == 1) {
      EXPECT_NE(output.err.find(photos.PathOf("A00003.jpg") + " 未能保存：保存已取消"), std::string::npos) << output.err;
      // A00004 may have been the current reader as the stop came (photos are stored one reader behind), or
      // never started; A00005 is never reached.
      EXPECT_THAT(output.LastLine(), ::testing::MatchesRegex("selected=5 stored=[23] failed=[12] nofile=0"));
      EXPECT_EQ(db->AdminSession().ReadPhoto("A00005"), data::Bytes());
    }
  }
}

TEST(FindCommandTest, PrintsThePathTheLookupTakes) {
  ScratchFolder scratch, photos;
  photos.Write("a00001.jpg");
  photos.Write("A00001.png");
  photos.Write("A00023_韩梅_计算机学院.jpg");
  const struct {
    std::string arguments;
    std::string out;
    int exitCode;
  } cases[] = {
      {"' a00001 '", photos.PathOf("a00001.jpg") + "\n", 0},
      {"韩梅 --rule segment:2", photos.PathOf("A00023_韩梅_计算机学院.jpg") + "\n", 0},
      {"A00023韩 --rule prefix:8", "", 1},
      {"A00002", "", 1},
      {"A00001 --rule segment:0", "", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Output output = RunCommandLine(kCardPhoto + " find " + ShellQuoted(photos.path() + "/") + " " + c.arguments, scratch);
    EXPECT_EQ(output.exitCode, c.exitCode);
    EXPECT_EQ(output.out, c.out);
  }
}

}  // namespace

#endif  // !_WIN32
