// What card-photo tells a person at a terminal or a script: options it does not know, "--" before an
// identifier that begins with "-", a folder that does not exist, runs that select nobody or find no file,
// and output that reaches a pipe line by line.
#include <gtest/gtest.h>

#ifdef _WIN32
TEST(CommandLineTest, LinuxOnly) { GTEST_SKIP() << "runs card-photo through a POSIX shell; WindowsPathsTest runs card-photo on Windows"; }
#else

#include <string>

#include "support/CommandRunner.h"
#include "support/ScratchFolder.h"
#include "support/TestDatabase.h"

namespace {

using importtest::CommandOutput;
using importtest::kCardPhoto;
using importtest::RunCommandLine;
using importtest::ScratchFolder;
using importtest::ShellQuoted;
using testsupport::Backend;
using testsupport::TestDatabase;

TEST(CommandLineTest, ProblemsWithTheArgumentsAreNamed) {
  ScratchFolder scratch;
  const struct {
    const char* arguments;
    const char* message;
  } cases[] = {
      {"import --folder /tmp --verbose", "unknown option --verbose"},
      {"import --verbose --folder /tmp", "unknown option --verbose"},
      {"import --folder /tmp stray", "unexpected argument stray"},
      {"import --folder /tmp -- stray", "unexpected argument stray"},
      {"import --folder", "missing value for --folder"},
      {"find /tmp A1 --verbose", "unknown option --verbose"},
      {"find /tmp", "FOLDER and IDENTIFIER are required"},
      {"find /tmp A1 --rule", "missing value for --rule"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const CommandOutput output = RunCommandLine(kCardPhoto + " " + c.arguments, scratch);
    EXPECT_EQ(output.exitCode, 2);
    EXPECT_EQ(output.err.rfind("card-photo", 0), 0u) << output.err;
    EXPECT_NE(output.err.find(c.message), std::string::npos) << output.err;
  }
}

TEST(CommandLineTest, FindTakesAnIdentifierThatBeginsWithADashAfterTheDoubleDash) {
  ScratchFolder scratch, photos;
  photos.Write("-A1.jpg");
  const CommandOutput found = RunCommandLine(kCardPhoto + " find --rule exact -- " + ShellQuoted(photos.path()) + " -a1", scratch);
  EXPECT_EQ(found.exitCode, 0) << found.err;
  EXPECT_EQ(found.out, photos.PathOf("-A1.jpg") + "\n");

  const CommandOutput missing = RunCommandLine(kCardPhoto + " find " + ShellQuoted(photos.PathOf("missing")) + " A1", scratch);
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find(photos.PathOf("missing")), std::string::npos) << missing.err;
  EXPECT_EQ(missing.out, "");
}

class EmptyRunTest : public ::testing::TestWithParam<Backend> {
 protected:
  // card-photo import on the demo readers with both output streams into one pipe, in the order written.
  CommandOutput Import(const std::string& arguments) {
    auto db = TestDatabase::Create(GetParam(), {.withDemoData = true});
    if (!db) return {};
    const TestDatabase::Dsn dsn = db->RegisterDataSource("CardPhotoEmptyRun");
    return RunCommandLine("{ printf '%s\\n' " + ShellQuoted(dsn.password) + " | " + kCardPhoto + " import --folder " +
                              ShellQuoted(photos_.path()) + " --dsn " + dsn.name + " --user " + ShellQuoted(dsn.user) +
                              " --password - " + arguments + " 2>&1; }",
                          scratch_);
  }
  ScratchFolder scratch_, photos_;
};

TEST_P(EmptyRunTest, ARunThatDoesNothingSaysWhy) {
  if (!TestDatabase::Create(GetParam())) GTEST_SKIP() << "no database server";
  photos_.Write("unrelated.jpg");
  const struct {
    const char* arguments;
    const char* note;  // on standard error, after the summary
  } cases[] = {
      {"--by name --category 5", "category 5 selects no reader without a photo"},
      {"--by name --category 4 --department 'No such department'", "with department 'No such department' selects no reader"},
      {"", "none of the 25 selected readers has a photo file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const CommandOutput output = Import(c.arguments);
    EXPECT_EQ(output.exitCode, 0);
    // Standard output reaches the pipe line by line: the summary, written before the note on standard
    // error, comes before it (a buffered summary would come out at exit, after the note).
    const auto summary = output.out.find("selected=");
    const auto note = output.out.find(c.note);
    ASSERT_NE(summary, std::string::npos) << output.out;
    ASSERT_NE(note, std::string::npos) << output.out;
    EXPECT_LT(summary, note) << output.out;
  }
  photos_.Write("A00001.jpg", "not a picture");  // one reader finds a file (and fails on it): no note
  const CommandOutput someFile = Import("");
  EXPECT_EQ(someFile.exitCode, 1);
  EXPECT_EQ(someFile.out.find("card-photo import:"), std::string::npos) << someFile.out;
}

INSTANTIATE_TEST_SUITE_P(Backends, EmptyRunTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

}  // namespace

#endif  // !_WIN32
