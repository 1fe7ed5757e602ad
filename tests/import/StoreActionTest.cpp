// How a run's store ends, on a real database, by what the reader's row holds: the new-photo store, the
// replacing store and a tool's store over anything, and the dry run's prediction of the same store, which
// must agree with it and change nothing.
#include "import/StoreAction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "data/PhotoStore.h"
#include "support/TestDatabase.h"

namespace photoimport {
namespace {

using data::StoreOutcome;
using testsupport::Backend;
using testsupport::TestDatabase;

// A stored value behind the 8-byte blob header of database front ends: 16-bit 1, 16-bit 0x0100, 32-bit
// length of the rest, little-endian (`length` when given, else the true one).
data::Bytes WithBlobHeader(const data::Bytes& value, std::optional<std::uint32_t> length = std::nullopt) {
  const auto size = length.value_or(static_cast<std::uint32_t>(value.size()));
  data::Bytes headered = {1, 0, 0, 1, static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
                          static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)};
  headered.insert(headered.end(), value.begin(), value.end());
  return headered;
}

const data::Bytes kJpegStart = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01};

enum class How { NewOnly, Replace, Any };

class StoreActionTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    db_ = TestDatabase::Create(GetParam());
    if (!db_) GTEST_SKIP() << testsupport::UnavailableReason(GetParam());
    session_.ConnectString(db_->ConnectionString());
  }

  data::StoreResult Store(How how, const std::string& card, const data::Bytes& photo) {
    switch (how) {
      case How::NewOnly: return StoreActionFor(StoreMode::NewOnly, nullptr)(session_, card, photo);
      case How::Replace: return StoreActionFor(StoreMode::Replace, nullptr)(session_, card, photo);
      case How::Any: break;
    }
    return data::StorePhoto(session_, card, photo, data::PhotoGuard::Any);
  }

  std::vector<std::optional<data::Bytes>> Photos() {
    std::vector<std::optional<data::Bytes>> stored;
    auto rows = session_.Open({"select pe_photo from lib_people"});
    for (; !rows->Eof(); rows->Next()) stored.push_back(rows->AsBytes("pe_photo"));
    std::ranges::sort(stored);
    return stored;
  }

  std::unique_ptr<TestDatabase> db_;
  data::Session session_;
};

TEST_P(StoreActionTest, EachStoreEndsAsTheCurrentPhotoAndTheCardNumberDecide) {
  const data::Bytes bitmap = testsupport::MakeSamplePhoto();
  const data::Bytes photo = testsupport::MakeSamplePhoto(3, 2, 0x001F);
  data::Bytes brokenBitmap = {'B', 'M', 0x20, 0, 0, 0};  // "BM", then no file header a reader can use
  struct Row {
    std::string id;
    std::optional<data::Bytes> photo;
  };
  const struct {
    const char* title;
    std::vector<Row> rows;
    std::string card;
    How how;
    StoreOutcome outcome;
  } cases[] = {
      {"no photo yet", {{"A1", std::nullopt}}, "A1", How::NewOnly, StoreOutcome::Stored},
      {"an empty value", {{"A1", data::Bytes()}}, "A1", How::NewOnly, StoreOutcome::Stored},
      {"a photo stored meanwhile", {{"A1", bitmap}}, "A1", How::NewOnly, StoreOutcome::PhotoChanged},
      {"a JPEG stored meanwhile", {{"A1", kJpegStart}}, "A1", How::NewOnly, StoreOutcome::PhotoChanged},
      {"already this photo (a repeated store)", {{"A1", photo}}, "A1", How::NewOnly, StoreOutcome::Stored},
      {"a bare bitmap", {{"A1", bitmap}}, "A1", How::Replace, StoreOutcome::Stored},
      {"a bitmap behind the blob header", {{"A1", WithBlobHeader(bitmap)}}, "A1", How::Replace, StoreOutcome::Stored},
      // A value is a bitmap only when its headers are sound: anything else is kept.
      {"a bitmap behind a blob header of the wrong length", {{"A1", WithBlobHeader(bitmap, 7)}}, "A1", How::Replace,
       StoreOutcome::NotBitmap},
      {"\"BM\" without a usable bitmap after it", {{"A1", brokenBitmap}}, "A1", How::Replace, StoreOutcome::NotBitmap},
      {"no photo, replacing", {{"A1", std::nullopt}}, "A1", How::Replace, StoreOutcome::Stored},
      {"already this photo, replacing", {{"A1", photo}}, "A1", How::Replace, StoreOutcome::Stored},
      {"a JPEG", {{"A1", kJpegStart}}, "A1", How::Replace, StoreOutcome::NotBitmap},
      {"a JPEG behind the blob header", {{"A1", WithBlobHeader(kJpegStart)}}, "A1", How::Replace,
       StoreOutcome::NotBitmap},
      {"no such card number, replacing", {{"A1", bitmap}}, "A2", How::Replace, StoreOutcome::NoSuchCard},
      {"a shared card number, replacing", {{"A1", bitmap}, {"A1 ", bitmap}}, "A1", How::Replace,
       StoreOutcome::CardShared},
      {"a JPEG, whatever is stored", {{"A1", kJpegStart}}, "A1", How::Any, StoreOutcome::Stored},
      {"no such card number", {{"A1", std::nullopt}}, "A2", How::Any, StoreOutcome::NoSuchCard},
      {"a leading blank belongs to the number", {{" A3", std::nullopt}}, "A3", How::Any, StoreOutcome::NoSuchCard},
      {"a card number two readers share", {{"A1", std::nullopt}, {"A1", std::nullopt}}, "A1", How::Any,
       StoreOutcome::CardShared},
      {"card numbers equal but for trailing blanks", {{"D002", std::nullopt}, {"D002  ", std::nullopt}}, "D002",
       How::Any, StoreOutcome::CardShared},
      {"stored with trailing blanks", {{"A00030   ", std::nullopt}, {"A0003", std::nullopt}}, "A00030",
       How::NewOnly, StoreOutcome::Stored},
      {"a quote in the card number", {{"O'1", std::nullopt}, {"A2", std::nullopt}}, "O'1", How::NewOnly,
       StoreOutcome::Stored},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    session_.Execute({"delete from lib_people"});
    std::vector<std::optional<data::Bytes>> before, expected;
    for (const Row& row : c.rows) {
      if (row.photo)
        session_.Execute({"insert into lib_people (pe_id, pe_name, pe_mark, pe_photo) values (?, 'x', '正常', ?)"},
                         {row.id, *row.photo});
      else
        session_.Execute({"insert into lib_people (pe_id, pe_name, pe_mark) values (?, 'x', '正常')"}, {row.id});
      // Only the first row is ever the reader a store may change.
      const bool changes = c.outcome == StoreOutcome::Stored && expected.empty();
      before.push_back(row.photo);
      expected.push_back(changes ? std::optional(photo) : row.photo);
    }
    std::ranges::sort(before);
    std::ranges::sort(expected);
    if (c.how != How::Any) {
      const StoreMode mode = c.how == How::NewOnly ? StoreMode::NewOnly : StoreMode::Replace;
      const data::StoreResult predicted = PredictActionFor(mode)(session_, c.card, photo);
      EXPECT_EQ(predicted.outcome, c.outcome) << "the dry run predicts otherwise: " << predicted.driverText;
      EXPECT_EQ(Photos(), before) << "the dry run changed a photo";
    }
    const data::StoreResult result = Store(c.how, c.card, photo);
    EXPECT_EQ(result.outcome, c.outcome) << result.driverText;
    EXPECT_EQ(Photos(), expected);
  }
}

// Library databases often carry triggers on lib_people (an audit, a synchronisation). A trigger that
// writes elsewhere must not change how a store counts: a store that changed the reader's row is stored,
// one that matched nothing is not, although the trigger wrote a row either way (a statement trigger fires
// on an update of no row too). A trigger that raises an error fails the reader with the trigger's words
// and leaves the old photo.
TEST_P(StoreActionTest, TriggersOnTheReaderTableNeitherCountNorHideAnError) {
  const bool postgres = GetParam() == Backend::Postgres;
  db_->Exec("create table photo_audit (what varchar(20))");
  const data::Bytes old = testsupport::MakeSamplePhoto(100, 100, 0x07E0);  // more than 8,000 bytes
  const data::Bytes photo = testsupport::MakeSamplePhoto(3, 2, 0x001F);
  const std::string refusal = "读者照片由管理员锁定";
  // One statement each (with semicolons inside: not through Exec, which splits at them).
  const auto createTrigger = [&](const std::string& name, const std::string& body) {
    if (postgres) {
      session_.Execute({"create function " + name + "() returns trigger language plpgsql as $$ begin " + body +
                        "; return null; end $$"});
      session_.Execute({"create trigger " + name + " after update on lib_people for each statement execute function " +
                        name + "()"});
    } else {
      session_.Execute({"create trigger " + name + " after update on lib_people begin " + body + "; end"});
    }
  };
  const std::string audit = "insert into photo_audit values ('changed')";
  const std::string refuse = postgres ? "raise exception '" + refusal + "'" : "select raise(abort, '" + refusal + "')";
  const struct {
    const char* title;
    const std::string* trigger;
    How how;
    std::string card;
    StoreOutcome outcome;
  } cases[] = {
      {"an audit trigger, a new photo", &audit, How::NewOnly, "A1", StoreOutcome::Stored},
      {"an audit trigger, replacing", &audit, How::Replace, "A2", StoreOutcome::Stored},
      {"an audit trigger, no such card number", &audit, How::Any, "A9", StoreOutcome::NoSuchCard},
      {"an audit trigger, a photo stored meanwhile", &audit, How::NewOnly, "A2", StoreOutcome::PhotoChanged},
      {"a refusing trigger, a new photo", &refuse, How::NewOnly, "A1", StoreOutcome::DatabaseError},
      {"a refusing trigger, replacing", &refuse, How::Replace, "A2", StoreOutcome::DatabaseError},
  };
  int triggers = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    const std::string name = "lib_people_trigger_" + std::to_string(++triggers);
    createTrigger(name, *c.trigger);
    session_.Execute({"delete from lib_people"});
    session_.Execute({"insert into lib_people (pe_id, pe_name, pe_mark) values ('A1', 'x', '正常')"});
    session_.Execute({"insert into lib_people (pe_id, pe_name, pe_mark, pe_photo) values ('A2', 'x', '正常', ?)"}, {old});
    const std::optional<data::Bytes> before = session_.ReadPhoto(c.card);

    const data::StoreResult result = Store(c.how, c.card, photo);
    EXPECT_EQ(result.outcome, c.outcome) << result.driverText;
    if (c.outcome == StoreOutcome::Stored) {
      EXPECT_EQ(session_.ReadPhoto(c.card), photo);
    } else {
      EXPECT_EQ(session_.ReadPhoto(c.card), before);
    }
    if (c.outcome == StoreOutcome::DatabaseError) {
      EXPECT_NE(result.driverText.find(refusal), std::string::npos) << result.driverText;
    }
    session_.Execute({postgres ? "drop trigger " + name + " on lib_people" : "drop trigger " + name});
  }
  EXPECT_GT(session_.Open({"select count(*) as n from photo_audit"})->AsInteger("n"), 0) << "no trigger wrote";
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreActionTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

}  // namespace
}  // namespace photoimport
