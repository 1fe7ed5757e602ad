// One ODBC connection shared by a session and the queries it opened, and statement execution with
// bound parameters.
#pragma once

#include <memory>
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
  // Queries whose statements are still allocated; closed before the connection goes away.
  std::vector<OdbcQuery*> openQueries;

  Connection();
  ~Connection();
  void Disconnect();
};

// Sends the lines, each followed by CR LF, with the parameters bound in order. Returns the statement
// handle; result is SQL_NO_DATA for a searched change that touched no row.
Handle ExecuteStatement(Connection& connection, const std::vector<std::string>& lines,
                        const std::vector<Param>& params, SQLRETURN& result);

// The lines as sent.
std::string JoinLines(const std::vector<std::string>& lines);

}  // namespace data::odbc
