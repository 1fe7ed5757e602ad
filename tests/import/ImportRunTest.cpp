// The import run against real databases (SQLite3 ODBC and PostgreSQL) and real photo files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/FilePath.h"
#include "data/Session.h"
#include "imaging/PhotoStream.h"
#include "import/ImportRun.h"
#include "ScratchFolder.h"
#include "support/TestDatabase.h"

namespace photoimport {
namespace {

using importtest::ScratchFolder;
using testsupport::Backend;
using testsupport::TestDatabase;

const std::string kTestData = CARDPHOTO_TESTDATA_DIR;
const std::string kColourJpeg = kTestData + "/jpeg/testorig.jpg";
const std::string kGrayJpeg = kTestData + "/jpeg/testimggray.jpg";
const std::string kAlphaPng = kTestData + "/pngsuite/basn6a08.png";

struct Reader {
  std::string id;
  std::optional<std::string> name = "读者";
  std::optional<std::string> idCard = std::nullopt;
  std::optional<std::string> campus = std::nullopt;
  std::optional<std::string> mark = "正常";
  long long category = 1;
  std::optional<std::string> department = std::nullopt;
};

// A literal for the fixture statements: NULL, or the text in quotes with quotes doubled.
std::string Literal(const std::optional<std::string>& value) {
  if (!value) return "NULL";
  std::string quoted = "'";
  for (char c : *value) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

struct RecordingObserver : ImportObserver {
  std::vector<std::pair<int, int>> progress;
  std::vector<std::string> paths, names, cardNumbers, log;
  std::vector<std::string> reports;  // log lines and progress counts as they came
  int previews = 0;
  int stopAfter = -1;  // readers shown when ShouldStop starts answering true

  void Progress(int done, int total) override {
    progress.emplace_back(done, total);
    reports.push_back(std::to_string(done));
  }
  void CurrentReader(const std::string& path, const std::string& cardNumber, const std::string& name) override {
    paths.push_back(path);
    cardNumbers.push_back(cardNumber);
    names.push_back(name);
  }
  void Preview(std::span<const std::uint8_t>) override { ++previews; }
  void LogLine(const std::string& line) override {
    log.push_back(line);
    reports.push_back(line);
  }
  bool ShouldStop() override { return stopAfter >= 0 && static_cast<int>(cardNumbers.size()) >= stopAfter; }
};

class ImportRunTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    db_ = TestDatabase::Create(GetParam());
    if (!db_) GTEST_SKIP() << testsupport::UnavailableReason(GetParam());
    session_.ConnectString(db_->ConnectionString());
    options_.folder = folder_.path();
  }

  void Add(const Reader& r) {
    db_->Exec("insert into lib_people (pe_id, pe_name, pe_shenfenzheng, pe_yktno, pe_mark, pe_dzlx, pe_deptment) "
              "values (" + Literal(r.id) + ", " + Literal(r.name) + ", " + Literal(r.idCard) + ", " +
              Literal(r.campus) + ", " + Literal(r.mark) + ", " + std::to_string(r.category) + ", " +
              Literal(r.department) + ")");
  }
  void Photo(const std::string& name, const std::string& source = kColourJpeg) {
    std::filesystem::copy_file(source, app::PathFromUtf8(folder_.PathOf(name)));
  }
  std::optional<data::Bytes> Stored(const std::string& cardNumber) { return db_->AdminSession().ReadPhoto(cardNumber); }
  // What the run must store for a file: exactly the normalized photo.
  static data::Bytes Normalized(const std::string& path) {
    imaging::MemoryStream stream;
    EXPECT_TRUE(imaging::MakePhotoStream(path, stream)) << path;
    return stream.bytes;
  }
  ImportResult Run() { return RunImport(options_, session_, observer_); }

  std::unique_ptr<TestDatabase> db_;
  data::Session session_;
  ScratchFolder folder_;
  ImportOptions options_;
  RecordingObserver observer_;
};

TEST_P(ImportRunTest, EachIdentifierStoresTheNormalizedPhoto) {
  const struct {
    IdentifierColumn column;
    std::string fileName;
  } cases[] = {
      {IdentifierColumn::CardNumber, "a00001.jpg"},  // identifiers are upper-cased, names compared without case
      {IdentifierColumn::IdentityCard, "11010519491231002X.jpg"},
      {IdentifierColumn::CampusCard, "YKT0001.jpg"},
      {IdentifierColumn::Name, "张三.jpg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fileName);
    db_->Exec("delete from lib_people");
    testsupport::RemoveFolder(folder_.path());
    std::filesystem::create_directory(folder_.path());
    Add({.id = "A00001", .name = "张三", .idCard = "11010519491231002x", .campus = "ykt0001"});
    Add({.id = "A00002", .name = "李四", .idCard = "110105194912310030", .campus = "YKT0002"});
    Photo(c.fileName);
    options_.identifier = c.column;
    options_.categoryChoice = CategoryChoice::All;

    const ImportResult result = Run();
    EXPECT_EQ(result.outcome, RunOutcome::Completed);
    EXPECT_EQ(result.selected, 2);
    EXPECT_EQ(result.stored, 1);
    EXPECT_EQ(result.noFile, 1);
    EXPECT_EQ(result.failed, 0);
    EXPECT_EQ(Stored("A00001"), Normalized(folder_.PathOf(c.fileName)));
    EXPECT_EQ(Stored("A00002"), data::Bytes());
  }
}

TEST_P(ImportRunTest, SegmentAndPrefixRules) {
  Add({.id = "A00001", .name = "张三"});
  Add({.id = "A00002", .name = "李四"});
  Photo("A00001_张三_高一1班.jpg");
  Photo("李四A00002.png", kAlphaPng);
  options_.identifier = IdentifierColumn::Name;
  options_.categoryChoice = CategoryChoice::All;
  options_.rule = NamingRule::Segment;
  options_.ruleIndex = 1;
  EXPECT_EQ(Run().stored, 1);
  EXPECT_EQ(Stored("A00001"), Normalized(folder_.PathOf("A00001_张三_高一1班.jpg")));

  options_.rule = NamingRule::Prefix;
  options_.ruleIndex = 3;  // four GBK bytes: two Chinese characters
  EXPECT_EQ(Run().stored, 1);
  EXPECT_EQ(Stored("A00002"), Normalized(folder_.PathOf("李四A00002.png")));
}

TEST_P(ImportRunTest, SkipsOrReplacesReadersWithAPhoto) {
  Add({.id = "A00001"});
  Add({.id = "A00002"});
  Photo("A00001.jpg");
  Photo("A00002.jpg", kGrayJpeg);
  const data::Bytes earlier = Normalized(kAlphaPng);
  db_->AdminSession().WritePhoto("A00002", earlier);

  const ImportResult skipping = Run();
  EXPECT_EQ(skipping.selected, 1);
  EXPECT_EQ(skipping.stored, 1);
  EXPECT_EQ(Stored("A00002"), earlier);

  options_.skipReadersWithPhoto = false;
  const ImportResult replacing = Run();
  EXPECT_EQ(replacing.selected, 2);
  EXPECT_EQ(replacing.stored, 2);
  EXPECT_EQ(Stored("A00002"), Normalized(folder_.PathOf("A00002.jpg")));
}

TEST_P(ImportRunTest, OnlyNormalReadersAreSelected) {
  Add({.id = "A00001", .mark = "过期"});
  Add({.id = "A00002", .mark = "注销"});
  Add({.id = "A00003", .mark = std::nullopt});
  Add({.id = "", .idCard = "ID4"});
  Add({.id = "A00005", .idCard = "ID5", .mark = ""});
  Add({.id = "A00006", .idCard = "ID6"});
  for (const char* name : {"A00001.jpg", "A00002.jpg", "A00003.jpg", "ID4.jpg", "ID5.jpg", "ID6.jpg"}) Photo(name);
  options_.identifier = IdentifierColumn::IdentityCard;

  const ImportResult result = Run();
  EXPECT_EQ(result.selected, 2);
  EXPECT_EQ(result.stored, 2);
  for (const char* unselected : {"A00001", "A00002", "A00003"}) EXPECT_EQ(Stored(unselected), data::Bytes()) << unselected;
}

TEST_P(ImportRunTest, CategoryAndDepartmentRestrictNameMatching) {
  Add({.id = "A00001", .name = "甲", .category = 1, .department = "O'Brien班"});
  Add({.id = "A00002", .name = "乙", .category = 1, .department = "高一1班"});
  Add({.id = "A00003", .name = "丙", .category = 2, .department = "O'Brien班"});
  for (const char* name : {"甲.jpg", "乙.jpg", "丙.jpg"}) Photo(name);
  options_.identifier = IdentifierColumn::Name;

  const struct {
    CategoryChoice choice;
    long long category;
    std::optional<std::string> department;
    int selected;
  } cases[] = {
      {CategoryChoice::All, 0, std::nullopt, 3},
      {CategoryChoice::One, 1, std::nullopt, 2},
      {CategoryChoice::One, 1, "O'Brien班", 1},
      {CategoryChoice::One, 2, "高一1班", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.category);
    options_.categoryChoice = c.choice;
    options_.category = c.category;
    options_.department = c.department;
    options_.skipReadersWithPhoto = false;
    const ImportResult result = Run();
    EXPECT_EQ(result.outcome, RunOutcome::Completed) << result.error;
    EXPECT_EQ(result.selected, c.selected);
    EXPECT_EQ(result.stored, c.selected);
  }
}

TEST_P(ImportRunTest, DepartmentReadFromAFixedWidthColumnSelectsItsReaders) {
  // Schemas of other library systems keep the department in a fixed-width column: the department list
  // then holds the name with its trailing blanks, and the run must still find the department's readers.
  if (GetParam() == Backend::Postgres)
    db_->Exec("alter table lib_people alter column pe_deptment type char(20)");
  Add({.id = "A00001", .name = "甲", .category = 1, .department = "O'Brien班"});
  Photo("甲.jpg");
  options_.identifier = IdentifierColumn::Name;
  options_.categoryChoice = CategoryChoice::One;
  options_.category = 1;
  auto departments = db_->AdminSession().Open({"select pe_deptment from lib_people"});
  options_.department = departments->Text("pe_deptment");  // as the department list shows it
  departments->Close();

  const ImportResult result = Run();
  EXPECT_EQ(result.selected, 1) << result.error;
  EXPECT_EQ(result.stored, 1);
}

TEST_P(ImportRunTest, NullIdentifierIsSkippedAndNullNameShownEmpty) {
  // Schemas of other library systems let the name be NULL.
  if (GetParam() == Backend::Postgres) {
    db_->Exec("alter table lib_people alter column pe_name drop not null");
  } else {
    db_->Exec("drop table lib_people");
    db_->Exec("create table lib_people (pe_id char(12) not null, pe_name char(20), pe_photo blob, "
              "pe_shenfenzheng varchar(20), pe_yktno varchar(20), pe_mark varchar(10), pe_dzlx integer, "
              "pe_deptment varchar(60))");
  }
  Add({.id = "A00001", .idCard = std::nullopt});
  Add({.id = "A00002", .name = std::nullopt, .idCard = "ID2"});
  Photo("ID2.jpg");
  options_.identifier = IdentifierColumn::IdentityCard;

  const ImportResult result = Run();
  EXPECT_EQ(result.outcome, RunOutcome::Completed);
  EXPECT_EQ(result.noFile, 1);
  EXPECT_EQ(result.stored, 1);
  EXPECT_EQ(observer_.cardNumbers, std::vector<std::string>{"A00002"});
  EXPECT_EQ(observer_.names, std::vector<std::string>{""});
}

TEST_P(ImportRunTest, FailuresAreLoggedAndTheRunGoesOn) {
  Add({.id = "A00001"});  // damaged file
  Add({.id = "A00002"});  // current photo in another format: kept
  Add({.id = " A00003"});  // trimmed card number that no row has: nothing inserted
  Add({.id = "A00004"});
  folder_.Write("A00001.jpg", "not a picture");
  Photo("A00002.jpg");
  Photo("A00003.jpg");
  Photo("A00004.jpg");
  const data::Bytes png = [] {
    std::ifstream in(kAlphaPng, std::ios::binary);
    return data::Bytes(std::istreambuf_iterator<char>(in), {});
  }();
  db_->AdminSession().WritePhoto("A00002", png);
  options_.skipReadersWithPhoto = false;

  const ImportResult result = Run();
  EXPECT_EQ(result.outcome, RunOutcome::Completed);
  EXPECT_EQ(result.failed, 3);
  EXPECT_EQ(result.stored, 1);
  EXPECT_EQ(Stored("A00002"), png);
  EXPECT_EQ(Stored("A00004"), Normalized(folder_.PathOf("A00004.jpg")));
  auto count = db_->AdminSession().Open({"select count(*) as n from lib_people"});
  EXPECT_EQ(count->AsInteger("n"), 4);
  std::vector<std::string> expectedLog;
  for (const char* name : {"A00001.jpg", "A00002.jpg", "A00003.jpg"})
    expectedLog.push_back(folder_.PathOf(name) + " 图片有问题，未能导入！");
  std::sort(observer_.log.begin(), observer_.log.end());
  EXPECT_EQ(observer_.log, expectedLog);
  EXPECT_EQ(SummaryLine(result), "共选择读者 4 人，导入相片 1 张，失败 3 个，无相片文件 0 人");
}

TEST_P(ImportRunTest, CardNumberSharedByTwoReadersIsLoggedAndNeitherRowChanges) {
  Add({.id = "A00007", .name = "甲"});
  Add({.id = "A00007", .name = "乙"});
  Photo("A00007.jpg");

  const ImportResult result = Run();
  EXPECT_EQ(result.failed, 2);  // each of the two selected rows finds the file and is refused
  EXPECT_EQ(result.stored, 0);
  auto photos = db_->AdminSession().Open({"select count(*) as n from lib_people where pe_photo is not null"});
  EXPECT_EQ(photos->AsInteger("n"), 0);
}

TEST_P(ImportRunTest, CardNumberWithTrailingBlanksIsStored) {
  Add({.id = "A00009   "});
  Photo("A00009.jpg");
  EXPECT_EQ(Run().stored, 1);
  EXPECT_EQ(Stored("A00009"), Normalized(folder_.PathOf("A00009.jpg")));
}

TEST_P(ImportRunTest, ProgressReachesTheTotalAndAStopEndsAfterTheCurrentReader) {
  for (int i = 1; i <= 5; ++i) {
    Add({.id = "A0000" + std::to_string(i)});
    Photo("A0000" + std::to_string(i) + ".jpg");
  }
  // Asked before the third reader, while the second reader's photo is still being stored.
  observer_.stopAfter = 2;
  const ImportResult stopped = Run();
  EXPECT_EQ(stopped.outcome, RunOutcome::Stopped);
  EXPECT_EQ(stopped.stored, 2);
  EXPECT_EQ(observer_.progress.back(), std::make_pair(2, 5));
  for (const std::string& shown : observer_.cardNumbers)
    EXPECT_EQ(Stored(shown), Normalized(folder_.PathOf(shown + ".jpg"))) << shown;

  observer_ = RecordingObserver{};
  options_.skipReadersWithPhoto = false;
  const ImportResult full = Run();
  ASSERT_EQ(observer_.progress.size(), 6u);
  for (int done = 0; done <= 5; ++done) EXPECT_EQ(observer_.progress[done], std::make_pair(done, 5));
  EXPECT_EQ(observer_.previews, 5);
  EXPECT_EQ(full.stored, 5);
}

// Photos are stored while the next one is normalized: each reader's failure must still be logged in the
// order the readers were shown, just before its own progress, whichever step failed.
TEST_P(ImportRunTest, OutcomesAreReportedInReaderOrder) {
  for (int i = 1; i <= 6; ++i) Add({.id = "A0000" + std::to_string(i)});
  for (const char* name : {"A00001.jpg", "A00003.jpg", "A00004.jpg", "A00005.jpg", "A00006.jpg"}) Photo(name);
  folder_.Write("A00002.jpg", "not a picture");
  db_->AdminSession().WritePhoto("A00005", data::Bytes{'G', 'I', 'F', '8', '9', 'a'});
  // The database refuses A00001's write: the failure is raised while the next photo is normalized.
  // (Sent whole: the bodies hold semicolons.)
  if (GetParam() == Backend::Postgres) {
    db_->AdminSession().Execute({"create function refuse_photo() returns trigger language plpgsql as",
                                 "$$ begin raise exception 'photo refused'; end $$"});
    db_->Exec("create trigger refuse_photo before update on lib_people for each row "
              "when (old.pe_id = 'A00001') execute function refuse_photo()");
  } else {
    db_->AdminSession().Execute({"create trigger refuse_photo before update on lib_people when old.pe_id = 'A00001'",
                                 "begin select raise(abort, 'photo refused'); end"});
  }
  options_.skipReadersWithPhoto = false;

  const ImportResult result = Run();
  EXPECT_EQ(result.stored, 3);
  EXPECT_EQ(result.failed, 3);
  EXPECT_EQ(result.noFile, 0);
  EXPECT_EQ(Stored("A00001"), data::Bytes());
  EXPECT_EQ(Stored("A00005"), (data::Bytes{'G', 'I', 'F', '8', '9', 'a'}));
  for (const char* stored : {"A00003", "A00004", "A00006"})
    EXPECT_EQ(Stored(stored), Normalized(folder_.PathOf(std::string(stored) + ".jpg"))) << stored;
  std::vector<std::string> expected = {"0"};  // the start
  for (std::size_t i = 0; i < observer_.cardNumbers.size(); ++i) {
    const std::string& card = observer_.cardNumbers[i];
    const bool fails = card == "A00001" || card == "A00002" || card == "A00005";
    if (fails) expected.push_back(observer_.paths[i] + kFailureSuffix);
    expected.push_back(std::to_string(i + 1));
  }
  EXPECT_EQ(observer_.reports, expected);
}

TEST_P(ImportRunTest, ChecksRefuseToStart) {
  options_.folder = "  ";
  EXPECT_EQ(Run().check, ImportCheck::EmptyFolder);
  EXPECT_EQ(CheckMessage(ImportCheck::EmptyFolder, options_), "请选择相片文件保存路径");

  options_.folder = folder_.PathOf("missing");
  EXPECT_EQ(Run().check, ImportCheck::MissingFolder);
  EXPECT_NE(CheckMessage(ImportCheck::MissingFolder, options_).find(folder_.PathOf("missing")), std::string::npos);

  options_.folder = folder_.path() + "/";
  options_.identifier = IdentifierColumn::Name;
  EXPECT_EQ(Run().check, ImportCheck::NoCategory);
  EXPECT_EQ(CheckMessage(ImportCheck::NoCategory, options_), "请选择要处理的读者类型");
  EXPECT_EQ(Run().outcome, RunOutcome::NotStarted);
}

TEST_P(ImportRunTest, ARunCannotStartInsideARun) {
  Add({.id = "A00001"});
  Photo("A00001.jpg");
  struct Reentering : RecordingObserver {
    const ImportOptions* options = nullptr;
    data::Session* session = nullptr;
    std::optional<ImportResult> inner;
    void ProcessEvents() override {
      if (!inner) inner = RunImport(*options, *session, *this);
    }
  } reentering;
  reentering.options = &options_;
  reentering.session = &session_;
  const ImportResult outer = RunImport(options_, session_, reentering);
  ASSERT_TRUE(reentering.inner);
  EXPECT_EQ(reentering.inner->check, ImportCheck::AlreadyRunning);
  EXPECT_EQ(outer.stored, 1);
}

TEST_P(ImportRunTest, RejectedSelectionStoresNothing) {
  Add({.id = "A00001", .campus = "YKT1"});
  Photo("YKT1.jpg");
  db_->Exec("alter table lib_people rename column pe_yktno to pe_card2");
  options_.identifier = IdentifierColumn::CampusCard;
  const ImportResult result = Run();
  EXPECT_EQ(result.outcome, RunOutcome::SelectionFailed);
  EXPECT_FALSE(result.error.empty());
  EXPECT_EQ(Stored("A00001"), data::Bytes());
}

INSTANTIATE_TEST_SUITE_P(Backends, ImportRunTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

}  // namespace
}  // namespace photoimport
