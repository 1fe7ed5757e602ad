// Small helpers around the ODBC C API: wide text, diagnostics, handle ownership.
#pragma once

#ifdef _WIN32
#include <windows.h>  // the ODBC headers of Windows build on its types
#endif
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <string_view>
#include <vector>

#include "data/Session.h"

namespace data::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the wide ODBC functions take UTF-16");

// UTF-8 <-> the driver's UTF-16.
std::basic_string<SQLWCHAR> ToWide(std::string_view utf8);
std::string FromWide(const SQLWCHAR* text, size_t length);

// How text crosses the driver manager. Wide: the UTF-16 functions. Narrow: the 8-bit functions with
// UTF-8 text, for a driver that has no wide functions when the driver manager cannot convert Chinese
// text for it (unixODBC narrows UTF-16 for such a driver to Latin-1).
enum class TextMode { Wide, Narrow };

// Text of a narrow call: UTF-8 as it is, anything else read byte by byte as Latin-1.
std::string FromNarrow(const SQLCHAR* text, size_t length);

// One diagnostic record: its SQLSTATE, the server's native error number and the message, whole.
struct DiagnosticRecord {
  std::string state;
  long nativeError = 0;
  std::string message;
};

// Every diagnostic record of the handle, in order.
std::vector<DiagnosticRecord> DiagnosticRecords(SQLSMALLINT handleType, SQLHANDLE handle,
                                                TextMode mode = TextMode::Wide);

// The kind of failure that these diagnostic records describe, by their SQLSTATEs, the server's native
// error numbers and their text.
DbFailure ClassifyFailure(const std::vector<DiagnosticRecord>& records);

// The DbError for a call that did not succeed: the handle's diagnostics, classified (what names the
// call, for the rare driver that leaves no diagnostic record).
DbError Failure(SQLRETURN result, SQLSMALLINT handleType, SQLHANDLE handle, const char* what,
                TextMode mode = TextMode::Wide);

// Throws Failure(...) when the call did not succeed.
void Check(SQLRETURN result, SQLSMALLINT handleType, SQLHANDLE handle, const char* what,
           TextMode mode = TextMode::Wide);

// Owns one ODBC handle and frees it on every path.
class Handle {
 public:
  Handle() = default;
  Handle(SQLSMALLINT type, SQLHANDLE input);  // allocates; throws DbError on failure
  ~Handle() { Free(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept { *this = std::move(other); }
  Handle& operator=(Handle&& other) noexcept;

  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }
  explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }
  void Free();

 private:
  SQLSMALLINT type_ = 0;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

}  // namespace data::odbc
