#include "data/ReaderStatements.h"

#include <algorithm>

#include "data/Session.h"

namespace data {
namespace {

// The length of a binary value: SQL Server's image columns know only datalength; anything else but SQLite
// gets standard SQL.
std::string ByteLength(SqlDialect dialect, const std::string& column) {
  switch (dialect) {
    case SqlDialect::Sqlite: return "length(" + column + ")";
    case SqlDialect::SqlServer: return "datalength(" + column + ")";
    case SqlDialect::Postgres:
    case SqlDialect::Other: break;
  }
  return "octet_length(" + column + ")";
}

std::string PhotoGuardCondition(SqlDialect dialect, PhotoGuard guard) {
  if (guard == PhotoGuard::Any) return "1=1";
  return "(pe_photo is null or " + ByteLength(dialect, "pe_photo") + "=0)";
}

// The line that keeps a store from changing a card number that several readers share.
std::string OnlyReaderLine(SqlDialect dialect) {
  return "  and (select count(*) from lib_people where " + CardNumberMatch(dialect) + ")=1";
}

// A change statement as sent. On SQL Server the count that decides a store must be the update's own:
// with NOCOUNT on, no trigger's row count reaches the driver before it, and the update's count comes as
// the result of the statement's last line, @@rowcount, which the update set.
Statement Change(SqlDialect dialect, std::vector<std::string> lines, std::vector<Param> params) {
  if (dialect == SqlDialect::SqlServer) {
    lines.insert(lines.begin(), "set nocount on");
    lines.push_back("select @@rowcount as changed");
  }
  return {std::move(lines), std::move(params)};
}

}  // namespace

std::vector<Statement> ConnectionSetupStatements(SqlDialect dialect, const Timeouts& timeouts) {
  switch (dialect) {
    // The SQLite3 driver does not time statements: a statement waits for a database that another
    // connection holds locked as long as the busy timeout (twice over: the driver adds its data source's
    // Timeout once). That wait becomes the statement timeout; with no limit the data source's stays.
    case SqlDialect::Sqlite:
      if (timeouts.statementSeconds <= 0) return {};
      return {{{"pragma busy_timeout=" + std::to_string(timeouts.statementSeconds * 1000)}, {}}};
    // The server sends at most TEXTSIZE bytes of an image value. Microsoft's drivers raise it when they
    // connect; FreeTDS sets its own "text size" (64512 bytes in the freetds.conf Debian ships): a larger
    // photo would be cut short. 2147483647 is the largest value every version takes.
    case SqlDialect::SqlServer: return {{{"set textsize 2147483647"}, {}}};
    case SqlDialect::Postgres:
    case SqlDialect::Other: break;
  }
  return {};
}

std::vector<std::string> ViewOrderCheckStatement() {
  return {"select name from syscolumns where name='dz_view_order' and id in (select id from sysobjects where "
          "name = 'lib_duzhe')"};
}

std::vector<std::string> CategoriesStatement(bool withViewOrder) {
  return {withViewOrder ? "select * from lib_duzhe order by dz_view_order,dz_dzlx"
                        : "select * from lib_duzhe order by dz_id,dz_dzlx"};
}

// The first line ends in two blanks, as the library system has always sent it.
std::vector<std::string> DepartmentsStatement(long long categoryNumber) {
  return {"select pe_deptment from lib_people  ", "where pe_dzlx=" + std::to_string(categoryNumber),
          "group by pe_deptment", "order by pe_deptment"};
}

bool HasViewOrderColumn(Session& session) {
  auto query = session.Open(ViewOrderCheckStatement());
  const bool exists = !query->Eof();
  query->Close();
  return exists;
}

std::string TextLiteral(SqlDialect dialect, std::string_view text) {
  std::string literal = dialect == SqlDialect::SqlServer ? "N'" : "'";
  for (const char c : text) literal += c == '\'' ? std::string("''") : std::string(1, c);
  return literal + "'";
}

Statement SelectionStatement(SqlDialect dialect, const std::string& identifierColumn, bool withoutPhotoOnly,
                             std::optional<long long> category, const std::optional<std::string>& department) {
  Statement statement;
  statement.lines = {
      "select pe_id,pe_name",
      "," + identifierColumn + " as sNo",
      "from lib_people where pe_id<>'' and pe_mark<>" + TextLiteral(dialect, "过期") + " and pe_mark<>" +
          TextLiteral(dialect, "注销") + " ",
  };
  if (withoutPhotoOnly) statement.lines.push_back("  and pe_photo is null");
  if (category) {
    statement.lines.push_back("  and pe_dzlx=" + std::to_string(*category));
    // A department listed from a fixed-width column carries trailing blanks, and servers differ in how a
    // char column meets a text value (PostgreSQL drops the column's blanks, not the value's): trimming
    // both sides gives the same answer everywhere.
    if (department) {
      statement.lines.push_back("  and rtrim(pe_deptment)=rtrim(?)");
      statement.params.emplace_back(*department);
    }
  }
  return statement;
}

Statement ReadersWithPhotoSelection(SqlDialect dialect, const std::string& identifierColumn,
                                    std::optional<long long> category, const std::optional<std::string>& department) {
  Statement statement = SelectionStatement(dialect, identifierColumn, false, category, department);
  statement.lines.insert(statement.lines.begin() + 3, "  and pe_photo is not null");
  return statement;
}

std::string CardNumberMatch(SqlDialect dialect) {
  switch (dialect) {
    case SqlDialect::Postgres: return "pe_id=?";
    // The card number arrives as an nvarchar parameter, and nvarchar ranks above char and varchar: the
    // server would convert every pe_id to compare it, and could not seek the index under a SQL collation
    // or on SQL Server 2000 (each store then scans the reader table, holding its locks). Cast to varchar,
    // the parameter is converted once and the column's own collation decides the comparison.
    case SqlDialect::SqlServer: return "pe_id=cast(? as varchar(8000))";
    case SqlDialect::Sqlite:
    case SqlDialect::Other: break;
  }
  return "rtrim(pe_id)=?";
}

Statement StorePhotoStatement(SqlDialect dialect, PhotoGuard guard, const std::string& cardNumber,
                              std::span<const std::uint8_t> photo) {
  return Change(dialect,
                {"update lib_people set pe_photo=?", "where " + CardNumberMatch(dialect),
                 "  and " + PhotoGuardCondition(dialect, guard), OnlyReaderLine(dialect)},
                {Bytes(photo.begin(), photo.end()), cardNumber, cardNumber});
}

Statement ReplacePhotoStatement(SqlDialect dialect, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                                std::span<const std::uint8_t> current) {
  std::vector<std::string> lines = {"update lib_people set pe_photo=?", "where " + CardNumberMatch(dialect)};
  std::vector<Param> params = {Bytes(photo.begin(), photo.end()), cardNumber};
  if (dialect == SqlDialect::SqlServer) {
    // An image value cannot be compared (and varbinary(max) does not exist on SQL Server 2000): its length
    // and its pieces can. substring gives a varbinary of an image; equal lengths make equal pieces exact.
    lines.push_back("  and datalength(pe_photo)=?");
    params.emplace_back(static_cast<long long>(current.size()));
    for (std::size_t offset = 0; offset < current.size(); offset += kLongestComparableBinary) {
      const std::size_t length = std::min(kLongestComparableBinary, current.size() - offset);
      lines.push_back("  and substring(pe_photo," + std::to_string(offset + 1) + "," +
                      std::to_string(kLongestComparableBinary) + ")=?");
      const auto piece = current.subspan(offset, length);
      params.emplace_back(ComparableBinary{Bytes(piece.begin(), piece.end())});
    }
  } else {
    lines.push_back("  and pe_photo=?");
    params.emplace_back(Bytes(current.begin(), current.end()));
  }
  lines.push_back(OnlyReaderLine(dialect));
  params.emplace_back(cardNumber);
  return Change(dialect, std::move(lines), std::move(params));
}

Statement ReadPhotoStatement(SqlDialect dialect, const std::string& cardNumber) {
  return {{"select pe_name,pe_photo from lib_people where " + CardNumberMatch(dialect)}, {cardNumber}};
}

std::vector<std::string> ReadersWithPhotoStatement() {
  return {"select pe_id,pe_name from lib_people where pe_photo is not null", "order by pe_id"};
}

std::vector<std::string> CardNumberIndexStatement() {
  return {"select name from sysindexes",
          "where id=object_id('lib_people') and indid between 1 and 254",
          "  and index_col('lib_people',indid,1)='pe_id'",
          "  and indexproperty(id,name,'IsStatistics')=0 and indexproperty(id,name,'IsHypothetical')=0"};
}

bool HasCardNumberIndex(Session& session) {
  auto query = session.Open(CardNumberIndexStatement());
  const bool found = !query->Eof();
  query->Close();
  return found;
}

}  // namespace data
