// A database session: one ODBC connection (wide-character API) and the statements the tool sends over it.
// The program's connection is one; a run adds store connections made like it (ConnectLike). All text
// crossing this interface is UTF-8; the driver gets UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace data {

// What kind of failure a database error is, as far as the caller must act on it.
enum class DbFailure {
  Statement,       // the server or the driver refused this statement; the connection is fine
  ConnectionLost,  // the connection to the server is gone (SQLSTATE class 08, server shut down)
  TimedOut,        // the statement ran out of time (statement timeout, lock wait, busy database)
  Cancelled,       // Session::Cancel() ended it
  Conflict,        // the server ended it to resolve a conflict with another session (a deadlock, a
                   // serialization failure): it changed nothing and may be run again
  NoAnswer,        // the server did not answer within the statement timeout and a grace, or soon after a
                   // cancel (ServerWait): what the statement did is not known; the session has left that
                   // connection to it and is no longer connected
};

// A failure of a database call. what() is the diagnostic text of the driver manager, the driver or the
// server (all diagnostic records, joined); only where they give none, or where the session itself finds
// the fault (a card number that several readers share), does it say so in words of its own.
class DbError : public std::runtime_error {
 public:
  explicit DbError(const std::string& text, DbFailure failure = DbFailure::Statement)
      : std::runtime_error(text), failure_(failure) {}
  DbFailure failure() const { return failure_; }

 private:
  DbFailure failure_;
};

// Reading a NULL column as text or as an integer:
// "Could not convert variant of type (Null) into type (String)" / "... into type (Integer)".
class ConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using Bytes = std::vector<std::uint8_t>;

// The longest binary value SQL Server compares with '=' on every version: a varbinary(8000). Longer
// binary parameters arrive as image (SQL Server 2000 has no varbinary(max)), which it cannot compare.
inline constexpr std::size_t kLongestComparableBinary = 8000;

// A binary value of at most kLongestComparableBinary bytes that a statement compares: bound as
// SQL_VARBINARY of that size (on SQL Server a varbinary(8000)), where a Bytes value is bound as the long
// binary type the photo column takes.
struct ComparableBinary {
  Bytes bytes;
  bool operator==(const ComparableBinary&) const = default;
};

// A value bound to a '?' marker of a statement, in order.
using Param = std::variant<std::string, long long, Bytes, ComparableBinary>;

// A statement as sent: its lines (joined, each followed by CR LF, the last too) and the values bound to
// its '?' markers, in order.
struct Statement {
  std::vector<std::string> lines;
  std::vector<Param> params;
};

// Forward-only result of a statement. The current row is fetched whole when the cursor moves onto it,
// so columns can be read in any order and as often as needed.
class Query {
 public:
  virtual ~Query() = default;
  virtual bool Eof() const = 0;
  virtual void Next() = 0;
  // Column by its result name (aliases included), compared without regard to ASCII case.
  // Throws DbError for an unknown column name.
  virtual bool IsNull(const std::string& column) const = 0;
  // Value as text; a NULL throws ConversionError (Null -> String). Fixed-width values keep trailing blanks.
  virtual std::string AsString(const std::string& column) const = 0;
  // Value as integer; a NULL throws ConversionError (Null -> Integer), non-numeric text throws DbError.
  virtual long long AsInteger(const std::string& column) const = 0;
  // Value as text, empty for a NULL.
  virtual std::string Text(const std::string& column) const = 0;
  // Binary value; std::nullopt for a NULL.
  virtual std::optional<Bytes> AsBytes(const std::string& column) const = 0;
  virtual void Close() = 0;
};

// The SQL spoken by the server behind the data source, where the tool's statements must differ.
enum class SqlDialect { Sqlite, Postgres, SqlServer, Other };

// How long the session waits for the server, in seconds (0: no limit). A server that stops answering
// must not hang the tool: a login ends after loginSeconds, a statement (also one waiting for a row
// that another program holds locked) after statementSeconds.
struct Timeouts {
  int loginSeconds = 15;
  int statementSeconds = 30;
};

class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Connects to an ODBC data source with a user name and a password, never prompting.
  void Connect(const std::string& dataSourceName, const std::string& user, const std::string& password);
  // Connects with a full connection string ("DRIVER=...;Database=..."), never prompting.
  void ConnectString(const std::string& connectionString);
  bool IsConnected() const;
  void Disconnect();
  // Connects to the server of `other` as `other` did (its last Connect or ConnectString), with its
  // timeouts: a second connection of the same user to the same database. Throws DbError as Connect.
  void ConnectLike(const Session& other);
  // Connects again with the parameters of the last Connect or ConnectString, after a lost connection.
  // Throws DbError when the server is still unreachable (or when the session never connected).
  void Reconnect();

  // The login timeout applies from the next connect on, the statement timeout from the next statement.
  void SetTimeouts(const Timeouts& timeouts);
  const Timeouts& timeouts() const;
  SqlDialect dialect() const;

  // Ends the statement that is executing on this session, if any, from any thread, without waiting for the
  // server: it fails with DbFailure::Cancelled (or completes, when it was already done), or, when the
  // server does not answer the cancel within kCancelGrace, with DbFailure::NoAnswer. A statement is all or nothing, so a
  // cancelled change leaves nothing half-written. Without a statement in flight it does nothing.
  void Cancel();

  // Sends the lines joined, each followed by CR LF (the last too), with the parameters bound to the
  // '?' markers in order, and returns its result positioned on the first row. Once the result has been
  // read to its end, the statement's remaining results are read too: an error among them (one a
  // trigger raised, say) is thrown by the Next() that reached the end.
  std::unique_ptr<Query> Open(const std::vector<std::string>& lines, const std::vector<Param>& params = {});
  std::unique_ptr<Query> Open(const Statement& statement) { return Open(statement.lines, statement.params); }
  // Runs a statement without a result of its own, reading every result it sends back to the end (an error
  // among them is thrown as the statement's failure). Returns the number of rows it changed: the count
  // the statement reports itself as its last result, a row with one number (SQL Server's store
  // statements end in "select @@rowcount", which no trigger's count can take the place of); otherwise
  // the driver's count of its last result that has one; -1 when unknown.
  long long Execute(const std::vector<std::string>& lines, const std::vector<Param>& params = {});
  long long Execute(const Statement& statement) { return Execute(statement.lines, statement.params); }

  // The current photo of the reader whose card number (pe_id) equals cardNumber, trailing blanks
  // ignored (see CardNumberMatch): std::nullopt when no row has that card number, an empty value for
  // NULL. Throws DbError when more than one row has that card number.
  std::optional<Bytes> ReadPhoto(const std::string& cardNumber);
  // Stores bytes as pe_photo of the reader with that card number whatever its current photo (for
  // tools and tests; an import run stores through data::StorePhoto with its guard). Throws DbError
  // when no row or more than one row has that card number: nothing is inserted or changed then.
  void WritePhoto(const std::string& cardNumber, std::span<const std::uint8_t> bytes);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace data
