// The connection options of the commands that use the database: --dsn NAME [--user USER] [--password -|
// --password-file FILE|--password PASSWORD], or, without --dsn, the connection settings stored for the
// library system.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "app/SettingsStore.h"
#include "data/Session.h"
#include "tools/CommandLine.h"

namespace tools {

inline const std::set<std::string> kConnectionOptions = {"--dsn", "--user", "--password", "--password-file"};

inline constexpr const char* kConnectionSynopsis = "[--dsn NAME [--user USER] [--password -|--password-file FILE]]";

inline constexpr const char* kConnectionUsage =
    "      --dsn       ODBC data source (user default sa, password default empty); without --dsn the\n"
    "                  stored connection settings are used (data source LibODBC, user sa, empty\n"
    "                  password when none are stored)\n"
    "      --password -  reads the password from standard input; --password-file FILE from the first\n"
    "                  line of FILE. (--password PASSWORD works too, but every user of the machine can\n"
    "                  read it in the process list: a warning says so.)\n";

struct ConnectionArguments {
  std::optional<std::string> dsn, user, password, passwordFile;
};

ConnectionArguments ConnectionArgumentsOf(const CommandLine& line);
// Sets the argument of one of kConnectionOptions.
void SetConnectionArgument(ConnectionArguments& args, const std::string& option, const std::string& value);

// The problem with the connection options, empty when there is none.
std::string CheckConnectionArguments(const ConnectionArguments& args);

// Warns on standard error, as COMMAND, of a password given as a value on the command line.
void WarnOfVisiblePassword(const char* command, const ConnectionArguments& args);

// The settings to connect with. Throws (std::runtime_error) when the password file cannot be read, or
// when stored settings are there but cannot be read: connecting with empty values would hide why.
app::ConnectionSettings ConnectionSettingsOf(const ConnectionArguments& args);

// Connects the session; throws (data::DbError, std::runtime_error) when it cannot.
void Connect(const ConnectionArguments& args, data::Session& session);

}  // namespace tools
