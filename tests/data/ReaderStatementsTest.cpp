#include "data/ReaderStatements.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "data/Session.h"
#include "support/TestDatabase.h"

namespace {

using testsupport::Backend;
using testsupport::DatabaseOptions;
using testsupport::TestDatabase;

TEST(ReaderStatements, AreSentAsTheLibrarySystemSendsThem) {
  EXPECT_EQ(data::ViewOrderCheckStatement(),
            std::vector<std::string>{"select name from syscolumns where name='dz_view_order' and id in (select id "
                                     "from sysobjects where name = 'lib_duzhe')"});
  EXPECT_EQ(data::CategoriesStatement(true),
            std::vector<std::string>{"select * from lib_duzhe order by dz_view_order,dz_dzlx"});
  EXPECT_EQ(data::CategoriesStatement(false),
            std::vector<std::string>{"select * from lib_duzhe order by dz_id,dz_dzlx"});
  EXPECT_EQ(data::DepartmentsStatement(12),
            (std::vector<std::string>{"select pe_deptment from lib_people  ", "where pe_dzlx=12",
                                      "group by pe_deptment", "order by pe_deptment"}));
}

// SQL Server cannot run here: its store statement is pinned as sent. (Its image columns know only
// datalength; a fixed-width pe_id compares without trailing blanks.) The SQLite and PostgreSQL forms run
// in the store tests.
TEST(ReaderStatements, StoreOnSqlServerSpeaksItsDialect) {
  EXPECT_EQ(data::StorePhotoStatement(data::SqlDialect::SqlServer, data::PhotoGuard::Empty),
            (std::vector<std::string>{"update lib_people set pe_photo=?", "where pe_id=?",
                                      "  and (pe_photo is null or datalength(pe_photo)=0)",
                                      "  and (select count(*) from lib_people where pe_id=?)=1"}));
}

// SQLite keeps the trailing blanks of a char column, so it finds a reader by rtrim(pe_id): every statement
// of a store must find the row through the index on that expression, not read the whole table (a run
// over tens of thousands of readers would read it twice per photo).
TEST(ReaderStatements, StoresOnSqliteFindTheReaderThroughAnIndex) {
  auto db = TestDatabase::Create(Backend::Sqlite);
  ASSERT_TRUE(db);
  using data::PhotoGuard, data::SqlDialect;
  const data::Bytes photo = {'B', 'M'};
  const std::string card = "A00001";
  const struct {
    const char* what;
    std::vector<std::string> statement;
    std::vector<data::Param> params;
  } cases[] = {
      {"store", data::StorePhotoStatement(SqlDialect::Sqlite, PhotoGuard::Empty), {photo, card, card}},
      {"store over any", data::StorePhotoStatement(SqlDialect::Sqlite, PhotoGuard::Any), {photo, card, card}},
      {"replace", data::ReplacePhotoStatement(SqlDialect::Sqlite), {photo, card, photo, card}},
      {"read", data::ReadPhotoStatement(SqlDialect::Sqlite), {card}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> explained = c.statement;
    explained.front() = "explain query plan " + explained.front();
    std::string plan;
    for (auto query = db->AdminSession().Open(explained, c.params); !query->Eof(); query->Next())
      plan += query->Text("detail") + "\n";
    EXPECT_EQ(plan.find("SCAN"), std::string::npos) << c.what << ":\n" << plan;
    EXPECT_NE(plan.find("lib_people_pe_id_trimmed"), std::string::npos) << c.what << ":\n" << plan;
  }
}

struct SchemaCase {
  Backend backend;
  bool withViewOrder;
};

std::string CaseName(const ::testing::TestParamInfo<SchemaCase>& info) {
  return testsupport::BackendName(info.param.backend) + (info.param.withViewOrder ? "ViewOrder" : "NoViewOrder");
}

class ReaderTablesTest : public ::testing::TestWithParam<SchemaCase> {
 protected:
  void SetUp() override {
    DatabaseOptions options;
    options.withViewOrder = GetParam().withViewOrder;
    options.withDemoData = true;
    db_ = TestDatabase::Create(GetParam().backend, options);
    if (!db_) GTEST_SKIP() << testsupport::UnavailableReason(GetParam().backend);
  }

  std::vector<std::string> Column(const std::vector<std::string>& statement, const std::string& column) {
    std::vector<std::string> values;
    for (auto query = db_->AdminSession().Open(statement); !query->Eof(); query->Next()) {
      values.push_back(query->Text(column));
    }
    return values;
  }

  std::unique_ptr<TestDatabase> db_;
};

TEST_P(ReaderTablesTest, CatalogCheckSeesTheDisplayOrderColumn) {
  EXPECT_EQ(data::HasViewOrderColumn(db_->AdminSession()), GetParam().withViewOrder);
}

TEST_P(ReaderTablesTest, CategoriesComeInDisplayOrderOrByNumber) {
  const auto names = Column(data::CategoriesStatement(data::HasViewOrderColumn(db_->AdminSession())), "dz_dzlx");
  if (GetParam().withViewOrder) {
    EXPECT_EQ(names, (std::vector<std::string>{"教师", "研究生", "学生", "职工", "校外读者"}));
  } else {
    EXPECT_EQ(names, (std::vector<std::string>{"学生", "教师", "职工", "研究生", "校外读者"}));
  }
}

TEST_P(ReaderTablesTest, DepartmentsOfOneCategory) {
  // Ordered by code point on both servers (SQLite compares UTF-8 bytes, the test server uses C.UTF-8).
  EXPECT_EQ(Column(data::DepartmentsStatement(1), "pe_deptment"),
            (std::vector<std::string>{"King's 学院", "外语学院", "数学系", "计算机学院"}));
  // A NULL department reads as empty text; where it sorts is the server's business.
  auto withNull = Column(data::DepartmentsStatement(3), "PE_DEPTMENT");
  std::sort(withNull.begin(), withNull.end());
  EXPECT_EQ(withNull, (std::vector<std::string>{"", "", "图书馆"}));
  EXPECT_TRUE(Column(data::DepartmentsStatement(5), "pe_deptment").empty());
}

INSTANTIATE_TEST_SUITE_P(Schemas, ReaderTablesTest,
                         ::testing::Values(SchemaCase{Backend::Sqlite, true}, SchemaCase{Backend::Sqlite, false},
                                           SchemaCase{Backend::Postgres, true},
                                           SchemaCase{Backend::Postgres, false}),
                         CaseName);

}  // namespace
