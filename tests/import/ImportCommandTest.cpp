// card-photo import and card-photo find, run as programs on the demo readers and the demo photo folder.
#include <gtest/gtest.h>

#ifdef _WIN32
TEST(ImportCommandTest, LinuxOnly) { GTEST_SKIP() << "runs card-photo and the demo scripts through a POSIX shell; WindowsPathsTest runs card-photo import on Windows"; }
#else
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ScratchFolder.h"
#include "support/TestDatabase.h"

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

// Runs a shell command line, standard output and standard error captured apart.
Output RunCommand(const std::string& commandLine, const ScratchFolder& scratch) {
  const std::string errFile = scratch.PathOf("stderr.txt");
  Output output;
  FILE* pipe = popen((commandLine + " 2>" + Quoted(errFile)).c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.out.append(buffer, n);
  const int status = pclose(pipe);
  output.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::stringstream err;
  err << std::ifstream(errFile).rdbuf();
  output.err = err.str();
  return output;
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

  // card-photo import on a fresh demo database, the password passed on standard input.
  Output Import(const std::string& arguments) {
    auto db = TestDatabase::Create(GetParam(), {.withDemoData = true});
    if (!db) return {};
    const TestDatabase::Dsn dsn = db->RegisterDataSource("CardPhotoTest");
    return RunCommand("printf '%s\\n' " + Quoted(dsn.password) + " | " + kCardPhoto + " import --folder " +
                          Quoted(photos_->path()) + " --dsn " + dsn.name + " --user " + Quoted(dsn.user) +
                          " --password - " + arguments,
                      scratch_);
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
  EXPECT_NE(output.out.find(photos_->PathOf("A00012.jpg") + " 图片有问题，未能导入！\n"), std::string::npos);

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

INSTANTIATE_TEST_SUITE_P(Backends, ImportCommandTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

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
