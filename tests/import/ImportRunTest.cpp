// The import run against real databases (SQLite3 ODBC and PostgreSQL) and real photo files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/FilePath.h"
#include "app/Text.h"
#include "data/Session.h"
#include "imaging/JpegTestFiles.h"
#include "imaging/PhotoFile.h"
#include "imaging/PhotoStream.h"
#include "import/FailureReasons.h"
#include "import/ImportRun.h"
#include "support/ScratchFolder.h"
#include "support/TestDatabase.h"

namespace photoimport {
namespace {

using importtest::ScratchFolder;
using testsupport::Backend;
using testsupport::RowLock;
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
  std::vector<FinishedReader> finished;
  std::vector<std::pair<int, int>> progress;
  std::vector<std::string> paths, names, cardNumbers, log;
  std::vector<std::string> reports;  // log lines and progress counts as they came
  std::vector<std::string> calls;    // every call but ProcessEvents and the questions, as it came
  std::map<std::string, std::string> reasons;  // card number -> reason of each failed reader
  std::map<std::string, data::Bytes> finishedPhotos;  // card number -> the photo Finished gave
  int previews = 0;
  int stopAfter = -1;  // readers shown when ShouldStop starts answering true
  bool stopNow = false;  // ShouldStop answers true from now on
  // Where a test acts as another program during the run: when a reader is announced (its photo not yet
  // stored), when a reader is finished; and whether a store that takes long is to be cancelled.
  std::function<void(const std::string& cardNumber)> onReaderShown;
  std::function<void(const FinishedReader&)> onFinished;
  std::function<bool()> cancelStore;

  void Finished(const FinishedReader& reader, std::span<const std::uint8_t> photo) override {
    finished.push_back(reader);
    calls.push_back("finished " + reader.cardNumber + " " + std::to_string(static_cast<int>(reader.outcome)) + " " +
                    reader.path + " " + reader.reason);
    if (reader.outcome == ReaderOutcome::Failed) reasons[reader.cardNumber] = reader.reason;
    finishedPhotos[reader.cardNumber].assign(photo.begin(), photo.end());
    if (onFinished) onFinished(reader);
  }
  void Progress(int done, int total) override {
    progress.emplace_back(done, total);
    reports.push_back(std::to_string(done));
    calls.push_back("progress " + std::to_string(done) + "/" + std::to_string(total));
  }
  void CurrentReader(const std::string& path, const std::string& cardNumber, const std::string& name) override {
    paths.push_back(path);
    cardNumbers.push_back(cardNumber);
    names.push_back(name);
    calls.push_back("reader " + path + " " + cardNumber + " " + name);
    if (onReaderShown) onReaderShown(cardNumber);
  }
  void Preview(std::span<const std::uint8_t> photo) override {
    ++previews;
    const std::string_view bytes(reinterpret_cast<const char*>(photo.data()), photo.size());
    calls.push_back("preview " + std::to_string(std::hash<std::string_view>{}(bytes)));
  }
  void LogLine(const std::string& line) override {
    log.push_back(line);
    calls.push_back("log " + line);
    reports.push_back(line);
  }
  bool ShouldCancelStore() override { return cancelStore && cancelStore(); }
  bool ShouldStop() override {
    return stopNow || (stopAfter >= 0 && static_cast<int>(cardNumbers.size()) >= stopAfter);
  }
};

class ImportRunTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    importtest::UseScratchDataFolder();
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
  // A value copied from a fixed-width column keeps its blanks where the column does not pad (SQLite).
  Add({.id = "A00002", .name = "乙", .category = 1, .department = "O'Brien班   "});
  Photo("甲.jpg");
  Photo("乙.jpg");
  options_.identifier = IdentifierColumn::Name;
  options_.categoryChoice = CategoryChoice::One;
  options_.category = 1;
  options_.skipReadersWithPhoto = false;
  auto departments = db_->AdminSession().Open({"select pe_deptment from lib_people where pe_id='A00001'"});
  const std::string listed = departments->Text("pe_deptment");  // as the department list shows it
  departments->Close();

  for (const std::string& department : {listed, std::string("O'Brien班"), std::string("O'Brien班 ")}) {
    SCOPED_TRACE("[" + department + "]");
    options_.department = department;
    const ImportResult result = Run();
    EXPECT_EQ(result.selected, 2) << result.error;
    EXPECT_EQ(result.stored, 2);
  }
}

// The department is bound as a parameter: quotes and backslashes select what they say, also on a
// PostgreSQL session whose string literals still take backslash escapes.
TEST_P(ImportRunTest, DepartmentWithQuotesAndBackslashesSelectsExactlyItsReaders) {
  const std::vector<std::string> departments = {"计算机\\'系", "计算机\\", "计算机'系", "计算机\\' or '1'='1"};
  for (std::size_t i = 0; i < departments.size(); ++i) {
    const std::string card = "A0000" + std::to_string(i + 1);
    Add({.id = card, .name = "读者" + std::to_string(i + 1), .department = departments[i]});
    Photo("读者" + std::to_string(i + 1) + ".jpg");
  }
  options_.identifier = IdentifierColumn::Name;
  options_.categoryChoice = CategoryChoice::One;
  options_.category = 1;
  options_.skipReadersWithPhoto = false;
  std::vector<bool> backslashEscapes = {false};
  if (GetParam() == Backend::Postgres) backslashEscapes.push_back(true);
  for (const bool escapes : backslashEscapes) {
    if (escapes) {
      session_.Execute({"set escape_string_warning = off"});
      session_.Execute({"set standard_conforming_strings = off"});
    }
    for (std::size_t i = 0; i < departments.size(); ++i) {
      SCOPED_TRACE(departments[i] + (escapes ? " (backslash escapes)" : ""));
      observer_ = RecordingObserver{};
      options_.department = departments[i];
      const ImportResult result = Run();
      EXPECT_EQ(result.outcome, RunOutcome::Completed) << result.error;
      EXPECT_EQ(result.selected, 1);
      EXPECT_EQ(observer_.cardNumbers, std::vector<std::string>{"A0000" + std::to_string(i + 1)});
    }
  }
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
  Add({.id = " A00003"});  // a leading blank is part of the card number: found and stored as held
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
  EXPECT_EQ(result.failed, 2);
  EXPECT_EQ(result.stored, 2);
  EXPECT_EQ(Stored("A00002"), png);
  EXPECT_EQ(Stored(" A00003"), Normalized(folder_.PathOf("A00003.jpg")));
  EXPECT_EQ(Stored("A00004"), Normalized(folder_.PathOf("A00004.jpg")));
  auto count = db_->AdminSession().Open({"select count(*) as n from lib_people"});
  EXPECT_EQ(count->AsInteger("n"), 4);
  const std::vector<std::string> expectedLog = {
      folder_.PathOf("A00001.jpg") + " 图片有问题，未能导入！",
      folder_.PathOf("A00002.jpg") + " 未能保存：现有相片不是位图，未覆盖",
  };
  std::sort(observer_.log.begin(), observer_.log.end());
  EXPECT_EQ(observer_.log, expectedLog);
  EXPECT_EQ(SummaryLine(result), "共选择读者 4 人，导入相片 2 张，失败 2 个，无相片文件 0 人");
}

TEST_P(ImportRunTest, CardNumberSharedByTwoReadersIsLoggedAndNeitherRowChanges) {
  // Card numbers equal but for trailing blanks are one card number on every server (a fixed-width
  // pe_id holds them as one value on PostgreSQL and SQL Server). Matched by identity-card number, each
  // reader has a file of its own, so the store itself meets the shared card number.
  options_.identifier = IdentifierColumn::IdentityCard;
  for (const char* second : {"A00007", "A00007  "}) {
    SCOPED_TRACE(std::string("[") + second + "]");
    db_->Exec("delete from lib_people");
    observer_ = RecordingObserver{};
    Add({.id = "A00007", .name = "甲", .idCard = "110101200001010011"});
    Add({.id = second, .name = "乙", .idCard = "110101200001010022"});
    for (const char* file : {"110101200001010011.jpg", "110101200001010022.jpg"})
      if (!std::filesystem::exists(folder_.PathOf(file))) Photo(file);

    const ImportResult result = Run();
    EXPECT_EQ(result.failed, 2);  // each of the two selected rows finds its file and is refused
    EXPECT_EQ(result.stored, 0);
    auto photos = db_->AdminSession().Open({"select count(*) as n from lib_people where pe_photo is not null"});
    EXPECT_EQ(photos->AsInteger("n"), 0);
    const std::string refused = " 未能保存：借书证号重复，有多名读者使用这个证号，均未修改";
    std::sort(observer_.log.begin(), observer_.log.end());
    EXPECT_EQ(observer_.log, (std::vector<std::string>{folder_.PathOf("110101200001010011.jpg") + refused,
                                                       folder_.PathOf("110101200001010022.jpg") + refused}));
  }
}

TEST_P(ImportRunTest, CardNumberWithTrailingBlanksIsStored) {
  Add({.id = "A00009   "});
  Photo("A00009.jpg");
  EXPECT_EQ(Run().stored, 1);
  EXPECT_EQ(Stored("A00009"), Normalized(folder_.PathOf("A00009.jpg")));
}

// A NULL or blank identifier is no identifier: such a reader has no file under any rule, even when the
// folder holds a file named only by its extension or one with an empty segment.
TEST_P(ImportRunTest, ReadersWithoutAnIdentifierTakeNoFile) {
  Add({.id = "A00001", .idCard = std::nullopt});
  Add({.id = "A00002", .idCard = ""});
  Add({.id = "A00003", .idCard = "   "});
  for (const char* name : {".jpg", ".png", "_.jpg", "A00004__.jpg", "A00004__x.jpg", "x_.jpg"}) Photo(name);
  options_.identifier = IdentifierColumn::IdentityCard;
  const struct {
    NamingRule rule;
    int index;
  } rules[] = {{NamingRule::Exact, 0}, {NamingRule::Segment, 0}, {NamingRule::Segment, 1},
               {NamingRule::Segment, 2}, {NamingRule::Prefix, 0}};
  for (const auto& r : rules) {
    SCOPED_TRACE(static_cast<int>(r.rule) * 10 + r.index);
    observer_ = RecordingObserver{};
    options_.rule = r.rule;
    options_.ruleIndex = r.index;
    const ImportResult result = Run();
    EXPECT_EQ(result.noFile, 3);
    EXPECT_EQ(result.stored + result.failed, 0);
    EXPECT_TRUE(observer_.paths.empty());
    ASSERT_EQ(observer_.finished.size(), 3u);
    for (const FinishedReader& reader : observer_.finished) {
      EXPECT_EQ(reader.outcome, ReaderOutcome::NoFile);
      EXPECT_EQ(reader.path, "");
      EXPECT_EQ(reader.reason, kNoIdentifierReason);
    }
  }
  auto photos = db_->AdminSession().Open({"select count(*) as n from lib_people where pe_photo is not null"});
  EXPECT_EQ(photos->AsInteger("n"), 0);
}

// Nothing tells which of two readers a file that both would take shows: it is stored on neither, each
// fails with a line that says why, and the other readers are stored as usual.
TEST_P(ImportRunTest, AFileThatSeveralReadersWouldTakeIsStoredOnNone) {
  Add({.id = "A00001", .name = "王伟"});
  Add({.id = "A00002", .name = "王伟"});  // the same name: both take 王伟.jpg
  Add({.id = "A00004", .name = "赵六"});
  Photo("王伟.jpg");
  Photo("赵六.jpg");
  options_.identifier = IdentifierColumn::Name;
  options_.categoryChoice = CategoryChoice::All;

  const ImportResult result = Run();
  EXPECT_EQ(result.failed, 2);
  EXPECT_EQ(result.stored, 1);
  EXPECT_EQ(Stored("A00004"), Normalized(folder_.PathOf("赵六.jpg")));
  for (const char* reader : {"A00001", "A00002"}) EXPECT_EQ(Stored(reader), data::Bytes()) << reader;
  std::vector<std::string> expectedLog(2, folder_.PathOf("王伟.jpg") + " 同时匹配多位读者，未导入");
  EXPECT_EQ(observer_.log, expectedLog);
  for (const FinishedReader& reader : observer_.finished) {
    if (reader.cardNumber == "A00001" || reader.cardNumber == "A00002") {
      EXPECT_EQ(reader.outcome, ReaderOutcome::Failed);
      EXPECT_EQ(reader.reason, kSharedFileReason);
    }
  }
  EXPECT_EQ(std::count(observer_.cardNumbers.begin(), observer_.cardNumbers.end(), "A00001"), 0)
      << "a reader whose file is shared is not announced as being imported";
}

// A folder copied from a Windows archive keeps GBK names, some of which are valid UTF-8 by chance.
TEST_P(ImportRunTest, AGbkNameThatIsAlsoValidUtf8FindsItsReader) {
  Add({.id = "A00001", .name = "叶伟"});
  Add({.id = "A00002", .name = "谢石"});
  const std::string yeWei = app::Utf8ToGbk("叶伟.jpg");
  const std::string xieShi = app::Utf8ToGbk("谢石_2020.png");
  ASSERT_TRUE(app::IsValidUtf8(yeWei));
  ASSERT_TRUE(app::IsValidUtf8(xieShi));
  Photo(yeWei);
  Photo(xieShi, kAlphaPng);
  options_.identifier = IdentifierColumn::Name;
  options_.categoryChoice = CategoryChoice::All;
  options_.rule = NamingRule::Prefix;
  options_.ruleIndex = 3;  // four GBK bytes: two Chinese characters

  const ImportResult result = Run();
  EXPECT_EQ(result.stored, 2);
  EXPECT_EQ(Stored("A00001"), Normalized(folder_.PathOf(yeWei)));
  EXPECT_EQ(Stored("A00002"), Normalized(folder_.PathOf(xieShi)));
  // Shown as the file manager shows them: in their UTF-8 reading, though the GBK one matched.
  std::vector<std::string> shown = observer_.paths;
  std::sort(shown.begin(), shown.end());
  std::vector<std::string> expected = {folder_.PathOf(yeWei), folder_.PathOf(xieShi)};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(shown, expected);
}

// Files that are no usable photo for a reason other than a damaged picture say which.
TEST_P(ImportRunTest, FilesRefusedBeforeDecodingAreLoggedWithTheirReason) {
  Add({.id = "A00001"});
  Add({.id = "A00002"});
  Add({.id = "A00003"});
  Photo("A00001.jpg");
  folder_.Write("A00002.png", "x");
  std::filesystem::resize_file(folder_.PathOf("A00002.png"), imaging::kMaxPhotoFileBytes + 1);  // sparse
  Photo("A00003.jpg");
  // A00003.jpg is written to while the run reads it.
  imaging::SetPhotoFileReadHookForTesting([&](const std::string& path) {
    if (path == folder_.PathOf("A00003.jpg")) std::filesystem::resize_file(path, 10);
  });
  const ImportResult result = Run();
  imaging::SetPhotoFileReadHookForTesting({});

  EXPECT_EQ(result.stored, 1);
  EXPECT_EQ(result.failed, 2);
  EXPECT_EQ(Stored("A00002"), data::Bytes());
  EXPECT_EQ(Stored("A00003"), data::Bytes());
  EXPECT_EQ(observer_.log, (std::vector<std::string>{
                               folder_.PathOf("A00002.png") + " 文件大于 257 MB，不像是相片，未能导入！",
                               folder_.PathOf("A00003.jpg") + " 文件在读取时被改动，未能导入，请稍后再试！",
                           }));
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
  // Each failure says why: the database's refusal (its own text), the picture, the format of the photo kept.
  const std::map<std::string, std::string> failures = {
      {"A00001", std::string(kStoreFailurePrefix) + "数据库错误：photo refused"},
      {"A00002", kFailureSuffix},
      {"A00005", std::string(kStoreFailurePrefix) + "现有相片不是位图，未覆盖"},
  };
  std::vector<std::string> expected = {"0"};  // the start
  for (std::size_t i = 0; i < observer_.cardNumbers.size(); ++i) {
    if (const auto failure = failures.find(observer_.cardNumbers[i]); failure != failures.end())
      expected.push_back(observer_.paths[i] + failure->second);
    expected.push_back(std::to_string(i + 1));
  }
  // The driver frames the trigger's message with words of its own.
  for (std::string& report : observer_.reports) {
    const auto refused = report.find("数据库错误：");
    if (refused != std::string::npos && report.find("photo refused") != std::string::npos)
      report = report.substr(0, refused) + "数据库错误：photo refused";
  }
  EXPECT_EQ(observer_.reports, expected);
}

// Another program writes a reader's photo after the run selected the reader and before its photo is
// stored: the guard in the store keeps what the other program wrote unless a bitmap may be replaced.
TEST_P(ImportRunTest, PhotoWrittenByAnotherProgramDuringTheRunIsKept) {
  const data::Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
  const data::Bytes bitmap = testsupport::MakeSamplePhoto();
  const struct {
    const char* title;
    bool skipReadersWithPhoto;
    data::Bytes written;
    std::string reason;  // empty: the run's photo is stored
  } cases[] = {
      {"JPEG, skipping readers with a photo", true, jpeg, "相片已被他人修改，未覆盖"},
      {"JPEG, replacing photos", false, jpeg, "现有相片不是位图，未覆盖"},
      {"bitmap, skipping readers with a photo", true, bitmap, "相片已被他人修改，未覆盖"},
      {"bitmap, replacing photos", false, bitmap, ""},
  };
  Photo("A00001.jpg");
  Photo("A00002.jpg", kGrayJpeg);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    db_->Exec("delete from lib_people");
    Add({.id = "A00001"});
    Add({.id = "A00002"});
    observer_ = RecordingObserver{};
    observer_.onReaderShown = [&](const std::string& card) {
      if (card == "A00002") db_->AdminSession().WritePhoto("A00002", c.written);
    };
    options_.skipReadersWithPhoto = c.skipReadersWithPhoto;

    const ImportResult result = Run();
    EXPECT_EQ(result.outcome, RunOutcome::Completed);
    EXPECT_EQ(Stored("A00001"), Normalized(folder_.PathOf("A00001.jpg")));
    if (c.reason.empty()) {
      EXPECT_EQ(Stored("A00002"), Normalized(folder_.PathOf("A00002.jpg")));
      EXPECT_TRUE(observer_.log.empty());
    } else {
      EXPECT_EQ(Stored("A00002"), c.written);
      EXPECT_EQ(observer_.log, std::vector<std::string>{folder_.PathOf("A00002.jpg") + kStoreFailurePrefix + c.reason});
      EXPECT_EQ(result.failed, 1);
    }
  }
}

// A store that waits for a row another program holds locked ends at the statement timeout; the run goes on.
TEST_P(ImportRunTest, StoreWaitingForALockedRowEndsAtTheStatementTimeout) {
  for (const char* id : {"A00001", "A00002"}) {
    Add({.id = id});
    Photo(std::string(id) + ".jpg");
  }
  session_.SetTimeouts({.loginSeconds = 15, .statementSeconds = 1});
  // The first reader, so that no store of a reader before it waits too (SQLite locks the whole file).
  std::optional<RowLock> lock;
  observer_.onReaderShown = [&](const std::string& card) {
    if (observer_.cardNumbers.size() == 1) lock.emplace(*db_, card);
  };
  observer_.onFinished = [&](const FinishedReader&) { lock.reset(); };

  const ImportResult result = Run();
  EXPECT_EQ(result.outcome, RunOutcome::Completed);
  EXPECT_EQ(result.failed, 1);
  EXPECT_EQ(result.stored, 1);
  const std::string locked = observer_.cardNumbers.at(0);
  EXPECT_EQ(observer_.reasons[locked], "等待数据库超时，读者记录可能正被其他程序占用");
  EXPECT_EQ(Stored(locked), data::Bytes());
}

// What the window's exit button and Ctrl-C in card-photo import do: cancel the store that waits, then stop.
TEST_P(ImportRunTest, StopCancelsAStoreWaitingForALockedRow) {
  if (GetParam() == Backend::Sqlite) GTEST_SKIP() << "the SQLite3 driver does not interrupt a wait for a lock";
  for (const char* id : {"A00001", "A00002", "A00003", "A00004"}) {
    Add({.id = id});
    Photo(std::string(id) + ".jpg");
  }
  session_.SetTimeouts({.loginSeconds = 15, .statementSeconds = 600});  // not what ends the wait
  options_.storeConnections = 1;  // the stop then comes one reader behind the store that waits
  std::optional<RowLock> lock;
  observer_.onReaderShown = [&](const std::string& card) {
    if (observer_.cardNumbers.size() == 2) lock.emplace(*db_, card);
  };
  // Asked while a store takes long. Once the first reader is done, the store in flight is the locked
  // reader's (a first reader's store that merely takes long under load is not cancelled).
  observer_.cancelStore = [&] { return lock && observer_.progress.back().first == 1; };
  observer_.onFinished = [&](const FinishedReader& reader) {
    if (lock && reader.cardNumber == observer_.cardNumbers.at(1)) observer_.stopNow = true;
  };

  const ImportResult result = Run();
  lock.reset();
  // The second reader's store is waited for once the third reader is shown (photos are stored while the
  // next one is normalized): the third is the current reader when the stop comes, the fourth never shown.
  EXPECT_EQ(result.outcome, RunOutcome::Stopped);
  EXPECT_EQ(result.stored, 2);
  EXPECT_EQ(result.failed, 1);
  ASSERT_EQ(observer_.cardNumbers.size(), 3u);
  EXPECT_EQ(observer_.reasons[observer_.cardNumbers[1]], "保存已取消");
  EXPECT_EQ(Stored(observer_.cardNumbers[1]), data::Bytes());
}

// Stores on two connections at once where the server can work on several: while the first reader's store
// waits for a row another session holds, the next reader's photo is stored on the other connection, also
// when a reader without a file comes between them (it waits for its turn to be reported instead of
// holding up the stores) and in a replacing run that backs up what it replaces (the backup is shared by
// the connections). Outcomes still come in reader order, and with one connection the others wait.
TEST_P(ImportRunTest, ASecondConnectionStoresWhileTheFirstWaits) {
  if (GetParam() == Backend::Sqlite) GTEST_SKIP() << "SQLite stores on one connection: its writers take turns";
  const struct {
    const char* what;
    int connections;
    bool readerWithoutFileBetween;
    bool replacing;
  } cases[] = {
      {"two connections", 2, false, false},
      {"a reader without a file between", 2, true, false},
      {"replacing with backups", 2, false, true},
      {"one connection", 1, false, false},
  };
  const data::Bytes old = testsupport::MakeSamplePhoto(4, 5, 0x07E0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    db_->Exec("delete from lib_people");
    std::filesystem::remove_all(app::PathFromUtf8(folder_.path()));
    std::filesystem::create_directories(app::PathFromUtf8(folder_.path()));
    for (const char* id : {"A00001", "A00002", "A00003"}) {
      Add({.id = id});
      if (c.replacing) db_->AdminSession().WritePhoto(id, old);
      if (!(c.readerWithoutFileBetween && std::string(id) == "A00002")) Photo(std::string(id) + ".jpg");
    }
    const std::string second = c.readerWithoutFileBetween ? "A00003" : "A00002";
    observer_ = RecordingObserver{};
    options_.storeConnections = c.connections;
    options_.skipReadersWithPhoto = !c.replacing;
    ScratchFolder backups;
    options_.backupRoot = backups.path();
    session_.SetTimeouts({.loginSeconds = 15, .statementSeconds = 3});
    std::optional<RowLock> lock;
    bool secondStoredWhileFirstWaited = false;
    observer_.onReaderShown = [&](const std::string& card) {
      if (observer_.cardNumbers.size() == 1) lock.emplace(*db_, card);
    };
    // Asked while the run waits for the oldest store: the first reader's, held by the lock, until it is
    // reported (with one connection the second store starts only then).
    observer_.cancelStore = [&] {
      if (lock && observer_.finished.empty() && Stored(second) == Normalized(folder_.PathOf(second + ".jpg"))) {
        secondStoredWhileFirstWaited = true;
        lock.reset();
      }
      return false;
    };
    const ImportResult result = Run();
    lock.reset();
    EXPECT_EQ(secondStoredWhileFirstWaited, c.connections == 2);
    ASSERT_EQ(observer_.finished.size(), 3u);
    EXPECT_EQ(observer_.finished[0].cardNumber, "A00001");
    EXPECT_EQ(observer_.finished[1].cardNumber, "A00002");
    EXPECT_EQ(observer_.finished[2].cardNumber, "A00003");
    const int withFiles = c.readerWithoutFileBetween ? 2 : 3;
    if (c.connections == 2) {
      EXPECT_EQ(result.stored, withFiles);
    } else {
      // One connection: the first store waits out the statement timeout, the others follow it.
      EXPECT_EQ(result.stored, withFiles - 1);
      EXPECT_EQ(observer_.reasons["A00001"], "等待数据库超时，读者记录可能正被其他程序占用");
    }
    if (c.replacing) EXPECT_EQ(result.backedUp, withFiles);
  }
}

// A run that replaces photos larger than 8,000 bytes (as the photos other programs store often are) keeps
// each one byte for byte in its backup and then replaces it. On PostgreSQL the second reader's photo is
// changed by another session after the run read it, judged it and backed it up, while the run's replace
// waits for the row that session holds: the change is kept and the reader fails.
TEST_P(ImportRunTest, AReplacingRunBacksUpLargePhotosAndReplacesOnlyWhatItRead) {
  const data::Bytes old = testsupport::MakeSamplePhoto(110, 120, 0x07E0);  // 26,466 bytes
  const data::Bytes meanwhile = testsupport::MakeSamplePhoto(100, 100, 0x001F);
  for (const char* id : {"A00001", "A00002"}) {
    Add({.id = id});
    db_->AdminSession().WritePhoto(id, old);
    Photo(std::string(id) + ".jpg");
  }
  options_.skipReadersWithPhoto = false;
  ScratchFolder backups;
  options_.backupRoot = backups.path();
  // SQLite locks the whole file, reads included: the run would read the changed photo.
  const bool changeSecond = GetParam() == Backend::Postgres;
  std::optional<RowLock> lock;
  if (changeSecond) {
    observer_.onReaderShown = [&](const std::string& card) {
      if (card == "A00002") lock.emplace(*db_, card);
    };
    // Asked while the run waits for a store: once the replace waits for the locked row, the row changes.
    observer_.cancelStore = [&] {
      if (lock && lock->SomeoneWaits()) {
        lock->ChangeAndRelease({"update lib_people set pe_photo=? where pe_id=?"}, {meanwhile, std::string("A00002")});
        lock.reset();
      }
      return false;
    };
  }

  const ImportResult result = Run();
  lock.reset();
  EXPECT_EQ(result.outcome, RunOutcome::Completed);
  const std::filesystem::path folder = app::PathFromUtf8(result.backupFolder);
  const auto backedUp = [&](const std::string& card) {
    std::ifstream in(folder / (card + ".bmp"), std::ios::binary);
    return data::Bytes(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(Stored("A00001"), Normalized(folder_.PathOf("A00001.jpg")));
  EXPECT_EQ(backedUp("A00001"), old);
  if (changeSecond) {
    EXPECT_EQ(result.stored, 1);
    EXPECT_EQ(Stored("A00002"), meanwhile);
    EXPECT_EQ(observer_.reasons["A00002"], "相片已被他人修改，未覆盖");
  } else {
    EXPECT_EQ(result.stored, 2);
    EXPECT_EQ(Stored("A00002"), Normalized(folder_.PathOf("A00002.jpg")));
    EXPECT_EQ(backedUp("A00002"), old);
  }
}

// The connection ends under the run (the server process of the session is ended): the store connects
// again and is repeated, and the run completes as if nothing had happened.
TEST_P(ImportRunTest, LostConnectionIsMadeAgainAndTheStoreRepeated) {
  if (GetParam() == Backend::Sqlite) GTEST_SKIP() << "an embedded database has no connection to lose";
  for (const char* id : {"A00001", "A00002", "A00003"}) {
    Add({.id = id});
    Photo(std::string(id) + ".jpg");
  }
  const long long backend = session_.Open({"select pg_backend_pid() as pid"})->AsInteger("pid");
  observer_.onReaderShown = [&](const std::string&) {
    if (observer_.cardNumbers.size() == 2)
      db_->AdminSession().Open({"select pg_terminate_backend(" + std::to_string(backend) + ", 10000) as ended"});
  };

  const ImportResult result = Run();
  EXPECT_EQ(result.outcome, RunOutcome::Completed);
  EXPECT_EQ(result.stored, 3);
  EXPECT_TRUE(observer_.log.empty());
  for (const char* id : {"A00001", "A00002", "A00003"})
    EXPECT_EQ(Stored(id), Normalized(folder_.PathOf(std::string(id) + ".jpg"))) << id;
}

// A picture large enough that its normalization takes many times as long as that of a small photo, so that
// with several workers the photos after it are done first.
void WriteLargeJpeg(const std::string& path) {
  imaging::WorkingImage picture(2400, 1800);
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x)
      picture.Row(y)[x] = static_cast<std::uint32_t>((x * 7 + y * 13) ^ (x * y)) & 0xFFFFFFu;
  const std::vector<std::uint8_t> file = imaging::testing::EncodeJpeg(picture);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                              static_cast<std::streamsize>(file.size()));
}

// Several workers normalize photos at once and finish them in any order: everything the observer hears
// (readers, previews, failures, outcomes, progress) and every stored value must be as with one worker.
TEST_P(ImportRunTest, SeveralWorkersReportEverythingInReaderOrder) {
  // Made anew for each run: the selection takes the rows in the order the database keeps them, which an
  // update may change.
  const auto addReaders = [&] {
    db_->Exec("delete from lib_people");
    for (int i = 1; i <= 10; ++i) Add({.id = (i < 10 ? "A0000" : "A000") + std::to_string(i)});
  };
  WriteLargeJpeg(folder_.PathOf("A00001.jpg"));  // slow, first
  Photo("A00002.jpg");
  folder_.Write("A00003.jpg", "not a picture");
  // A00004: no file
  Photo("A00005.png", kAlphaPng);
  WriteLargeJpeg(folder_.PathOf("A00006.jpg"));
  Photo("A00007.jpg", kGrayJpeg);
  Photo("A00008.jpg");
  Photo("A00009.jpg", kTestData + "/jpeg/testimgp-trunc.jpg");
  Photo("A00010.jpg");

  addReaders();
  options_.jobs = 1;
  const ImportResult one = Run();
  const std::vector<std::string> oneWorker = observer_.calls;
  EXPECT_EQ(one.selected, 10);
  EXPECT_EQ(one.noFile, 1);
  EXPECT_EQ(Stored("A00001"), Normalized(folder_.PathOf("A00001.jpg")));
  for (const int jobs : {2, 4}) {
    SCOPED_TRACE(jobs);
    addReaders();
    observer_ = RecordingObserver{};
    options_.jobs = jobs;
    const ImportResult several = Run();
    EXPECT_EQ(observer_.calls, oneWorker);
    EXPECT_EQ(SummaryLine(several), SummaryLine(one));
    for (const FinishedReader& reader : observer_.finished) {
      // The photo handed over with each reader is the one stored; a reader without a photo has none.
      if (reader.outcome == ReaderOutcome::Stored) {
        EXPECT_EQ(Stored(reader.cardNumber), Normalized(reader.path)) << reader.cardNumber;
        EXPECT_EQ(observer_.finishedPhotos[reader.cardNumber], Stored(reader.cardNumber)) << reader.cardNumber;
      } else {
        EXPECT_TRUE(observer_.finishedPhotos[reader.cardNumber].empty()) << reader.cardNumber;
      }
    }
  }
}

// A stop while workers have photos of later readers in hand: none of those is stored or reported, and
// what is stored is exactly what was reported stored.
TEST_P(ImportRunTest, AStopWithWorkersInFlightStoresNothingAfterIt) {
  constexpr int kReaders = 12;
  for (int i = 1; i <= kReaders; ++i) {
    const std::string id = "A000" + std::string(i < 10 ? "0" : "") + std::to_string(i);
    Add({.id = id});
    if (i % 4 == 1) WriteLargeJpeg(folder_.PathOf(id + ".jpg"));
    else Photo(id + ".jpg");
  }
  for (const int jobs : {2, 4}) {
    for (const int stopAfter : {1, 3, 6}) {
      SCOPED_TRACE(testing::Message() << jobs << " workers, stop after " << stopAfter);
      db_->Exec("update lib_people set pe_photo = NULL");
      observer_ = RecordingObserver{};
      observer_.stopAfter = stopAfter;
      options_.jobs = jobs;
      const ImportResult result = Run();
      EXPECT_EQ(result.outcome, RunOutcome::Stopped);
      EXPECT_EQ(static_cast<int>(observer_.cardNumbers.size()), stopAfter);
      std::vector<std::string> reportedStored, storedRows;
      for (const FinishedReader& reader : observer_.finished)
        if (reader.outcome == ReaderOutcome::Stored) reportedStored.push_back(reader.cardNumber);
      auto rows = db_->AdminSession().Open({"select pe_id from lib_people where pe_photo is not null order by pe_id"});
      for (; !rows->Eof(); rows->Next()) storedRows.push_back(app::Trim(rows->Text("pe_id")));
      std::sort(reportedStored.begin(), reportedStored.end());
      EXPECT_EQ(storedRows, reportedStored);
      EXPECT_EQ(result.stored, static_cast<int>(reportedStored.size()));
      EXPECT_EQ(result.stored, stopAfter);  // every reader shown before the stop is finished
      EXPECT_EQ(observer_.progress.back(), std::make_pair(stopAfter, kReaders));
    }
  }
}

// The files of the public image suites, each as a reader's photo: the values stored with one worker and
// with several are the same, byte for byte, and are what the normalization of the file gives.
TEST_P(ImportRunTest, StoredValuesDoNotDependOnTheWorkers) {
  std::vector<std::string> sources;
  for (const char* suite : {"jpeg", "pngsuite", "bmpsuite"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(kTestData + "/" + suite)) {
      const std::string extension = entry.path().extension().string();
      if (entry.is_regular_file() && (extension == ".jpg" || extension == ".png" || extension == ".bmp"))
        sources.push_back(entry.path().string());
    }
  }
  std::sort(sources.begin(), sources.end());
  ASSERT_GT(sources.size(), 100u);
  std::map<std::string, std::string> sourceOf;  // card number -> suite file
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const std::string card = "C" + std::to_string(100000 + i);
    Add({.id = card});
    Photo(card + std::filesystem::path(sources[i]).extension().string(), sources[i]);
    sourceOf[card] = sources[i];
  }
  const auto storedValues = [&] {
    std::map<std::string, std::optional<data::Bytes>> values;
    for (const auto& [card, source] : sourceOf) values[card] = Stored(card);
    return values;
  };
  options_.jobs = 1;
  const ImportResult one = Run();
  const auto oneWorker = storedValues();
  EXPECT_GT(one.stored, 50);
  for (const auto& [card, value] : oneWorker) {
    imaging::MemoryStream normalized;
    if (imaging::MakePhotoStream(sourceOf[card], normalized)) EXPECT_EQ(value, normalized.bytes) << sourceOf[card];
    else EXPECT_EQ(value, data::Bytes()) << sourceOf[card];
  }
  db_->Exec("update lib_people set pe_photo = NULL");
  options_.jobs = 4;
  const ImportResult four = Run();
  EXPECT_EQ(SummaryLine(four), SummaryLine(one));
  EXPECT_TRUE(storedValues() == oneWorker);
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
