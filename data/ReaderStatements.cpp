#include "data/ReaderStatements.h"

#include "data/Session.h"

namespace data {
namespace {

// Where the servers spell binary values differently: SQLite has length/substr and X'..' literals,
// PostgreSQL octet_length/substr and decode(..,'hex'), SQL Server datalength/substring and 0x..
// (its image columns know no other functions); anything else gets standard SQL.
std::string ByteLength(SqlDialect dialect, const std::string& column) {
  switch (dialect) {
    case SqlDialect::Sqlite: return "length(" + column + ")";
    case SqlDialect::SqlServer: return "datalength(" + column + ")";
    case SqlDialect::Postgres:
    case SqlDialect::Other: break;
  }
  return "octet_length(" + column + ")";
}

std::string BytesAt(SqlDialect dialect, const std::string& column, int first, int count) {
  const std::string from = std::to_string(first), length = std::to_string(count);
  switch (dialect) {
    case SqlDialect::Sqlite:
    case SqlDialect::Postgres: return "substr(" + column + "," + from + "," + length + ")";
    case SqlDialect::SqlServer: return "substring(" + column + "," + from + "," + length + ")";
    case SqlDialect::Other: break;
  }
  return "substring(" + column + " from " + from + " for " + length + ")";
}

std::string BytesLiteral(SqlDialect dialect, const std::string& hex) {
  switch (dialect) {
    case SqlDialect::Postgres: return "decode('" + hex + "','hex')";
    case SqlDialect::SqlServer: return "0x" + hex;
    case SqlDialect::Sqlite:
    case SqlDialect::Other: break;
  }
  return "X'" + hex + "'";
}

std::string BytesAre(SqlDialect dialect, int first, int count, const std::string& hex) {
  return BytesAt(dialect, "pe_photo", first, count) + "=" + BytesLiteral(dialect, hex);
}

constexpr const char* kBmpSignature = "424D";      // "BM"
constexpr const char* kBlobHeaderStart = "01000001";  // 16-bit 1, 16-bit 0x0100, little-endian

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
  const std::string empty = "pe_photo is null or " + ByteLength(dialect, "pe_photo") + "=0";
  switch (guard) {
    case PhotoGuard::Any: return "1=1";
    case PhotoGuard::Empty: return "(" + empty + ")";
    case PhotoGuard::EmptyOrBitmap: break;
  }
  return "(" + empty + " or " + BytesAre(dialect, 1, 2, kBmpSignature) + " or (" +
         BytesAre(dialect, 1, 4, kBlobHeaderStart) + " and " + BytesAre(dialect, 9, 2, kBmpSignature) + "))";
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

std::vector<std::string> StoreCheckStatement(SqlDialect dialect, PhotoGuard guard) {
  return {"select pe_photo,", "  case when " + PhotoGuardCondition(dialect, guard) + " then 1 else 0 end as replaceable",
          "from lib_people where " + CardNumberMatch(dialect)};
}

std::vector<std::string> ReadPhotoStatement(SqlDialect dialect) {
  return {"select pe_photo from lib_people where " + CardNumberMatch(dialect)};
}

}  // namespace data
