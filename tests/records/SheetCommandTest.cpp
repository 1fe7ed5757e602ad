// card-photo sheet, run as a program against the demo readers: the sheet of the stored photos, whole or of
// one category and department, each picture the stored value byte for byte, readers without a photo listed;
// bad arguments refused with a reason and no file. The sheet opened in Chromium.
#include <gtest/gtest.h>

#ifdef _WIN32
TEST(SheetCommandTest, LinuxOnly) { GTEST_SKIP() << "runs card-photo and Chromium through a POSIX shell; ContactSheetTest writes sheets on Windows"; }
#else

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/Browser.h"
#include "support/CommandRunner.h"
#include "support/ScratchFolder.h"
#include "support/SheetPages.h"
#include "support/TestDatabase.h"

namespace {

using importtest::CommandOutput;
using importtest::ScratchFolder;
using importtest::ShellQuoted;
using testsupport::Backend;
using testsupport::TestDatabase;

class SheetCommandTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    db_ = TestDatabase::Create(GetParam(), {.withDemoData = true});
    if (!db_) GTEST_SKIP() << "no database server";
    dsn_ = db_->RegisterDataSource("CardPhotoSheet");
  }

  CommandOutput Sheet(const std::string& arguments) {
    return importtest::RunCommandLine("printf '%s\\n' " + ShellQuoted(dsn_.password) + " | " + importtest::kCardPhoto +
                                          " sheet " + arguments + " --dsn " + dsn_.name + " --user " +
                                          ShellQuoted(dsn_.user) + " --password -",
                                      scratch_);
  }

  std::unique_ptr<TestDatabase> db_;
  TestDatabase::Dsn dsn_;
  ScratchFolder scratch_;
};

TEST_P(SheetCommandTest, TheStoredPhotosOfAChoiceOfReaders) {
  data::Session& admin = db_->AdminSession();
  const data::Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0xFF, 0xD9};
  admin.WritePhoto("A00001", testsupport::MakeSamplePhoto(7, 3, 0x07E0));
  admin.WritePhoto("A00007", testsupport::MakeSamplePhoto(5, 5, 0x001F));  // department King's 学院
  admin.WritePhoto("A00010", jpeg);                                      // stored by another program
  admin.WritePhoto("A00008", testsupport::MakeSamplePhoto());            // expired: never on a sheet
  std::map<std::string, data::Bytes> stored;
  for (const char* card : {"A00001", "A00002", "A00005", "A00007", "A00010"})
    stored[card] = *admin.ReadPhoto(card);

  const struct {
    const char* title;
    std::string options;
    std::vector<std::string> withPhoto;  // the grid, in card-number order
    int without;                          // readers listed without a photo
  } cases[] = {
      {"every reader", "", {"A00001", "A00002", "A00005", "A00007", "A00010"}, 22},
      {"one category", "--category 1", {"A00001", "A00002", "A00005", "A00007"}, 6},
      {"one department", "--category 1 --department 计算机学院", {"A00001", "A00002"}, 1},
      {"a department with a quote", "--category 1 --department \"King's 学院\"", {"A00007"}, 0},
      {"a category without readers", "--category 5", {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    const std::string file = scratch_.PathOf("核对表.html");
    const CommandOutput output = Sheet(ShellQuoted(file) + " " + c.options);
    EXPECT_EQ(output.exitCode, 0) << output.err << output.out;
    const int selected = static_cast<int>(c.withPhoto.size()) + c.without;
    EXPECT_EQ(output.LastLine(), "selected=" + std::to_string(selected) + " stored=" +
                                     std::to_string(c.withPhoto.size()) + " failed=0 nofile=" + std::to_string(c.without));
    const std::vector<sheettest::Cell> cells = sheettest::CellsOf(sheettest::ReadText(file));
    std::vector<std::string> cards;
    for (const sheettest::Cell& cell : cells) {
      cards.push_back(cell.card);
      EXPECT_EQ(sheettest::Base64Decode(cell.base64), stored[cell.card]) << cell.card << ": the stored value";
      EXPECT_EQ(cell.mime, cell.card == "A00010" ? "image/jpeg" : "image/bmp") << cell.card;
    }
    EXPECT_EQ(cards, c.withPhoto);
    EXPECT_EQ(sheettest::CardsOf(sheettest::ReadText(file)).size(), static_cast<std::size_t>(selected));
    for (const auto& entry : std::filesystem::directory_iterator(scratch_.path()))
      EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << "work folder left: " << entry.path();
  }
}

TEST_P(SheetCommandTest, BadArgumentsAreRefusedWithAReasonAndWriteNothing) {
  const std::string file = scratch_.PathOf("s.html");
  const struct {
    std::string arguments;
    std::string reason;
  } cases[] = {
      {"", "one sheet file FILE.html is required"},
      {ShellQuoted(file) + " --department 计算机学院", "--department needs --category ID"},
      {ShellQuoted(file) + " --category one", "bad --category one"},
      {ShellQuoted(file) + " --replace", "unknown option --replace"},
      {ShellQuoted(scratch_.PathOf("missing/s.html")), "the folder of " + scratch_.PathOf("missing/s.html") + " does not exist"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const CommandOutput output = Sheet(c.arguments);
    EXPECT_EQ(output.exitCode, 2);
    EXPECT_NE(output.err.find(c.reason), std::string::npos) << output.err;
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists(scratch_.PathOf("missing")));
  }
}

TEST_P(SheetCommandTest, TheSheetInABrowser) {
  REQUIRE_BROWSER_OR_SKIP();
  data::Session& admin = db_->AdminSession();
  admin.WritePhoto("A00001", testsupport::MakeSamplePhoto(110, 120, 0x07E0));
  const std::string file = scratch_.PathOf("sheet.html");
  ASSERT_EQ(Sheet(ShellQuoted(file) + " --category 1").exitCode, 0);
  const testsupport::BrowsedPage page = testsupport::OpenInBrowser(
      file, "[...document.images].map(i => i.alt + ' ' + i.naturalWidth + 'x' + i.naturalHeight).join(',')",
      std::filesystem::path(CARDPHOTO_BINARY_DIR) / "screenshots" / ("card-photo-sheet-" + testsupport::BackendName(GetParam()) + ".png"));
  ASSERT_TRUE(page.ok) << page.error;
  EXPECT_EQ(page.value, "A00001 110x120,A00002 6x8,A00005 6x8");
}

INSTANTIATE_TEST_SUITE_P(Backends, SheetCommandTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

}  // namespace

#endif  // !_WIN32
