#include "data/ReaderStatements.h"

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

}  // namespace

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

std::string CardNumberMatch(SqlDialect dialect) {
  switch (dialect) {
    case SqlDialect::Postgres:
    case SqlDialect::SqlServer: return "pe_id=?";
    case SqlDialect::Sqlite:
    case SqlDialect::Other: break;
  }
  return "rtrim(pe_id)=?";
}

std::string PhotoGuardCondition(SqlDialect dialect, PhotoGuard guard) {
  if (guard == PhotoGuard::Any) return "1=1";
  return "(pe_photo is null or " + ByteLength(dialect, "pe_photo") + "=0)";
}

std::vector<std::string> StorePhotoStatement(SqlDialect dialect, PhotoGuard guard) {
  const std::string match = CardNumberMatch(dialect);
  return {"update lib_people set pe_photo=?", "where " + match, "  and " + PhotoGuardCondition(dialect, guard),
          "  and (select count(*) from lib_people where " + match + ")=1"};
}

std::vector<std::string> ReplacePhotoStatement(SqlDialect dialect) {
  const std::string match = CardNumberMatch(dialect);
  // An image column compares only once cast; varbinary(max) holds any image value.
  const std::string current = dialect == SqlDialect::SqlServer ? "cast(pe_photo as varbinary(max))=?" : "pe_photo=?";
  return {"update lib_people set pe_photo=?", "where " + match, "  and " + current,
          "  and (select count(*) from lib_people where " + match + ")=1"};
}

std::vector<std::string> ReadPhotoStatement(SqlDialect dialect) {
  return {"select pe_photo from lib_people where " + CardNumberMatch(dialect)};
}

}  // namespace data
