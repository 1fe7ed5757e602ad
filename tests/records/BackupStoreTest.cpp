// The store of a replacing run, on a real database: the photo replaced is always the one backed up.
#include "records/BackupStore.h"

#include <gtest/gtest.h>

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

class BackupStoreTest : public ::testing::TestWithParam<Backend> {
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
TEST_P(BackupStoreTest, ReplacesOnlyTheValueBackedUp) {
  session().WritePhoto("C1", old_);
  EXPECT_EQ(data::ReplacePhoto(session(), "C1", new_, meanwhile_).outcome, StoreOutcome::PhotoChanged);
  EXPECT_EQ(session().ReadPhoto("C1"), old_);
  EXPECT_EQ(data::ReplacePhoto(session(), "C1", new_, old_).outcome, StoreOutcome::Stored);
  EXPECT_EQ(session().ReadPhoto("C1"), new_);
  EXPECT_EQ(data::ReplacePhoto(session(), "NOBODY", new_, old_).outcome, StoreOutcome::NoSuchCard);
}

TEST_P(BackupStoreTest, BacksUpTheBitmapItReplacesAndKeepsOtherFormats) {
  photoimport::PhotoBackup backup(scratch_.PathOf("run"));
  photoimport::BackupStore store(backup);
  session().WritePhoto("C1", old_);
  EXPECT_EQ(store(session(), "C1", new_, data::PhotoGuard::EmptyOrBitmap).outcome, StoreOutcome::Stored);
  EXPECT_EQ(FileBytes(scratch_.PathOf("run/C1.bmp")), old_);
  // Stored again (a repeated attempt finds its own photo): no second backup, no failure.
  EXPECT_EQ(store(session(), "C1", new_, data::PhotoGuard::EmptyOrBitmap).outcome, StoreOutcome::Stored);

  const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0};
  session().WritePhoto("C1", jpeg);
  EXPECT_EQ(store(session(), "C1", old_, data::PhotoGuard::EmptyOrBitmap).outcome, StoreOutcome::NotBitmap);
  EXPECT_EQ(session().ReadPhoto("C1"), jpeg);
  EXPECT_EQ(backup.saved(), 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, BackupStoreTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

}  // namespace
