#include "data/Session.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

#include "data/OdbcQuery.h"
#include "data/OdbcStatement.h"
#include "data/PhotoStore.h"
#include "data/ReaderStatements.h"
#include "data/ServerWait.h"

namespace data {
namespace {

using odbc::Check;
using odbc::Connection;
using odbc::Handle;
using odbc::ToWide;

// What the library system reports when an edit finds no row and the new empty row is posted.
constexpr const char* kNoReaderMessage = "Field 'pe_id' must have a value";

std::string SharedCardMessage(const std::string& cardNumber) {
  return "More than one reader has the card number '" + cardNumber + "'";
}

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

SqlDialect DialectOf(const std::string& dbmsName) {
  if (dbmsName.find("SQLite") != std::string::npos) return SqlDialect::Sqlite;
  if (dbmsName.find("PostgreSQL") != std::string::npos) return SqlDialect::Postgres;
  if (dbmsName.find("SQL Server") != std::string::npos) return SqlDialect::SqlServer;
  return SqlDialect::Other;
}

void SetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLULEN value) {
  SQLSetConnectAttrW(dbc, attribute, reinterpret_cast<SQLPOINTER>(value), 0);
}

}  // namespace

struct Session::Impl {
  std::shared_ptr<Connection> connection = std::make_shared<Connection>();
  Timeouts timeouts;
  SqlDialect dialect = SqlDialect::Other;
  std::function<void(Session&)> connectAgain;  // the last connect, with its parameters
  ServerWait wait;
  std::mutex connectionMutex;  // guards `connection` (the pointer) for Cancel() from another thread

  // Makes a statement's calls into the driver. A server in a process of its own may stop answering: the
  // calls then run through `wait`, and a connection given up on stays with its call. SQLite runs in this
  // process and ends every wait by its busy timeout, so its calls are made here.
  void Run(std::function<void(const std::shared_ptr<Connection>&)> call) {
    const std::shared_ptr<Connection> used = connection;
    if (dialect == SqlDialect::Sqlite || !used->connected) return call(used);
    const std::chrono::milliseconds limit =
        timeouts.statementSeconds > 0 ? std::chrono::seconds(timeouts.statementSeconds) + kAnswerGrace
                                      : std::chrono::milliseconds(0);
    try {
      wait.Run([used, call = std::move(call)] { call(used); }, limit);
    } catch (const DbError& error) {
      if (error.failure() == DbFailure::NoAnswer) {
        auto fresh = std::make_shared<Connection>();
        std::lock_guard lock(connectionMutex);
        connection = std::move(fresh);
      }
      throw;
    }
  }

  // A fresh connection handle. The login timeout ends a connect to a server that accepts the
  // connection but never answers; the connection timeout bounds the driver's other requests. Set before
  // the connect, the login timeout is the standard attribute every driver reads: Microsoft's drivers time
  // the login by it, FreeTDS both the network connect and the login's answer (over the "connect timeout"
  // of freetds.conf), and unixODBC hands it on when it loads the driver.
  SQLHDBC NewConnectionHandle() {
    connection->Disconnect();
    connection->dbc = Handle(SQL_HANDLE_DBC, connection->env.get());
    SQLHDBC dbc = connection->dbc.get();
    SetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, static_cast<SQLULEN>(timeouts.loginSeconds));
    SetConnectAttr(dbc, SQL_ATTR_CONNECTION_TIMEOUT, static_cast<SQLULEN>(timeouts.statementSeconds));
    return dbc;
  }

  // Autocommit on: each change is durable by itself.
  void Connected(Session& session) {
    SQLHDBC dbc = connection->dbc.get();
    connection->connected = true;
    Check(SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
          SQL_HANDLE_DBC, dbc, "SQLSetConnectAttrW");
    dialect = DialectOf(DbmsName(dbc));
    connection->binaryParameterType = dialect == SqlDialect::Postgres ? SQL_VARBINARY : SQL_LONGVARBINARY;
    connection->textMode = ProbeTextMode(dbc);
    ApplyStatementTimeout(session);
  }

  // Each statement carries SQL_ATTR_QUERY_TIMEOUT (psqlODBC turns it into statement_timeout, SQL
  // Server drivers time the statement themselves); what else a connection needs to be told (the SQLite3
  // driver's busy timeout, which it times its waits by instead) follows it.
  void ApplyStatementTimeout(Session& session) {
    connection->statementTimeout = static_cast<SQLULEN>(timeouts.statementSeconds);
    if (!connection->connected) return;
    for (const Statement& statement : ConnectionSetupStatements(dialect, timeouts)) session.Execute(statement);
  }
};

Session::Session() : impl_(std::make_unique<Impl>()) {}

Session::~Session() = default;

void Session::Connect(const std::string& dataSourceName, const std::string& user, const std::string& password) {
  impl_->connectAgain = [=](Session& session) { session.Connect(dataSourceName, user, password); };
  SQLHDBC dbc = impl_->NewConnectionHandle();
  auto dsn = ToWide(dataSourceName);
  auto uid = ToWide(user);
  auto pwd = ToWide(password);
  Check(SQLConnectW(dbc, dsn.data(), static_cast<SQLSMALLINT>(dsn.size()), uid.data(),
                    static_cast<SQLSMALLINT>(uid.size()), pwd.data(), static_cast<SQLSMALLINT>(pwd.size())),
        SQL_HANDLE_DBC, dbc, "SQLConnectW");
  impl_->Connected(*this);
}

void Session::ConnectString(const std::string& connectionString) {
  impl_->connectAgain = [=](Session& session) { session.ConnectString(connectionString); };
  SQLHDBC dbc = impl_->NewConnectionHandle();
  auto text = ToWide(connectionString);
  SQLWCHAR completed[1024];
  SQLSMALLINT completedLength = 0;
  Check(SQLDriverConnectW(dbc, nullptr, text.data(), static_cast<SQLSMALLINT>(text.size()), completed,
                          static_cast<SQLSMALLINT>(std::size(completed)), &completedLength, SQL_DRIVER_NOPROMPT),
        SQL_HANDLE_DBC, dbc, "SQLDriverConnectW");
  impl_->Connected(*this);
}

bool Session::IsConnected() const { return impl_->connection->connected; }

void Session::Disconnect() { impl_->connection->Disconnect(); }

void Session::Reconnect() {
  if (!impl_->connectAgain) throw DbError("The database was never connected", DbFailure::ConnectionLost);
  const auto connectAgain = impl_->connectAgain;
  connectAgain(*this);
}

void Session::ConnectLike(const Session& other) {
  if (!other.impl_->connectAgain) throw DbError("The database was never connected", DbFailure::ConnectionLost);
  impl_->timeouts = other.impl_->timeouts;
  const auto connect = other.impl_->connectAgain;
  connect(*this);
}

void Session::SetTimeouts(const Timeouts& timeouts) {
  impl_->timeouts = timeouts;
  impl_->ApplyStatementTimeout(*this);
}

const Timeouts& Session::timeouts() const { return impl_->timeouts; }

SqlDialect Session::dialect() const { return impl_->dialect; }

void Session::Cancel() {
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard lock(impl_->connectionMutex);
    connection = impl_->connection;
  }
  impl_->wait.Cancel([connection] { connection->Cancel(); });
}

// The statement and its values are copied into the call, which may outlive this wait.
std::unique_ptr<Query> Session::Open(const std::vector<std::string>& lines, const std::vector<Param>& params) {
  auto query = std::make_shared<std::unique_ptr<Query>>();
  impl_->Run([lines, params, query](const std::shared_ptr<Connection>& connection) {
    SQLRETURN result = SQL_SUCCESS;
    Handle statement = odbc::ExecuteStatement(*connection, lines, params, result);
    *query = std::make_unique<odbc::OdbcQuery>(connection, std::move(statement));
  });
  return std::move(*query);
}

long long Session::Execute(const std::vector<std::string>& lines, const std::vector<Param>& params) {
  auto count = std::make_shared<long long>(-1);
  impl_->Run([lines, params, count](const std::shared_ptr<Connection>& connection) {
    SQLRETURN result = SQL_SUCCESS;
    Handle statement = odbc::ExecuteStatement(*connection, lines, params, result);
    *count = odbc::ReadResultsToEnd(*connection, statement.get(), result);
  });
  return *count;
}

std::optional<Bytes> Session::ReadPhoto(const std::string& cardNumber) {
  auto query = Open(ReadPhotoStatement(dialect(), cardNumber));
  if (query->Eof()) return std::nullopt;
  Bytes photo = query->AsBytes("pe_photo").value_or(Bytes());
  query->Next();
  if (!query->Eof()) throw DbError(SharedCardMessage(cardNumber));
  return photo;
}

void Session::WritePhoto(const std::string& cardNumber, std::span<const std::uint8_t> bytes) {
  const StoreResult result = StorePhoto(*this, cardNumber, bytes, PhotoGuard::Any);
  switch (result.outcome) {
    case StoreOutcome::Stored: return;
    case StoreOutcome::NoSuchCard: throw DbError(kNoReaderMessage);
    case StoreOutcome::CardShared: throw DbError(SharedCardMessage(cardNumber));
    case StoreOutcome::ConnectionLost: throw DbError(result.driverText, DbFailure::ConnectionLost);
    case StoreOutcome::TimedOut: throw DbError(result.driverText, DbFailure::TimedOut);
    case StoreOutcome::Cancelled: throw DbError(result.driverText, DbFailure::Cancelled);
    default: throw DbError(result.driverText);
  }
}

}  // namespace data
