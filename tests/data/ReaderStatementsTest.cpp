#include "data/ReaderStatements.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <variant>

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

using data::PhotoGuard;
using data::SqlDialect;

// Each statement in the three dialects, pinned as sent. SQL Server cannot run here, so its text is all
// that can be checked of it (its choices are explained where the statements are built); the SQLite and
// PostgreSQL forms also run in the store, run and session tests.
TEST(ReaderStatements, EachDialectSendsItsOwnForm) {
  const data::Bytes photo = {'B', 'M', 1}, current = {'B', 'M', 2, 3};
  const std::string card = "A1";
  const std::string storeEnd = "  and (select count(*) from lib_people where ";
  const struct {
    const char* what;
    std::function<std::vector<std::string>(SqlDialect)> build;
    std::vector<std::string> sqlite, postgres, sqlServer;
  } cases[] = {
      {"connection setup",
       [](SqlDialect d) {
         std::vector<std::string> lines;
         for (const data::Statement& s : data::ConnectionSetupStatements(d, {.loginSeconds = 15, .statementSeconds = 30}))
           lines.insert(lines.end(), s.lines.begin(), s.lines.end());
         return lines;
       },
       {"pragma busy_timeout=30000"},
       {},
       {"set textsize 2147483647"}},
      {"selection",
       [](SqlDialect d) { return data::SelectionStatement(d, "pe_name", true, 3, std::string("图书馆")).lines; },
       {"select pe_id,pe_name", ",pe_name as sNo", "from lib_people where pe_id<>'' and pe_mark<>'过期' and pe_mark<>'注销' ",
        "  and pe_photo is null", "  and pe_dzlx=3", "  and rtrim(pe_deptment)=rtrim(?)"},
       {"select pe_id,pe_name", ",pe_name as sNo", "from lib_people where pe_id<>'' and pe_mark<>'过期' and pe_mark<>'注销' ",
        "  and pe_photo is null", "  and pe_dzlx=3", "  and rtrim(pe_deptment)=rtrim(?)"},
       {"select pe_id,pe_name", ",pe_name as sNo",
        "from lib_people where pe_id<>'' and pe_mark<>N'过期' and pe_mark<>N'注销' ", "  and pe_photo is null",
        "  and pe_dzlx=3", "  and rtrim(pe_deptment)=rtrim(?)"}},
      {"read", [&](SqlDialect d) { return data::ReadPhotoStatement(d, card).lines; },
       {"select pe_name,pe_photo from lib_people where rtrim(pe_id)=?"},
       {"select pe_name,pe_photo from lib_people where pe_id=?"},
       {"select pe_name,pe_photo from lib_people where pe_id=cast(? as varchar(8000))"}},
      {"store", [&](SqlDialect d) { return data::StorePhotoStatement(d, PhotoGuard::Empty, card, photo).lines; },
       {"update lib_people set pe_photo=?", "where rtrim(pe_id)=?", "  and (pe_photo is null or length(pe_photo)=0)",
        storeEnd + "rtrim(pe_id)=?)=1"},
       {"update lib_people set pe_photo=?", "where pe_id=?", "  and (pe_photo is null or octet_length(pe_photo)=0)",
        storeEnd + "pe_id=?)=1"},
       {"set nocount on", "update lib_people set pe_photo=?", "where pe_id=cast(? as varchar(8000))",
        "  and (pe_photo is null or datalength(pe_photo)=0)", storeEnd + "pe_id=cast(? as varchar(8000)))=1",
        "select @@rowcount as changed"}},
      {"store over any", [&](SqlDialect d) { return data::StorePhotoStatement(d, PhotoGuard::Any, card, photo).lines; },
       {"update lib_people set pe_photo=?", "where rtrim(pe_id)=?", "  and 1=1", storeEnd + "rtrim(pe_id)=?)=1"},
       {"update lib_people set pe_photo=?", "where pe_id=?", "  and 1=1", storeEnd + "pe_id=?)=1"},
       {"set nocount on", "update lib_people set pe_photo=?", "where pe_id=cast(? as varchar(8000))", "  and 1=1",
        storeEnd + "pe_id=cast(? as varchar(8000)))=1", "select @@rowcount as changed"}},
      {"replace", [&](SqlDialect d) { return data::ReplacePhotoStatement(d, card, photo, current).lines; },
       {"update lib_people set pe_photo=?", "where rtrim(pe_id)=?", "  and pe_photo=?", storeEnd + "rtrim(pe_id)=?)=1"},
       {"update lib_people set pe_photo=?", "where pe_id=?", "  and pe_photo=?", storeEnd + "pe_id=?)=1"},
       {"set nocount on", "update lib_people set pe_photo=?", "where pe_id=cast(? as varchar(8000))",
        "  and datalength(pe_photo)=?", "  and substring(pe_photo,1,8000)=?",
        storeEnd + "pe_id=cast(? as varchar(8000)))=1", "select @@rowcount as changed"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.build(SqlDialect::Sqlite), c.sqlite) << c.what;
    EXPECT_EQ(c.build(SqlDialect::Postgres), c.postgres) << c.what;
    EXPECT_EQ(c.build(SqlDialect::SqlServer), c.sqlServer) << c.what;
  }
}

// Every '?' of a statement has its value, in order: the statements' markers and their parameter lists are
// built in one place, so a marker more or less is caught here for the form that cannot run.
TEST(ReaderStatements, EachMarkerHasItsValue) {
  const data::Bytes photo(20001, 7);
  for (const SqlDialect dialect : {SqlDialect::Sqlite, SqlDialect::Postgres, SqlDialect::SqlServer}) {
    for (const data::Statement& statement :
         {data::StorePhotoStatement(dialect, PhotoGuard::Empty, "A1", photo),
          data::ReplacePhotoStatement(dialect, "A1", photo, photo), data::ReadPhotoStatement(dialect, "A1"),
          data::SelectionStatement(dialect, "pe_name", true, 3, std::string("x"))}) {
      std::size_t markers = 0;
      for (const std::string& line : statement.lines) markers += std::ranges::count(line, '?');
      EXPECT_EQ(markers, statement.params.size()) << static_cast<int>(dialect) << ": " << statement.lines.front();
    }
  }
}

// SQL Server compares the current photo of a replacing store in pieces: its length, then one marker per
// 8,000 bytes, each bound as a comparable binary holding exactly that part of the value, in order.
TEST(ReaderStatements, SqlServerComparesTheCurrentPhotoPieceByPiece) {
  const struct {
    std::size_t size;
    std::vector<std::size_t> pieces;
  } cases[] = {
      {0, {}}, {1, {1}}, {8000, {8000}}, {8001, {8000, 1}}, {20001, {8000, 8000, 4001}}, {26466, {8000, 8000, 8000, 2466}},
  };
  const data::Bytes photo = {'B', 'M'};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    data::Bytes current(c.size);
    for (std::size_t i = 0; i < current.size(); ++i) current[i] = static_cast<std::uint8_t>(i * 31 + i / 8000);
    const data::Statement replace = data::ReplacePhotoStatement(SqlDialect::SqlServer, "A1", photo, current);

    std::vector<std::string> pieceLines;
    for (const std::string& line : replace.lines)
      if (line.starts_with("  and substring(")) pieceLines.push_back(line);
    std::vector<std::string> expectedLines;
    for (std::size_t i = 0; i < c.pieces.size(); ++i)
      expectedLines.push_back("  and substring(pe_photo," + std::to_string(i * 8000 + 1) + ",8000)=?");
    EXPECT_EQ(pieceLines, expectedLines);

    // The new photo, the card number, the length, the pieces, the card number again.
    ASSERT_EQ(replace.params.size(), 4 + c.pieces.size());
    EXPECT_EQ(replace.params.front(), data::Param(photo));
    EXPECT_EQ(replace.params[1], data::Param(std::string("A1")));
    EXPECT_EQ(replace.params[2], data::Param(static_cast<long long>(c.size)));
    EXPECT_EQ(replace.params.back(), data::Param(std::string("A1")));
    data::Bytes joined;
    for (std::size_t i = 0; i < c.pieces.size(); ++i) {
      const auto* piece = std::get_if<data::ComparableBinary>(&replace.params[3 + i]);
      ASSERT_NE(piece, nullptr) << "piece " << i << " is not bound as a comparable binary";
      EXPECT_EQ(piece->bytes.size(), c.pieces[i]);
      joined.insert(joined.end(), piece->bytes.begin(), piece->bytes.end());
    }
    EXPECT_EQ(joined, current);
  }
  // Elsewhere the whole value is compared in one marker, however long.
  const data::Bytes large(20001, 9);
  const data::Statement elsewhere = data::ReplacePhotoStatement(SqlDialect::Postgres, "A1", photo, large);
  EXPECT_EQ(elsewhere.params[2], data::Param(large));
}

// SQLite keeps the trailing blanks of a char column, so it finds a reader by rtrim(pe_id): every statement
// of a store must find the row through the index on that expression, not read the whole table (a run
// over tens of thousands of readers would read it twice per photo).
TEST(ReaderStatements, StoresOnSqliteFindTheReaderThroughAnIndex) {
  auto db = TestDatabase::Create(Backend::Sqlite);
  ASSERT_TRUE(db);
  const data::Bytes photo = {'B', 'M'};
  const std::string card = "A00001";
  const struct {
    const char* what;
    data::Statement statement;
  } cases[] = {
      {"store", data::StorePhotoStatement(SqlDialect::Sqlite, PhotoGuard::Empty, card, photo)},
      {"store over any", data::StorePhotoStatement(SqlDialect::Sqlite, PhotoGuard::Any, card, photo)},
      {"replace", data::ReplacePhotoStatement(SqlDialect::Sqlite, card, photo, photo)},
      {"read", data::ReadPhotoStatement(SqlDialect::Sqlite, card)},
  };
  for (const auto& c : cases) {
    data::Statement explained = c.statement;
    explained.lines.front() = "explain query plan " + explained.lines.front();
    std::string plan;
    for (auto query = db->AdminSession().Open(explained); !query->Eof(); query->Next())
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
