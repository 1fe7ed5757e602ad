// One ODBC connection shared by a session and the queries it opened, and statement execution with
// bound parameters.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "data/OdbcCall.h"
#include "data/Session.h"

namespace data::odbc {

class OdbcQuery;

struct Connection {
  Handle env;
  Handle dbc;
  bool connected = false;
  // The SQL type that binary parameters are sent as: psqlODBC stores SQL_VARBINARY as bytea but,
  // unless told otherwise in its settings, SQL_LONGVARBINARY as a large-object reference; every other
  // driver expects SQL_LONGVARBINARY for a large binary column.
  SQLSMALLINT binaryParameterType = SQL_LONGVARBINARY;
  TextMode textMode = TextMode::Wide;
  // Seconds a statement may run (SQL_ATTR_QUERY_TIMEOUT of each statement; 0: no limit).
  SQLULEN statementTimeout = 0;
  // Queries whose statements are still allocated; closed before the connection goes away.
  std::vector<OdbcQuery*> openQueries;

  Connection();
  ~Connection();
  void Disconnect();

  // The statement executing now, for a cancel from another thread (ODBC allows SQLCancel on a
  // statement that another thread is executing).
  void Cancel();

 private:
  friend class InFlight;
  std::mutex inFlightMutex_;
  SQLHSTMT inFlight_ = SQL_NULL_HSTMT;  // guarded by inFlightMutex_
  bool cancelled_ = false;              // guarded by inFlightMutex_: Cancel() reached inFlight_
};

// Marks a statement as executing for as long as it lives; cancelled() tells whether Cancel() reached it.
class InFlight {
 public:
  InFlight(Connection& connection, SQLHSTMT statement);
  ~InFlight();
  InFlight(const InFlight&) = delete;
  InFlight& operator=(const InFlight&) = delete;
  bool cancelled();

 private:
  Connection& connection_;
};

// Sends the lines, each followed by CR LF, with the parameters bound in order. Returns the statement
// handle positioned on its first result; result is SQL_NO_DATA for a searched change that touched no row.
Handle ExecuteStatement(Connection& connection, const std::vector<std::string>& lines,
                        const std::vector<Param>& params, SQLRETURN& result);

// Reads the results of an executed statement to the end, from its current one (`executed`: what the
// execution returned), and gives the number of rows it changed as Session::Execute describes it. A
// statement may send back several results: a trigger's row counts before the statement's own (unless
// NOCOUNT is on), and an error a trigger raises after them. Throws the first failure among them.
long long ReadResultsToEnd(Connection& connection, SQLHSTMT statement, SQLRETURN executed);

// Moves past the statement's remaining results, once the current one has been read to its end; throws
// the first failure among them.
void ReadRemainingResults(Connection& connection, SQLHSTMT statement);

// The lines as sent.
std::string JoinLines(const std::vector<std::string>& lines);

}  // namespace data::odbc
