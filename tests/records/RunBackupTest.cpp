// The store of a replacing run, on a real database: the photo replaced is always the one backed up.
#include "import/StoreAction.h"
#include "records/RunBackup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/ScratchFolder.h"
#include "support/TestDatabase.h"

namespace {

using data::Bytes;
using data::StoreOutcome;
using importtest::ScratchFolder;
using testsupport::Backend;
using testsupport::TestDatabase;

Bytes FileBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class RunBackupTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    db_ = TestDatabase::Create(GetParam());
    if (!db_) GTEST_SKIP() << "no database server";
    db_->Exec("insert into lib_people (pe_id, pe_name) values ('C1', 'x')");
  }
  data::Session& session() { return db_->AdminSession(); }

  std::unique_ptr<TestDatabase> db_;
  ScratchFolder scratch_;
  const Bytes old_ = testsupport::MakeSamplePhoto(4, 5, 0x001F), new_ = testsupport::MakeSamplePhoto(4, 5, 0xF800),
              meanwhile_ = testsupport::MakeSamplePhoto(4, 5, 0x07E0);
};

// A photo written after the backup was read is kept: the guard is the backed-up value itself.
TEST_P(RunBackupTest, ReplacesOnlyTheValueBackedUp) {
  session().WritePhoto("C1", old_);
  EXPECT_EQ(data::ReplacePhoto(session(), "C1", new_, meanwhile_).outcome, StoreOutcome::PhotoChanged);
  EXPECT_EQ(session().ReadPhoto("C1"), old_);
  EXPECT_EQ(data::ReplacePhoto(session(), "C1", new_, old_).outcome, StoreOutcome::Stored);
  EXPECT_EQ(session().ReadPhoto("C1"), new_);
  EXPECT_EQ(data::ReplacePhoto(session(), "NOBODY", new_, old_).outcome, StoreOutcome::NoSuchCard);
}

// The same for a photo larger than 8,000 bytes (SQL Server compares such a value in pieces): whatever
// part of it changed since it was read and backed up, the photo is kept.
TEST_P(RunBackupTest, ReplacesOnlyTheValueBackedUpAlsoWhenItIsLarge) {
  const Bytes large = testsupport::MakeSamplePhoto(100, 100, 0x001F);  // 20,066 bytes
  ASSERT_GT(large.size(), 2 * data::kLongestComparableBinary);
  const auto changed = [&](std::size_t at) {
    Bytes value = large;
    value[at] ^= 0x01;
    return value;
  };
  const struct {
    const char* what;
    Bytes backedUp;  // the value the store believes is there
    StoreOutcome outcome;
  } cases[] = {
      {"its first byte", changed(0), StoreOutcome::PhotoChanged},
      {"a byte in its second piece", changed(data::kLongestComparableBinary + 1), StoreOutcome::PhotoChanged},
      {"its last byte", changed(large.size() - 1), StoreOutcome::PhotoChanged},
      {"its length", Bytes(large.begin(), large.end() - 1), StoreOutcome::PhotoChanged},
      {"nothing", large, StoreOutcome::Stored},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    session().WritePhoto("C1", large);
    EXPECT_EQ(data::ReplacePhoto(session(), "C1", new_, c.backedUp).outcome, c.outcome);
    EXPECT_EQ(session().ReadPhoto("C1"), c.outcome == StoreOutcome::Stored ? new_ : large);
  }
}

TEST_P(RunBackupTest, BacksUpTheBitmapItReplacesAndKeepsOtherFormats) {
  photoimport::RunBackup backup(scratch_.PathOf("runs"), std::chrono::system_clock::now());
  const photoimport::StoreAction store = photoimport::StoreActionFor(photoimport::StoreMode::Replace, &backup);
  session().WritePhoto("C1", old_);
  EXPECT_EQ(store(session(), "C1", new_).outcome, StoreOutcome::Stored);
  EXPECT_EQ(FileBytes(backup.folder() / "C1.bmp"), old_);
  // Stored again (a repeated attempt finds its own photo): no second backup, no failure.
  EXPECT_EQ(store(session(), "C1", new_).outcome, StoreOutcome::Stored);

  const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0};
  session().WritePhoto("C1", jpeg);
  EXPECT_EQ(store(session(), "C1", old_).outcome, StoreOutcome::NotBitmap);
  EXPECT_EQ(session().ReadPhoto("C1"), jpeg);
  EXPECT_EQ(backup.saved(), 1);
}

// A store repeated after a lost connection keeps the same old photo again: no failure; a different value
// for a reader already kept is refused, so that the backup always holds the photo the run replaced.
TEST_P(RunBackupTest, AReaderIsKeptOnceWithTheValueOnDisk) {
  photoimport::RunBackup backup(scratch_.PathOf("runs"), std::chrono::system_clock::now());
  EXPECT_EQ(backup.Keep({"C1", ""}, old_, {}), "");
  EXPECT_EQ(backup.Keep({"C1", ""}, old_, {}), "");
  EXPECT_NE(backup.Keep({"C1", ""}, meanwhile_, {}), "");
  EXPECT_EQ(backup.saved(), 1);
  EXPECT_EQ(FileBytes(backup.folder() / "C1.bmp"), old_);
}

INSTANTIATE_TEST_SUITE_P(Backends, RunBackupTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

}  // namespace
