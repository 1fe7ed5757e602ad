#include "data/OdbcStatement.h"

#include <algorithm>

#include "data/OdbcQuery.h"

namespace data::odbc {
namespace {

// Parameter values in the form the driver reads them, kept alive until the statement has run.
struct BoundValue {
  std::basic_string<SQLWCHAR> text;
  SQLBIGINT integer = 0;
  const Bytes* bytes = nullptr;
  SQLLEN indicator = 0;
};

void BindParameter(SQLHSTMT statement, SQLUSMALLINT number, const Param& param, BoundValue& value,
                   const Connection& connection) {
  static SQLCHAR emptyBinary = 0;
  SQLRETURN result = SQL_SUCCESS;
  if (const auto* text = std::get_if<std::string>(&param)) {
    value.text = ToWide(*text);
    value.indicator = static_cast<SQLLEN>(value.text.size() * sizeof(SQLWCHAR));
    result = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                              std::max<SQLULEN>(1, value.text.size()), 0, value.text.data(),
                              value.indicator, &value.indicator);
  } else if (const auto* integer = std::get_if<long long>(&param)) {
    value.integer = *integer;
    result = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &value.integer,
                              0, &value.indicator);
  } else {
    value.bytes = &std::get<Bytes>(param);
    value.indicator = static_cast<SQLLEN>(value.bytes->size());
    SQLPOINTER data = value.bytes->empty() ? &emptyBinary : const_cast<std::uint8_t*>(value.bytes->data());
    result = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_BINARY, connection.binaryParameterType,
                              std::max<SQLULEN>(1, value.bytes->size()), 0, data, value.indicator,
                              &value.indicator);
  }
  Check(result, SQL_HANDLE_STMT, statement, "SQLBindParameter", connection.textMode);
}

}  // namespace

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
  bool cancelled = false;
  {
    InFlight executing(connection, statement.get());
    if (connection.textMode == TextMode::Narrow) {
      std::basic_string<SQLCHAR> text(utf8.begin(), utf8.end());
      result = SQLExecDirect(statement.get(), text.data(), static_cast<SQLINTEGER>(text.size()));
    } else {
      std::basic_string<SQLWCHAR> text = ToWide(utf8);
      result = SQLExecDirectW(statement.get(), text.data(), static_cast<SQLINTEGER>(text.size()));
    }
    cancelled = executing.cancelled();
  }
  if (result != SQL_NO_DATA && !SQL_SUCCEEDED(result)) {
    DbError failure = Failure(result, SQL_HANDLE_STMT, statement.get(), "SQLExecDirect", connection.textMode);
    // PostgreSQL reports a cancel and a statement timeout with one state; the session knows which.
    if (cancelled && failure.failure() != DbFailure::ConnectionLost)
      failure = DbError(failure.what(), DbFailure::Cancelled);
    throw failure;
  }
  // The values are read at execution; unbind them before they go out of scope.
  SQLFreeStmt(statement.get(), SQL_RESET_PARAMS);
  return statement;
}

}  // namespace data::odbc
