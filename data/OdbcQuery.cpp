#include "data/OdbcQuery.h"

#include <algorithm>
#include <charconv>

#include "app/Text.h"

namespace data::odbc {
namespace {

constexpr size_t kChunkBytes = 64 * 1024;

bool IsBinaryType(SQLSMALLINT type) {
  return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
}

[[noreturn]] void ThrowNull(const char* type) {
  throw ConversionError(std::string("Could not convert variant of type (Null) into type (") + type + ")");
}

}  // namespace

OdbcQuery::OdbcQuery(std::shared_ptr<Connection> connection, Handle statement)
    : connection_(std::move(connection)), statement_(std::move(statement)) {
  connection_->openQueries.push_back(this);
  try {
    DescribeColumns();
    if (!columns_.empty()) FetchRow();
  } catch (...) {
    Close();
    throw;
  }
}

OdbcQuery::~OdbcQuery() { Close(); }

void OdbcQuery::DescribeColumns() {
  SQLSMALLINT count = 0;
  Check(SQLNumResultCols(statement_.get(), &count), SQL_HANDLE_STMT, statement_.get(), "SQLNumResultCols", Mode());
  for (SQLSMALLINT number = 1; number <= count; ++number) columns_.push_back(DescribeColumn(number));
}

OdbcQuery::Column OdbcQuery::DescribeColumn(SQLSMALLINT number) {
  SQLSMALLINT nameLength = 0;
  SQLSMALLINT type = 0;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
  SQLSMALLINT nullable = 0;
  if (Mode() == TextMode::Narrow) {
    SQLCHAR name[1024] = {};
    Check(SQLDescribeCol(statement_.get(), number, name, static_cast<SQLSMALLINT>(std::size(name)), &nameLength,
                         &type, &size, &digits, &nullable),
          SQL_HANDLE_STMT, statement_.get(), "SQLDescribeCol", Mode());
    return Column{FromNarrow(name, std::min<size_t>(nameLength, std::size(name) - 1)), IsBinaryType(type)};
  }
  SQLWCHAR name[512] = {};
  Check(SQLDescribeColW(statement_.get(), number, name, static_cast<SQLSMALLINT>(std::size(name)), &nameLength,
                        &type, &size, &digits, &nullable),
        SQL_HANDLE_STMT, statement_.get(), "SQLDescribeColW", Mode());
  return Column{FromWide(name, std::min<size_t>(nameLength, std::size(name) - 1)), IsBinaryType(type)};
}

void OdbcQuery::Next() {
  if (hasRow_) FetchRow();
}

void OdbcQuery::FetchRow() {
  const SQLRETURN result = SQLFetch(statement_.get());
  if (result == SQL_NO_DATA) {
    hasRow_ = false;
    row_.clear();
    ReadRemainingResults(*connection_, statement_.get());
    return;
  }
  Check(result, SQL_HANDLE_STMT, statement_.get(), "SQLFetch", Mode());
  row_.clear();
  // Drivers hand out long values only column by column, in increasing order.
  for (size_t i = 0; i < columns_.size(); ++i) {
    row_.push_back(ReadCell(static_cast<SQLUSMALLINT>(i + 1), columns_[i].binary));
  }
  hasRow_ = true;
}

// Reads one column in chunks: a chunk that did not hold the rest of the value comes back truncated
// (with its length unknown or larger than the chunk) and the next call continues where it stopped.
OdbcQuery::Cell OdbcQuery::ReadCell(SQLUSMALLINT number, bool binary) {
  const SQLSMALLINT cType = binary ? SQL_C_BINARY : SQL_C_WCHAR;
  const size_t usable = binary ? kChunkBytes : kChunkBytes - sizeof(SQLWCHAR);  // text ends in a NUL
  std::vector<char>& chunk = chunk_;
  chunk.resize(kChunkBytes);
  std::string bytes;
  Cell cell;
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN result =
        SQLGetData(statement_.get(), number, cType, chunk.data(), static_cast<SQLLEN>(chunk.size()), &indicator);
    if (result == SQL_NO_DATA) break;
    Check(result, SQL_HANDLE_STMT, statement_.get(), "SQLGetData", Mode());
    if (indicator == SQL_NULL_DATA) return cell;
    const bool truncated =
        result == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) > usable);
    const size_t got = truncated ? usable : std::min(static_cast<size_t>(indicator), usable);
    bytes.append(chunk.data(), got);
    if (!truncated) break;
  }
  cell.null = false;
  if (binary) {
    cell.value = std::move(bytes);
  } else {
    cell.value = FromWide(reinterpret_cast<const SQLWCHAR*>(bytes.data()), bytes.size() / sizeof(SQLWCHAR));
  }
  return cell;
}

// At the end of the result the columns still exist and read as NULL.
const OdbcQuery::Cell& OdbcQuery::Find(const std::string& column) const {
  static const Cell kNull;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (app::EqualIgnoringAsciiCase(columns_[i].name, column)) return hasRow_ ? row_[i] : kNull;
  }
  throw DbError("Field '" + column + "' not found");
}

bool OdbcQuery::IsNull(const std::string& column) const { return Find(column).null; }

std::string OdbcQuery::AsString(const std::string& column) const {
  const Cell& cell = Find(column);
  if (cell.null) ThrowNull("String");
  return cell.value;
}

long long OdbcQuery::AsInteger(const std::string& column) const {
  const Cell& cell = Find(column);
  if (cell.null) ThrowNull("Integer");
  std::string text = app::Trim(cell.value);
  const char* begin = text.data() + (text.starts_with('+') ? 1 : 0);
  long long value = 0;
  const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    throw DbError("'" + cell.value + "' is not a valid integer value");
  }
  return value;
}

std::string OdbcQuery::Text(const std::string& column) const {
  const Cell& cell = Find(column);
  return cell.null ? std::string() : cell.value;
}

std::optional<Bytes> OdbcQuery::AsBytes(const std::string& column) const {
  const Cell& cell = Find(column);
  if (cell.null) return std::nullopt;
  return Bytes(cell.value.begin(), cell.value.end());
}

void OdbcQuery::Close() {
  if (!statement_) return;
  // Also discards the results not read (unlike SQLCloseCursor, without complaint when none is open).
  SQLFreeStmt(statement_.get(), SQL_CLOSE);
  statement_.Free();
  hasRow_ = false;
  row_.clear();
  std::erase(connection_->openQueries, this);
}

}  // namespace data::odbc
