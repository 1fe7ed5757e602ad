#include "data/OdbcCall.h"

#include <algorithm>
#include <type_traits>
#include <vector>

#include "app/Text.h"

namespace data::odbc {

std::basic_string<SQLWCHAR> ToWide(std::string_view utf8) {
  const std::u16string utf16 = app::Utf8ToUtf16(utf8);
  return std::basic_string<SQLWCHAR>(utf16.begin(), utf16.end());
}

std::string FromWide(const SQLWCHAR* text, size_t length) {
  return app::Utf16ToUtf8(std::u16string(text, text + length));
}

std::string FromNarrow(const SQLCHAR* text, size_t length) {
  const std::string bytes(reinterpret_cast<const char*>(text), length);
  if (app::IsValidUtf8(bytes)) return bytes;
  std::u16string latin1(bytes.begin(), bytes.end());
  for (char16_t& unit : latin1) unit &= 0xFF;
  return app::Utf16ToUtf8(latin1);
}

namespace {

// The longest message a record can hand over (its length is an SQLSMALLINT). One call with room for that:
// asked again after a short buffer, some drivers hand over only the rest of the message (psqlODBC), and
// some cut it without saying so (the SQLite3 driver).
constexpr SQLSMALLINT kLongestMessage = 32767;

// The record through the narrow or the wide function.
template <typename Char, typename GetRecord>
bool ReadRecord(GetRecord get, SQLSMALLINT record, DiagnosticRecord& out) {
  Char state[6] = {};
  SQLINTEGER nativeError = 0;
  SQLSMALLINT length = 0;
  std::vector<Char> message(kLongestMessage);
  if (!SQL_SUCCEEDED(get(record, state, &nativeError, message.data(), kLongestMessage, &length))) return false;
  const std::size_t kept = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), message.size() - 1);
  if constexpr (std::is_same_v<Char, SQLWCHAR>) {
    out.state = FromWide(state, 5);
    out.message = FromWide(message.data(), kept);
  } else {
    out.state = std::string(reinterpret_cast<const char*>(state));
    out.message = FromNarrow(message.data(), kept);
  }
  out.nativeError = nativeError;
  return true;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The texts by which drivers report a server connection that has gone away (psqlODBC, libpq, FreeTDS),
// for the drivers that do not give such a failure a class 08 state.
constexpr const char* kLostConnectionTexts[] = {
    "connection has been lost", "server closed the connection", "could not send data",
    "no connection to the server", "terminating connection", "Communication link failure",
};

constexpr long kSqlServerDeadlockVictim = 1205;
constexpr long kSqlServerLockTimeout = 1222;

}  // namespace

DbFailure ClassifyFailure(const std::vector<DiagnosticRecord>& records) {
  std::string text;
  for (const DiagnosticRecord& record : records) text += record.message + '\n';
  for (const DiagnosticRecord& record : records) {
    const std::string& state = record.state;
    // 57P01-57P03: the PostgreSQL server is shutting down, crashed or not accepting connections yet.
    if (state.starts_with("08") || state == "57P01" || state == "57P02" || state == "57P03")
      return DbFailure::ConnectionLost;
  }
  for (const char* lost : kLostConnectionTexts)
    if (Contains(text, lost)) return DbFailure::ConnectionLost;
  for (const DiagnosticRecord& record : records) {
    const std::string& state = record.state;
    if (state == "HY008") return DbFailure::Cancelled;
    // HYT00/HYT01: the driver's own timeouts; 57014: PostgreSQL's statement timeout (a cancel of our
    // own is recognised by the statement that was cancelled); 55P03: a lock that could not be had.
    if (state == "HYT00" || state == "HYT01" || state == "57014" || state == "55P03") return DbFailure::TimedOut;
    // 40001: a serialization failure (SQL Server's deadlock victim); 40P01: PostgreSQL's deadlock.
    if (state == "40001" || state == "40P01") return DbFailure::Conflict;
    // SQL Server's own numbers, whatever state the driver gives them (FreeTDS knows no state for either
    // and reports 42000): 1205, chosen as a deadlock victim (the batch was rolled back); 1222, a lock
    // not granted within the session's lock timeout (the statement was cancelled). Other drivers' native
    // numbers stay far below these (psqlODBC's are its own error codes, the SQLite3 driver's SQLite's).
    if (record.nativeError == kSqlServerDeadlockVictim) return DbFailure::Conflict;
    if (record.nativeError == kSqlServerLockTimeout) return DbFailure::TimedOut;
  }
  // SQLite gives up on a database that another connection holds locked once its busy timeout ends.
  if (Contains(text, "database is locked")) return DbFailure::TimedOut;
  return DbFailure::Statement;
}

std::vector<DiagnosticRecord> DiagnosticRecords(SQLSMALLINT handleType, SQLHANDLE handle, TextMode mode) {
  std::vector<DiagnosticRecord> records;
  for (SQLSMALLINT number = 1;; ++number) {
    DiagnosticRecord record;
    const bool read =
        mode == TextMode::Narrow
            ? ReadRecord<SQLCHAR>([&](auto... args) { return SQLGetDiagRec(handleType, handle, args...); }, number, record)
            : ReadRecord<SQLWCHAR>([&](auto... args) { return SQLGetDiagRecW(handleType, handle, args...); }, number,
                                   record);
    if (!read) break;
    records.push_back(std::move(record));
  }
  return records;
}

DbError Failure(SQLRETURN result, SQLSMALLINT handleType, SQLHANDLE handle, const char* what, TextMode mode) {
  std::vector<DiagnosticRecord> records;
  if (handle != SQL_NULL_HANDLE) records = DiagnosticRecords(handleType, handle, mode);
  std::string text;
  for (const DiagnosticRecord& record : records) {
    if (!text.empty()) text += '\n';
    text += record.message;
  }
  if (text.empty()) text = std::string(what) + " failed (ODBC result " + std::to_string(result) + ")";
  return DbError(text, ClassifyFailure(records));
}

void Check(SQLRETURN result, SQLSMALLINT handleType, SQLHANDLE handle, const char* what, TextMode mode) {
  if (!SQL_SUCCEEDED(result)) throw Failure(result, handleType, handle, what, mode);
}

Handle::Handle(SQLSMALLINT type, SQLHANDLE input) : type_(type) {
  const SQLRETURN result = SQLAllocHandle(type, input, &handle_);
  if (!SQL_SUCCEEDED(result)) {
    handle_ = SQL_NULL_HANDLE;
    const SQLSMALLINT inputType = type == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV;
    Check(result, inputType, input, "SQLAllocHandle");
  }
}

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    Free();
    type_ = other.type_;
    handle_ = other.handle_;
    other.handle_ = SQL_NULL_HANDLE;
  }
  return *this;
}

void Handle::Free() {
  if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  handle_ = SQL_NULL_HANDLE;
}

}  // namespace data::odbc
