// The run's selection, as the run builds it, on the demo readers of both servers.
#include "import/SelectionStatement.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/Text.h"
#include "support/TestDatabase.h"

namespace photoimport {
namespace {

using testsupport::Backend;
using testsupport::TestDatabase;

TEST(SelectionStatementTest, IsSentAsTheLibrarySystemSendsIt) {
  SelectionOptions options;
  options.identifier = IdentifierColumn::Name;
  options.category = 3;
  options.department = "图书馆";
  const Statement selection = BuildSelection(options, data::SqlDialect::Sqlite);
  EXPECT_EQ(selection.lines, (std::vector<std::string>{"select pe_id,pe_name", ",pe_name as sNo",
                                                       "from lib_people where pe_id<>'' and pe_mark<>'过期' and "
                                                       "pe_mark<>'注销' ",
                                                       "  and pe_photo is null", "  and pe_dzlx=3",
                                                       "  and rtrim(pe_deptment)=rtrim(?)"}));
  EXPECT_EQ(selection.params, (std::vector<data::Param>{std::string("图书馆")}));
}

class SelectionOnDatabaseTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    db_ = TestDatabase::Create(GetParam(), {.withDemoData = true});
    if (!db_) GTEST_SKIP() << testsupport::UnavailableReason(GetParam());
  }

  // The trimmed sNo values the selection gives, sorted.
  std::vector<std::string> Selected(const SelectionOptions& options) {
    data::Session& session = db_->AdminSession();
    std::vector<std::string> ids;
    for (auto query = session.Open(BuildSelection(options, session.dialect())); !query->Eof(); query->Next())
      ids.push_back(app::Trim(query->Text("sNo")));
    std::ranges::sort(ids);
    return ids;
  }

  std::unique_ptr<TestDatabase> db_;
};

TEST_P(SelectionOnDatabaseTest, LeavesOutExpiredCancelledAndUnnumberedReaders) {
  const std::vector<std::string> withoutPhoto = Selected({});
  for (const char* never : {"A00008", "A00009", "A00016", "A00021", "A00022", "A00027", ""})
    EXPECT_EQ(std::ranges::count(withoutPhoto, never), 0) << never;
  for (const char* stored : {"A00002", "A00005"}) EXPECT_EQ(std::ranges::count(withoutPhoto, stored), 0) << stored;
  EXPECT_EQ(withoutPhoto.size(), 34u - 7u - 2u);  // 34 readers, 7 never imported, 2 with photos
  SelectionOptions replacing;
  replacing.skipReadersWithPhoto = false;
  EXPECT_EQ(Selected(replacing).size(), 34u - 7u);
}

TEST_P(SelectionOnDatabaseTest, ADepartmentMatchesWhateverItsTrailingBlanks) {
  SelectionOptions options;
  options.identifier = IdentifierColumn::Name;
  options.category = 1;
  const std::size_t wholeCategory = Selected(options).size();
  options.department = "计算机学院   ";
  const std::vector<std::string> department = Selected(options);
  EXPECT_FALSE(department.empty());
  EXPECT_LT(department.size(), wholeCategory);
  options.department = "King's 学院";  // a quote is just part of the value
  EXPECT_FALSE(Selected(options).empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, SelectionOnDatabaseTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

}  // namespace
}  // namespace photoimport
