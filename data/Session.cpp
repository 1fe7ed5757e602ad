#include "data/Session.h"

#include <algorithm>
#include <vector>

#include "data/OdbcQuery.h"
#include "data/OdbcStatement.h"

namespace data {
namespace {

using odbc::Check;
using odbc::Connection;
using odbc::Handle;
using odbc::ToWide;

// The reader whose card number is bound as the last parameter. A char(12) column compares without its
// trailing blanks on most servers but not on SQLite, so when the plain comparison (which can use the
// index) finds nothing, the stored value is compared with its trailing blanks removed.
constexpr const char* kCardMatches[] = {"where pe_id=?", "where rtrim(pe_id)=?"};

// What the library system reports when an edit finds no row and the new empty row is posted.
constexpr const char* kNoReaderMessage = "Field 'pe_id' must have a value";

// Whether Chinese text survives the wide functions on this connection: the driver's own rendering of
// a statement, asked through the wide function, must come back unchanged. Through unixODBC it does not
// for a driver without wide functions (such as the SQLite3 driver), which then gets UTF-8 through the
// narrow functions instead.
odbc::TextMode ProbeTextMode(SQLHDBC dbc) {
  auto probe = ToWide("select '读者' from lib_people");
  std::vector<SQLWCHAR> native(probe.size() * 4 + 16);
  SQLINTEGER length = 0;
  const SQLRETURN result = SQLNativeSqlW(dbc, probe.data(), static_cast<SQLINTEGER>(probe.size()), native.data(),
                                         static_cast<SQLINTEGER>(native.size()), &length);
  if (!SQL_SUCCEEDED(result)) return odbc::TextMode::Wide;
  const auto chinese = ToWide("读者");
  const std::basic_string<SQLWCHAR> rendered(native.data(), std::min<size_t>(length, native.size() - 1));
  return rendered.find(chinese) != std::basic_string<SQLWCHAR>::npos ? odbc::TextMode::Wide
                                                                     : odbc::TextMode::Narrow;
}

std::string DbmsName(SQLHDBC dbc) {
  SQLWCHAR name[256] = {};
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetInfoW(dbc, SQL_DBMS_NAME, name, sizeof name, &length))) return {};
  return odbc::FromWide(name, std::min<size_t>(length / sizeof(SQLWCHAR), std::size(name) - 1));
}

}  // namespace

struct Session::Impl {
  std::shared_ptr<Connection> connection = std::make_shared<Connection>();

  // A fresh connection handle with autocommit on: each change is durable by itself.
  SQLHDBC NewConnectionHandle() {
    connection->Disconnect();
    connection->dbc = Handle(SQL_HANDLE_DBC, connection->env.get());
    return connection->dbc.get();
  }

  void Connected() {
    SQLHDBC dbc = connection->dbc.get();
    connection->connected = true;
    Check(SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
          SQL_HANDLE_DBC, dbc, "SQLSetConnectAttrW");
    const bool postgres = DbmsName(dbc).find("PostgreSQL") != std::string::npos;
    connection->binaryParameterType = postgres ? SQL_VARBINARY : SQL_LONGVARBINARY;
    connection->textMode = ProbeTextMode(dbc);
  }
};

Session::Session() : impl_(std::make_unique<Impl>()) {}

Session::~Session() = default;

void Session::Connect(const std::string& dataSourceName, const std::string& user, const std::string& password) {
  SQLHDBC dbc = impl_->NewConnectionHandle();
  auto dsn = ToWide(dataSourceName);
  auto uid = ToWide(user);
  auto pwd = ToWide(password);
  Check(SQLConnectW(dbc, dsn.data(), static_cast<SQLSMALLINT>(dsn.size()), uid.data(),
                    static_cast<SQLSMALLINT>(uid.size()), pwd.data(), static_cast<SQLSMALLINT>(pwd.size())),
        SQL_HANDLE_DBC, dbc, "SQLConnectW");
  impl_->Connected();
}

void Session::ConnectString(const std::string& connectionString) {
  SQLHDBC dbc = impl_->NewConnectionHandle();
  auto text = ToWide(connectionString);
  SQLWCHAR completed[1024];
  SQLSMALLINT completedLength = 0;
  Check(SQLDriverConnectW(dbc, nullptr, text.data(), static_cast<SQLSMALLINT>(text.size()), completed,
                          static_cast<SQLSMALLINT>(std::size(completed)), &completedLength, SQL_DRIVER_NOPROMPT),
        SQL_HANDLE_DBC, dbc, "SQLDriverConnectW");
  impl_->Connected();
}

bool Session::IsConnected() const { return impl_->connection->connected; }

void Session::Disconnect() { impl_->connection->Disconnect(); }

std::unique_ptr<Query> Session::Open(const std::vector<std::string>& lines, const std::vector<Param>& params) {
  SQLRETURN result = SQL_SUCCESS;
  Handle statement = odbc::ExecuteStatement(*impl_->connection, lines, params, result);
  return std::make_unique<odbc::OdbcQuery>(impl_->connection, std::move(statement));
}

long long Session::Execute(const std::vector<std::string>& lines, const std::vector<Param>& params) {
  SQLRETURN result = SQL_SUCCESS;
  Handle statement = odbc::ExecuteStatement(*impl_->connection, lines, params, result);
  if (result == SQL_NO_DATA) return 0;
  SQLLEN rows = -1;
  Check(SQLRowCount(statement.get(), &rows), SQL_HANDLE_STMT, statement.get(), "SQLRowCount");
  return rows;
}

std::optional<Bytes> Session::ReadPhoto(const std::string& cardNumber) {
  for (const char* match : kCardMatches) {
    auto query = Open({"select pe_photo from lib_people", match}, {cardNumber});
    if (query->Eof()) continue;
    Bytes photo = query->AsBytes("pe_photo").value_or(Bytes());
    // A write would change every row with this card number: refuse rather than overwrite another
    // reader's photo.
    query->Next();
    if (!query->Eof()) throw DbError("More than one reader has the card number '" + cardNumber + "'");
    return photo;
  }
  return std::nullopt;
}

void Session::WritePhoto(const std::string& cardNumber, std::span<const std::uint8_t> bytes) {
  const Bytes photo(bytes.begin(), bytes.end());
  for (const char* match : kCardMatches) {
    if (Execute({"update lib_people set pe_photo=?", match}, {photo, cardNumber}) != 0) return;
  }
  throw DbError(kNoReaderMessage);
}

}  // namespace data
