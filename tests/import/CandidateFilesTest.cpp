// One rule for several candidate files, in a folder as in a zip archive: a reader whose file could as well
// be another (names that differ only in letter case or in the extension) takes none, naming them; a
// picture that several readers claim, under either reading of its name, goes to none of them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "app/FilePath.h"
#include "app/Text.h"
#include "import/FailureReasons.h"
#include "import/ImportRun.h"
#include "support/ScratchFolder.h"
#include "support/TestDatabase.h"
#include "support/ZipFixture.h"

namespace {

using importtest::RawZipEntry;
using importtest::RawZipWriter;
using importtest::ScratchFolder;
using photoimport::FinishedReader;
using photoimport::ReaderOutcome;
using testsupport::Backend;
using testsupport::TestDatabase;

std::string PhotoBytes() {
  std::ostringstream bytes;
  bytes << std::ifstream(std::string(CARDPHOTO_TESTDATA_DIR) + "/jpeg/testorig.jpg", std::ios::binary).rdbuf();
  return bytes.str();
}

struct Recorder : photoimport::ImportObserver {
  std::map<std::string, FinishedReader> finished;  // by card number
  void Finished(const FinishedReader& reader, std::span<const std::uint8_t>) override { finished[reader.cardNumber] = reader; }
};

class CandidateFilesTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    importtest::UseScratchDataFolder();
    db_ = TestDatabase::Create(GetParam());
    if (!db_) GTEST_SKIP() << testsupport::UnavailableReason(GetParam());
    session_.ConnectString(db_->ConnectionString());
  }
  void AddReader(const std::string& card, const std::string& name) {
    db_->AdminSession().Execute({"insert into lib_people (pe_id, pe_name, pe_mark) values (?, ?, '正常')"}, {card, name});
  }
  // The run over `files` (raw names) as a folder, or as a zip archive of them.
  std::map<std::string, FinishedReader> Run(const std::vector<std::string>& files, bool zip,
                                            photoimport::IdentifierColumn by = photoimport::IdentifierColumn::CardNumber) {
    ScratchFolder folder;
    photoimport::ImportOptions options;
    options.identifier = by;
    options.categoryChoice = photoimport::CategoryChoice::All;
    if (zip) {
      std::vector<RawZipEntry> entries;
      for (const std::string& file : files) entries.emplace_back(file, photo_);
      folder.Write("photos.zip", RawZipWriter::Build(entries));
      options.folder = folder.PathOf("photos.zip");
    } else {
      for (const std::string& file : files) folder.Write(file, photo_);
      options.folder = folder.path();
    }
    Recorder recorder;
    const photoimport::ImportResult result = photoimport::RunImport(options, session_, recorder);
    EXPECT_EQ(result.outcome, photoimport::RunOutcome::Completed);
    return recorder.finished;
  }

  std::unique_ptr<TestDatabase> db_;
  data::Session session_;
  const std::string photo_ = PhotoBytes();
};

TEST_P(CandidateFilesTest, AReaderWithSeveralFilesTakesNoneAndNamesThem) {
  AddReader("A00001", "甲");
  AddReader("A00002", "乙");
  AddReader("A00003", "丙");
  for (const bool zip : {false, true}) {
    SCOPED_TRACE(zip ? "zip archive" : "folder");
    db_->Exec("update lib_people set pe_photo = null");
    // A Windows folder holds one of two names that differ only in letter case (the second write goes to
    // the first file); a zip archive holds both everywhere.
#ifdef _WIN32
    const bool caseTwins = zip;
#else
    const bool caseTwins = true;
#endif
    const auto finished = Run({"A00001.jpg", "a00001.JPG", "A00002.jpg", "A00002.png", "A00003.jpg"}, zip);
    ASSERT_EQ(finished.size(), 3u);
    struct Several {
      const char* card;
      std::vector<std::string> named;
    };
    std::vector<Several> several = {{"A00002", {"A00002.jpg", "A00002.png"}}};
    if (caseTwins) several.push_back({"A00001", {"A00001.jpg", "a00001.JPG"}});
    else EXPECT_EQ(finished.at("A00001").outcome, ReaderOutcome::Stored);
    for (const Several& c : several) {
      const FinishedReader& reader = finished.at(c.card);
      EXPECT_EQ(reader.outcome, ReaderOutcome::Failed) << c.card;
      EXPECT_NE(reader.reason.find("有多个相片文件"), std::string::npos) << reader.reason;
      for (const std::string& name : c.named) EXPECT_NE(reader.reason.find(name), std::string::npos) << reader.reason;
      EXPECT_EQ(db_->AdminSession().ReadPhoto(c.card), data::Bytes()) << c.card;
    }
    EXPECT_EQ(finished.at("A00003").outcome, ReaderOutcome::Stored);
  }
}

// 叶伟 in GBK (D2 B6 CE B0) is valid UTF-8 as well (Ҷΰ): a reader of either name could be meant.
TEST_P(CandidateFilesTest, APictureClaimedUnderEitherReadingOfItsNameGoesToNone) {
  const std::string gbk = app::Utf8ToGbk("叶伟");
  ASSERT_EQ(gbk, "\xD2\xB6\xCE\xB0");
  AddReader("B00001", "叶伟");
  AddReader("B00002", gbk);  // the UTF-8 reading of the same bytes
#ifdef _WIN32
  const std::vector<bool> sources = {true};  // Windows names are UTF-16: no GBK bytes on disk
#else
  const std::vector<bool> sources = {false, true};
#endif
  for (const bool zip : sources) {
    SCOPED_TRACE(zip ? "zip archive" : "folder");
    const auto finished = Run({gbk + ".jpg"}, zip, photoimport::IdentifierColumn::Name);
    ASSERT_EQ(finished.size(), 2u);
    for (const char* card : {"B00001", "B00002"}) {
      EXPECT_EQ(finished.at(card).outcome, ReaderOutcome::Failed) << card;
      EXPECT_EQ(finished.at(card).reason, photoimport::kSharedFileReason) << card;
      EXPECT_EQ(db_->AdminSession().ReadPhoto(card), data::Bytes()) << card;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, CandidateFilesTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

}  // namespace
