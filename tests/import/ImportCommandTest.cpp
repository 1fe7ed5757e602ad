// card-photo import and card-photo find, run as programs on the demo readers and the demo photo folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef _WIN32
TEST(ImportCommandTest, LinuxOnly) { GTEST_SKIP() << "runs card-photo and the demo scripts through a POSIX shell; WindowsPathsTest runs card-photo import on Windows"; }
#else
#include <sys/wait.h>

#include <csignal>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "ScratchFolder.h"
#include "imaging/PhotoStream.h"
#include "support/TestDatabase.h"
#include "support/ThrowawayPostgres.h"

namespace {

using importtest::ScratchFolder;
using testsupport::Backend;
using testsupport::TestDatabase;

const std::string kCardPhoto = std::string(CARDPHOTO_BINARY_DIR) + "/tools/card-photo";

struct Output {
  int exitCode = -1;
  std::string out, err;
  std::string LastLine() const {
    const auto end = out.find_last_not_of('\n');
    if (end == std::string::npos) return {};
    const auto start = out.rfind('\n', end);
    return out.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
  }
};

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A shell command line started with its standard output on a pipe and its standard error in a file.
FILE* StartCommand(const std::string& commandLine, const ScratchFolder& scratch) {
  return popen((commandLine + " 2>" + Quoted(scratch.PathOf("stderr.txt"))).c_str(), "r");
}

// Reads the rest of the command's output and waits for its end.
Output FinishCommand(FILE* pipe, const ScratchFolder& scratch) {
  Output output;
  if (!pipe) return output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.out.append(buffer, n);
  const int status = pclose(pipe);
  output.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::stringstream err;
  err << std::ifstream(scratch.PathOf("stderr.txt")).rdbuf();
  output.err = err.str();
  return output;
}

// Runs a shell command line, standard output and standard error captured apart.
Output RunCommand(const std::string& commandLine, const ScratchFolder& scratch) {
  return FinishCommand(StartCommand(commandLine, scratch), scratch);
}

class ImportCommandTest : public ::testing::TestWithParam<Backend> {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(std::filesystem::exists(kCardPhoto)) << kCardPhoto;
    photos_ = new ScratchFolder;
    const std::string make = std::string(CARDPHOTO_SOURCE_DIR) + "/scripts/make-demo-photos " +
                             Quoted(photos_->path()) + " >/dev/null";
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
    const TestDatabase::Dsn dsn = db->RegisterDataSource("CardPhotoTest");
    std::string command = kCardPhoto + " import --folder " + Quoted(photos_->path()) + " --dsn " + dsn.name +
                          " --user " + Quoted(dsn.user) + " ";
    if (passwordOption == "-") {
      command = "printf '%s\\n' " + Quoted(dsn.password) + " | " + command + "--password - ";
    } else if (passwordOption == "--password-file") {
      scratch_.Write("password.txt", dsn.password + "\n");
      command += "--password-file " + Quoted(scratch_.PathOf("password.txt")) + " ";
    } else {
      command += "--password " + Quoted(dsn.password) + " ";
    }
    return RunCommand(command + arguments, scratch_);
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
      // A00012.jpg is damaged; A00002 and A00005 have photos already.
      {"", "selected=25 stored=11 failed=1 nofile=13", 1},
      {"--replace", "selected=27 stored=12 failed=1 nofile=14", 1},
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
      "--password-file /nonexistent-cardphoto-password",  // besides --password -
  };
  for (const char* arguments : cases) {
    SCOPED_TRACE(arguments);
    const Output output = Import(arguments);
    EXPECT_EQ(output.exitCode, 2);
    EXPECT_FALSE(output.err.empty());
    EXPECT_EQ(output.out.find("selected="), std::string::npos);
  }
  const Output unknownSource = RunCommand(kCardPhoto + " import --folder /tmp --dsn NoSuchSource", scratch_);
  EXPECT_EQ(unknownSource.exitCode, 2);
  EXPECT_NE(unknownSource.err.find("cannot connect"), std::string::npos);
}

// Without --dsn the settings come from the machine's fixed settings file. The program runs in a mount
// namespace of its own whose /etc holds only the file the case makes, so the machine's own is never touched.
TEST(ImportCommandSettingsTest, StoredSettingsThatCannotBeReadExitWithTwoAndSayWhy) {
  ScratchFolder scratch, photos;
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string script = "mount -t tmpfs tmpfs /etc && mkdir /etc/korvanel && cd /etc/korvanel && " +
                               std::string(c.makeFile) + " && exec " + kCardPhoto + " import --folder " +
                               Quoted(photos.path());
    const Output output = RunCommand("unshare --mount --propagation private sh -c " + Quoted(script), scratch);
    EXPECT_EQ(output.exitCode, 2) << output.err;
    EXPECT_NE(output.err.find("/etc/korvanel/registry.reg: " + std::string(c.reason)), std::string::npos)
        << output.err;
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
  EXPECT_EQ(output.LastLine(), "selected=27 stored=11 failed=2 nofile=14");
}

TEST_P(ImportCommandTest, PasswordFromAFileOrTheCommandLine) {
  if (!TestDatabase::Create(GetParam())) GTEST_SKIP() << "no database server";
  const std::string warning = "process list";
  const Output fromFile = Import("", {}, "--password-file");
  EXPECT_EQ(fromFile.LastLine(), "selected=25 stored=11 failed=1 nofile=13") << fromFile.err;
  EXPECT_EQ(fromFile.err.find(warning), std::string::npos);

  const Output fromCommandLine = Import("", {}, "--password");
  EXPECT_EQ(fromCommandLine.LastLine(), "selected=25 stored=11 failed=1 nofile=13") << fromCommandLine.err;
  EXPECT_NE(fromCommandLine.err.find(warning), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Backends, ImportCommandTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

// The database server stops while a run waits for a row another program holds locked: the run stops with
// one message and exit status 3, every photo is stored whole or not at all, and a second run, once the
// server is back, stores the rest.
TEST(ImportCommandServerTest, ServerStoppedMidRunStopsTheRunWithExitThree) {
  if (!TestDatabase::Create(Backend::Postgres)) GTEST_SKIP() << "no PostgreSQL";
  auto server = testsupport::ThrowawayPostgres::Start();
  ASSERT_TRUE(server);
  ScratchFolder photos, scratch;
  const std::string photo = std::string(CARDPHOTO_TESTDATA_DIR) + "/jpeg/testorig.jpg";
  const std::vector<std::string> cards = {"A00001", "A00002", "A00003", "A00004", "A00005"};
  auto admin = std::make_unique<data::Session>();
  admin->ConnectString(server->ConnectionString());
  for (const std::string& card : cards) {
    admin->Execute({"insert into lib_people (pe_id, pe_name, pe_mark) values (?, '读者', '正常')"}, {card});
    std::filesystem::copy_file(photo, photos.PathOf(card + ".jpg"));
  }
  server->RegisterDataSource("CardPhotoLost");
  scratch.Write("password.txt", "libtest\n");
  const std::string command = kCardPhoto + " import --folder " + Quoted(photos.path()) +
                              " --dsn CardPhotoLost --user libtest --password-file " +
                              Quoted(scratch.PathOf("password.txt"));

  {
    testsupport::RowLock lock(Backend::Postgres, server->ConnectionString(), "A00003");
    FILE* run = StartCommand(command, scratch);
    ASSERT_NE(run, nullptr);
    ASSERT_TRUE(lock.AwaitWaiter());  // the run's store of A00003
    ASSERT_TRUE(server->Stop());
    const Output output = FinishCommand(run, scratch);
    EXPECT_EQ(output.exitCode, 3) << output.err;
    EXPECT_NE(output.err.find("与数据库服务器的连接已断开"), std::string::npos) << output.err;
    EXPECT_NE(output.err.find("证号 A00003"), std::string::npos) << output.err;
    EXPECT_EQ(output.err.find("selected="), std::string::npos);
    // The readers after A00003 are not counted.
    EXPECT_EQ(output.LastLine(), "selected=5 stored=2 failed=1 nofile=0");
  }

  ASSERT_TRUE(server->StartAgain());
  admin = std::make_unique<data::Session>();
  admin->ConnectString(server->ConnectionString());
  imaging::MemoryStream normalized;
  ASSERT_TRUE(imaging::MakePhotoStream(photo, normalized));
  int stored = 0;
  for (const std::string& card : cards) {
    const data::Bytes value = admin->ReadPhoto(card).value_or(data::Bytes());
    EXPECT_TRUE(value.empty() || value == normalized.bytes) << card;  // nothing half-written
    stored += value.empty() ? 0 : 1;
  }
  EXPECT_EQ(stored, 2);
  EXPECT_EQ(admin->ReadPhoto("A00003"), data::Bytes());

  const Output again = RunCommand(command, scratch);
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(again.LastLine(), "selected=3 stored=3 failed=0 nofile=0");
  for (const std::string& card : cards) EXPECT_EQ(admin->ReadPhoto(card), normalized.bytes) << card;
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
  // The shell writes its process number and becomes card-photo.
  const std::string command = "echo $$ >" + Quoted(pidFile) + "; exec " + kCardPhoto + " import --folder " +
                              Quoted(photos.path()) + " --dsn " + dsn.name + " --user " + Quoted(dsn.user) +
                              " --password-file " + Quoted(scratch.PathOf("password.txt"));
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
      FILE* run = StartCommand(command, scratch);
      ASSERT_NE(run, nullptr);
      ASSERT_TRUE(lock.AwaitWaiter());  // the run's store of A00003
      pid_t pid = 0;
      std::ifstream(pidFile) >> pid;
      ASSERT_GT(pid, 0);
      for (int i = 0; i < interrupts; ++i) ::kill(pid, SIGINT);
      output = FinishCommand(run, scratch);
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
    const Output output = RunCommand(kCardPhoto + " find " + Quoted(photos.path() + "/") + " " + c.arguments, scratch);
    EXPECT_EQ(output.exitCode, c.exitCode);
    EXPECT_EQ(output.out, c.out);
  }
}

}  // namespace

#endif  // !_WIN32
