// The run report, read back the way a spreadsheet reads it: an RFC 4180 reader of the test's own, the
// byte-order mark and the CR LF line ends checked on the bytes.
#include "records/RunReport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/FilePath.h"
#include "records/CsvFields.h"
#include "support/CsvReader.h"
#include "support/ScratchFolder.h"

namespace {

using photoimport::ReportOutcome;
using photoimport::ReportRow;
using photoimport::RunReport;
using importtest::ReadCsv;
using importtest::Record;

std::string ReadFile(const std::filesystem::path& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

const Record kHeader = {"借书证号", "姓名", "匹配标识", "相片文件", "结果", "原因"};

TEST(RunReportTest, FieldsSurviveQuotingAndTheFileStartsWithTheMarkAndHeader) {
  const std::vector<ReportRow> rows = {
      {"A00001", "张三", "A00001", "/photos/A00001.jpg", ReportOutcome::Stored, ""},
      {"A00002", "O'Brien, \"Pat\"", "A00002", "/photos/a,b.jpg", ReportOutcome::Failed, "图片有问题"},
      {"A00003", "两行\r\n名字", "A00003", "", ReportOutcome::NoFile, "line\nbreak"},
      {"-A4", "=1+1", " lead and trail ", "/p/x.png", ReportOutcome::Ready, ""},
      {"", "", "", "/photos/spare.bmp", ReportOutcome::Unused, ""},
  };
  const std::string text = photoimport::FormatRunReport(rows);
  ASSERT_EQ(text.compare(0, 3, "\xEF\xBB\xBF"), 0) << "UTF-8 byte-order mark";
  const std::vector<Record> records = ReadCsv(text.substr(3));
  ASSERT_EQ(records.size(), rows.size() + 1);
  EXPECT_EQ(records[0], kHeader);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ReportRow& row = rows[i];
    const Record expected = {photoimport::NeutralisedField(row.cardNumber), photoimport::NeutralisedField(row.name),
                             row.identifier, row.path, std::string(photoimport::OutcomeWord(row.outcome)), row.reason};
    EXPECT_EQ(records[i + 1], expected) << "row " << i;
  }
}

// A cell that begins like a formula is written as text: a spreadsheet would run "=HYPERLINK(...)" or
// "@SUM(...)" from a name or a file name. A leading apostrophe is doubled: a spreadsheet hides the first.
TEST(RunReportTest, FormulaLikeCellsAreWrittenAsText) {
  const std::pair<const char*, const char*> cases[] = {
      {"=1+1", "'=1+1"}, {"+86 123", "'+86 123"}, {"-A4", "'-A4"}, {"@SUM(A1)", "'@SUM(A1)"},
      {"\tx", "'\tx"},   {"\rx", "'\rx"},         {"A=1", "A=1"},   {"'quoted", "''quoted"}, {"", ""},
  };
  for (const auto& [field, written] : cases) {
    EXPECT_EQ(photoimport::NeutralisedField(field), written) << field;
    const ReportRow row{field, "", "", "", ReportOutcome::NoFile, ""};
    const std::vector<Record> records = ReadCsv(photoimport::FormatRunReport({row}).substr(3));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1][0], written) << field;
  }
}

TEST(RunReportTest, OutcomeWords) {
  const std::pair<ReportOutcome, const char*> cases[] = {{ReportOutcome::Stored, "stored"},
                                                         {ReportOutcome::Ready, "ready"},
                                                         {ReportOutcome::Failed, "failed"},
                                                         {ReportOutcome::NoFile, "nofile"},
                                                         {ReportOutcome::Unused, "unused"},
                                                         {ReportOutcome::Unknown, "outcome unknown"},
                                                         {ReportOutcome::NotReached, "not reached"},
                                                         {ReportOutcome::Skipped, "skipped"}};
  for (const auto& [outcome, word] : cases) EXPECT_EQ(photoimport::OutcomeWord(outcome), word);
}

TEST(RunReportTest, ReadersInOrderThenThePicturesNoReaderTook) {
  RunReport report;
  report.AddReader({"A1", "甲", "A1", "/p/A1.jpg", ReportOutcome::Stored, ""});
  report.AddReader({"A2", "乙", "A2", "", ReportOutcome::NoFile, ""});
  report.AddReader({"A3", "丙", "A3", "/p/A3.JPEG", ReportOutcome::Failed, "图片有问题"});
  // One file shown under two readings of its name: taken under one, it is not unused under the other.
  report.AddReader({"A4", "丁", "丁", "/p/丁.png", ReportOutcome::Ready, ""}, "raw-name-of-丁");
  for (const char* file : {"/p/A1.jpg", "/p/A3.JPEG", "/p/notes.txt", "/p/B9.Png", "/p/.jpg-not", "/p/C1.bmp",
                           "/p/C1.bmp", "/p/jpg"})
    report.AddFolderFile(file);
  report.AddFolderFile("/p/丁.png", "raw-name-of-丁");
  report.AddFolderFile("/p/涓.png", "raw-name-of-丁");

  const std::vector<ReportRow> rows = report.Rows();
  std::vector<std::pair<std::string, std::string>> seen;  // card number or path, outcome
  for (const ReportRow& row : rows) {
    seen.emplace_back(row.cardNumber.empty() ? row.path : row.cardNumber, photoimport::OutcomeWord(row.outcome));
    if (row.outcome == ReportOutcome::Unused) {
      EXPECT_TRUE(row.name.empty() && row.identifier.empty());
    }
  }
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"A1", "stored"}, {"A2", "nofile"}, {"A3", "failed"}, {"A4", "ready"},
      {"/p/B9.Png", "unused"}, {"/p/C1.bmp", "unused"}};
  EXPECT_EQ(seen, expected);
}

TEST(RunReportTest, WrittenWholeOverAnEarlierReport) {
  importtest::ScratchFolder scratch;
  const std::filesystem::path file = app::PathFromUtf8(scratch.PathOf("报告.csv"));
  scratch.Write("报告.csv", "an earlier report that is much longer than the new one will be, to show truncation");
  const std::vector<ReportRow> rows = {{"A1", "甲", "A1", "/p/A1.jpg", ReportOutcome::Stored, ""}};
  ASSERT_EQ(photoimport::WriteRunReport(file, rows), "");
  EXPECT_EQ(ReadFile(file), photoimport::FormatRunReport(rows));
  // Nothing but the report is left in the folder (no temporary file).
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(app::PathFromUtf8(scratch.path())))
    names.push_back(app::Utf8FromPath(entry.path().filename()));
  EXPECT_EQ(names, std::vector<std::string>{"报告.csv"});

  const std::string failure = photoimport::WriteRunReport(app::PathFromUtf8(scratch.PathOf("missing/report.csv")), rows);
  EXPECT_NE(failure.find("missing"), std::string::npos) << failure;
}

}  // namespace
