// The connection options of the commands that use the database: --dsn NAME [--user USER] [--password
// PASSWORD|-], or, without --dsn, the connection settings stored for the library system.
#pragma once

#include <iostream>
#include <set>
#include <string>

#include "app/SettingsStore.h"
#include "data/Session.h"
#include "tools/CommandLine.h"

namespace tools {

inline const std::set<std::string> kConnectionOptions = {"--dsn", "--user", "--password"};

inline constexpr const char* kConnectionUsage =
    "      --dsn       ODBC data source (user default sa, password default empty; --password -\n"
    "                  reads it from standard input); without --dsn the stored connection settings\n"
    "                  are used (data source LibODBC, user sa, empty password when none are stored)\n";

// The problem with the connection options, empty when there is none.
inline std::string CheckConnectionOptions(const CommandLine& line) {
  if (!line.Has("--dsn") && (line.Has("--user") || line.Has("--password"))) return "--user and --password need --dsn";
  return {};
}

inline app::ConnectionSettings ConnectionSettingsOf(const CommandLine& line) {
  if (const std::string* dsn = line.Value("--dsn")) {
    const std::string* user = line.Value("--user");
    std::string password = line.Value("--password") ? *line.Value("--password") : "";
    if (password == "-") {
      std::getline(std::cin, password);
      if (!password.empty() && password.back() == '\r') password.pop_back();
    }
    return {*dsn, user ? *user : "sa", password};
  }
  auto hive = app::OpenMachineHive();
  return app::SettingsStore(*hive).Read().value_or(app::ConnectionSettings{"LibODBC", "sa", ""});
}

// Connects the session; throws (data::DbError, app::SettingsError) when it cannot.
inline void Connect(const CommandLine& line, data::Session& session) {
  const app::ConnectionSettings settings = ConnectionSettingsOf(line);
  session.Connect(settings.odbcName, settings.userName, settings.password);
}

}  // namespace tools
