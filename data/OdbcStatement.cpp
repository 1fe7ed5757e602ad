#include "data/OdbcStatement.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "data/OdbcQuery.h"

namespace data::odbc {
namespace {

// Parameter values in the form the driver reads them, kept alive until the statement has run.
struct BoundValue {
  std::basic_string<SQLWCHAR> text;
  SQLBIGINT integer = 0;
  SQLINTEGER smallInteger = 0;
  const Bytes* bytes = nullptr;
  SQLLEN indicator = 0;
};

// Binds binary bytes as the given SQL type; columnSize 0: the value's own length.
SQLRETURN BindBinary(SQLHSTMT statement, SQLUSMALLINT number, const Bytes& bytes, SQLSMALLINT sqlType,
                     SQLULEN columnSize, BoundValue& value) {
  static SQLCHAR emptyBinary = 0;
  value.bytes = &bytes;
  value.indicator = static_cast<SQLLEN>(bytes.size());
  SQLPOINTER data = bytes.empty() ? &emptyBinary : const_cast<std::uint8_t*>(bytes.data());
  if (columnSize == 0) columnSize = std::max<SQLULEN>(1, bytes.size());
  return SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_BINARY, sqlType, columnSize, 0, data,
                          value.indicator, &value.indicator);
}

void BindParameter(SQLHSTMT statement, SQLUSMALLINT number, const Param& param, BoundValue& value,
                   const Connection& connection) {
  SQLRETURN result = SQL_SUCCESS;
  if (const auto* text = std::get_if<std::string>(&param)) {
    value.text = ToWide(*text);
    value.indicator = static_cast<SQLLEN>(value.text.size() * sizeof(SQLWCHAR));
    result = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                              std::max<SQLULEN>(1, value.text.size()), 0, value.text.data(),
                              value.indicator, &value.indicator);
  } else if (const auto* integer = std::get_if<long long>(&param)) {
    // A number that fits is sent as an int (what datalength gives on SQL Server, and a type every driver
    // and server version knows), a larger one as a bigint.
    if (*integer >= INT32_MIN && *integer <= INT32_MAX) {
      value.smallInteger = static_cast<SQLINTEGER>(*integer);
      result = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                                &value.smallInteger, 0, &value.indicator);
    } else {
      value.integer = *integer;
      result = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                                &value.integer, 0, &value.indicator);
    }
  } else if (const auto* piece = std::get_if<ComparableBinary>(&param)) {
    // Always declared at the longest size, so that every piece of every photo is one parameter type and
    // the server can reuse its plan.
    result = BindBinary(statement, number, piece->bytes, SQL_VARBINARY, kLongestComparableBinary, value);
  } else {
    result = BindBinary(statement, number, std::get<Bytes>(param), connection.binaryParameterType, 0, value);
  }
  Check(result, SQL_HANDLE_STMT, statement, "SQLBindParameter", connection.textMode);
}

// Makes one call of the statement that waits for the server (its execution, a move to its next result),
// marked in flight so that Connection::Cancel reaches it. Throws the failure, classified; one that a
// cancel caused as Cancelled.
template <typename Call>
SQLRETURN WaitForServer(Connection& connection, SQLHSTMT statement, const char* what, Call call) {
  SQLRETURN result = SQL_SUCCESS;
  bool cancelled = false;
  {
    InFlight executing(connection, statement);
    result = call();
    cancelled = executing.cancelled();
  }
  if (result != SQL_NO_DATA && !SQL_SUCCEEDED(result)) {
    DbError failure = Failure(result, SQL_HANDLE_STMT, statement, what, connection.textMode);
    // PostgreSQL reports a cancel and a statement timeout with one state; the session knows which.
    if (cancelled && failure.failure() != DbFailure::ConnectionLost)
      failure = DbError(failure.what(), DbFailure::Cancelled);
    throw failure;
  }
  return result;
}

SQLRETURN NextResult(Connection& connection, SQLHSTMT statement) {
  return WaitForServer(connection, statement, "SQLMoreResults", [&] { return SQLMoreResults(statement); });
}

// The count the current result gives: a row count, or the number in a result of one row and one column.
std::optional<long long> CountOfResult(Connection& connection, SQLHSTMT statement) {
  SQLSMALLINT columns = 0;
  Check(SQLNumResultCols(statement, &columns), SQL_HANDLE_STMT, statement, "SQLNumResultCols", connection.textMode);
  if (columns == 0) {
    SQLLEN rows = -1;
    Check(SQLRowCount(statement, &rows), SQL_HANDLE_STMT, statement, "SQLRowCount", connection.textMode);
    return rows >= 0 ? std::optional<long long>(rows) : std::nullopt;
  }
  if (columns != 1) return std::nullopt;
  const auto fetch = [&] { return SQLFetch(statement); };
  if (WaitForServer(connection, statement, "SQLFetch", fetch) == SQL_NO_DATA) return std::nullopt;
  SQLBIGINT number = 0;
  SQLLEN indicator = 0;
  Check(SQLGetData(statement, 1, SQL_C_SBIGINT, &number, 0, &indicator), SQL_HANDLE_STMT, statement, "SQLGetData",
        connection.textMode);
  if (indicator == SQL_NULL_DATA || WaitForServer(connection, statement, "SQLFetch", fetch) != SQL_NO_DATA)
    return std::nullopt;
  return number;
}

}  // namespace

long long ReadResultsToEnd(Connection& connection, SQLHSTMT statement, SQLRETURN executed) {
  // A searched change that touched no row has no result to look at, yet may be followed by others.
  std::optional<long long> count = executed == SQL_NO_DATA ? std::optional<long long>(0)
                                                           : CountOfResult(connection, statement);
  while (NextResult(connection, statement) != SQL_NO_DATA) {
    if (const std::optional<long long> next = CountOfResult(connection, statement)) count = next;
  }
  return count.value_or(-1);
}

void ReadRemainingResults(Connection& connection, SQLHSTMT statement) {
  while (NextResult(connection, statement) != SQL_NO_DATA) {
  }
}

Connection::Connection() : env(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
  Check(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
        SQL_HANDLE_ENV, env.get(), "SQLSetEnvAttr");
}

Connection::~Connection() { Disconnect(); }

void Connection::Disconnect() {
  while (!openQueries.empty()) openQueries.back()->Close();
  if (connected) SQLDisconnect(dbc.get());
  connected = false;
  dbc.Free();
}

void Connection::Cancel() {
  std::lock_guard lock(inFlightMutex_);
  if (inFlight_ == SQL_NULL_HSTMT) return;
  cancelled_ = true;
  SQLCancel(inFlight_);
}

InFlight::InFlight(Connection& connection, SQLHSTMT statement) : connection_(connection) {
  std::lock_guard lock(connection_.inFlightMutex_);
  connection_.inFlight_ = statement;
  connection_.cancelled_ = false;
}

InFlight::~InFlight() {
  std::lock_guard lock(connection_.inFlightMutex_);
  connection_.inFlight_ = SQL_NULL_HSTMT;
}

bool InFlight::cancelled() {
  std::lock_guard lock(connection_.inFlightMutex_);
  return connection_.cancelled_;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

Handle ExecuteStatement(Connection& connection, const std::vector<std::string>& lines,
                        const std::vector<Param>& params, SQLRETURN& result) {
  if (!connection.connected) throw DbError("The database is not connected", DbFailure::ConnectionLost);
  Handle statement(SQL_HANDLE_STMT, connection.dbc.get());
  // A driver that cannot time statements out says so with a warning; the session then relies on what
  // it set up when it connected (see Session::Impl::ApplyStatementTimeout).
  SQLSetStmtAttrW(statement.get(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(connection.statementTimeout),
                  0);
  std::vector<BoundValue> values(params.size());
  for (size_t i = 0; i < params.size(); ++i) {
    BindParameter(statement.get(), static_cast<SQLUSMALLINT>(i + 1), params[i], values[i], connection);
  }
  const std::string utf8 = JoinLines(lines);
  result = WaitForServer(connection, statement.get(), "SQLExecDirect", [&] {
    if (connection.textMode == TextMode::Narrow) {
      std::basic_string<SQLCHAR> text(utf8.begin(), utf8.end());
      return SQLExecDirect(statement.get(), text.data(), static_cast<SQLINTEGER>(text.size()));
    }
    std::basic_string<SQLWCHAR> text = ToWide(utf8);
    return SQLExecDirectW(statement.get(), text.data(), static_cast<SQLINTEGER>(text.size()));
  });
  // The values are read at execution; unbind them before they go out of scope.
  SQLFreeStmt(statement.get(), SQL_RESET_PARAMS);
  return statement;
}

}  // namespace data::odbc
