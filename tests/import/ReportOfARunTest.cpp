// The report of a real run names every reader and owns every file: a run stopped halfway names the readers
// it did not reach, with their files; a run that keeps photos names the readers it passed over for having
// one, with their files; only files no reader would take are unused.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "app/FilePath.h"
#include "import/ImportRun.h"
#include "records/RunReportRows.h"
#include "support/ScratchFolder.h"
#include "support/TestDatabase.h"

namespace {

using photoimport::ImportObserver;
using photoimport::ImportResult;
using photoimport::ReportOutcome;
using testsupport::Backend;
using testsupport::TestDatabase;

const std::string kPhoto = std::string(CARDPHOTO_TESTDATA_DIR) + "/jpeg/testorig.jpg";

// Stops the run once `stopAfter` readers have been shown.
struct StoppingObserver : ImportObserver {
  int shown = 0, stopAfter = -1;
  void CurrentReader(const std::string&, const std::string&, const std::string&) override { ++shown; }
  bool ShouldStop() override { return stopAfter >= 0 && shown >= stopAfter; }
};

class ReportOfARunTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    importtest::UseScratchDataFolder();
    db_ = TestDatabase::Create(GetParam());
    if (!db_) GTEST_SKIP() << testsupport::UnavailableReason(GetParam());
    session_.ConnectString(db_->ConnectionString());
    options_.folder = folder_.path();
    for (int i = 1; i <= 6; ++i) {
      const std::string card = "A0000" + std::to_string(i);
      db_->Exec("insert into lib_people (pe_id, pe_name, pe_mark) values ('" + card + "', '读者" + std::to_string(i) +
                "', '正常')");
      std::filesystem::copy_file(kPhoto, app::PathFromUtf8(folder_.PathOf(card + ".jpg")));
    }
    std::filesystem::copy_file(kPhoto, app::PathFromUtf8(folder_.PathOf("nobody.jpg")));
  }

  // Outcome word of each row, by card number (unused files by their path).
  std::map<std::string, std::string> Outcomes(const ImportResult& result) {
    std::map<std::string, std::string> outcomes;
    for (const photoimport::ReportRow& row : photoimport::RunReportRows(result, false)) {
      const std::string key = row.cardNumber.empty() ? row.path : row.cardNumber;
      EXPECT_FALSE(outcomes.contains(key)) << key << " named twice";
      outcomes[key] = std::string(photoimport::OutcomeWord(row.outcome));
    }
    return outcomes;
  }

  std::unique_ptr<TestDatabase> db_;
  data::Session session_;
  importtest::ScratchFolder folder_;
  photoimport::ImportOptions options_;
};

TEST_P(ReportOfARunTest, AStoppedRunNamesTheReadersItDidNotReachWithTheirFiles) {
  StoppingObserver observer;
  observer.stopAfter = 2;
  options_.storeConnections = 1;
  const ImportResult result = photoimport::RunImport(options_, session_, observer);
  ASSERT_EQ(result.outcome, photoimport::RunOutcome::Stopped);
  EXPECT_EQ(result.readers.size() + result.notReached.size(), 6u) << "every selected reader is named";
  const std::map<std::string, std::string> outcomes = Outcomes(result);
  EXPECT_EQ(outcomes.size(), 7u);
  int notReached = 0;
  for (int i = 1; i <= 6; ++i) notReached += outcomes.at("A0000" + std::to_string(i)) == "not reached";
  EXPECT_EQ(notReached, static_cast<int>(result.notReached.size()));
  EXPECT_GE(notReached, 3);
  EXPECT_EQ(outcomes.at("A00006"), "not reached");
  EXPECT_EQ(outcomes.at(folder_.PathOf("nobody.jpg")), "unused") << "the one file no reader takes";
  for (const photoimport::FinishedReader& reader : result.notReached)
    EXPECT_EQ(reader.path, folder_.PathOf(reader.cardNumber + ".jpg")) << "the file it would have taken";
}

TEST_P(ReportOfARunTest, ReadersSkippedForHavingAPhotoOwnTheirFiles) {
  db_->AdminSession().WritePhoto("A00002", testsupport::MakeSamplePhoto());
  db_->AdminSession().WritePhoto("A00005", testsupport::MakeSamplePhoto());
  StoppingObserver observer;
  const ImportResult result = photoimport::RunImport(options_, session_, observer);
  ASSERT_EQ(result.outcome, photoimport::RunOutcome::Completed);
  EXPECT_EQ(result.selected, 4);
  const std::map<std::string, std::string> outcomes = Outcomes(result);
  EXPECT_EQ(outcomes.at("A00001"), "stored");
  EXPECT_EQ(outcomes.at("A00002"), "skipped");
  EXPECT_EQ(outcomes.at("A00005"), "skipped");
  EXPECT_EQ(outcomes.at(folder_.PathOf("nobody.jpg")), "unused");
  EXPECT_EQ(outcomes.size(), 7u) << "no file of a skipped reader is unused";
}

INSTANTIATE_TEST_SUITE_P(Backends, ReportOfARunTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

}  // namespace
