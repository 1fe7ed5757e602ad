#include "tools/ConnectionOptions.h"

#include <fstream>
#include <iostream>
#include <stdexcept>

#include "app/FilePath.h"
#include "tools/ConsoleText.h"

namespace tools {
namespace {

// The first line, without its line end.
std::string FirstLine(std::istream& in) {
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string PasswordOf(const ConnectionArguments& args) {
  if (args.passwordFile) {
    std::ifstream file(app::PathFromUtf8(*args.passwordFile));
    if (!file) throw std::runtime_error("cannot read the password file " + *args.passwordFile);
    return FirstLine(file);
  }
  const std::string password = args.password.value_or("");
  return password == "-" ? FirstLine(std::cin) : password;
}

}  // namespace

ConnectionArguments ConnectionArgumentsOf(const CommandLine& line) {
  ConnectionArguments args;
  for (const std::string& option : kConnectionOptions)
    if (const std::string* value = line.Value(option)) SetConnectionArgument(args, option, *value);
  return args;
}

void SetConnectionArgument(ConnectionArguments& args, const std::string& option, const std::string& value) {
  if (option == "--dsn") args.dsn = value;
  else if (option == "--user") args.user = value;
  else if (option == "--password") args.password = value;
  else if (option == "--password-file") args.passwordFile = value;
}

std::string CheckConnectionArguments(const ConnectionArguments& args) {
  if (!args.dsn && (args.user || args.password || args.passwordFile))
    return "--user, --password and --password-file need --dsn";
  if (args.password && args.passwordFile) return "--password and --password-file exclude each other";
  return {};
}

void WarnOfVisiblePassword(const char* command, const ConnectionArguments& args) {
  if (args.password && *args.password != "-")
    Fprintf(stderr, "card-photo %s: warning: a password given on the command line can be read by every user of this "
                    "machine in the process list; use --password - or --password-file FILE\n",
            command);
}

app::ConnectionSettings ConnectionSettingsOf(const ConnectionArguments& args) {
  if (args.dsn) return {*args.dsn, args.user.value_or("sa"), PasswordOf(args)};
  auto hive = app::OpenMachineHive();
  app::SettingsStore store(*hive);
  const std::optional<app::ConnectionSettings> stored = store.Read();
  if (!store.problem().empty()) throw std::runtime_error(store.problem());
  return stored.value_or(app::ConnectionSettings{"LibODBC", "sa", ""});
}

void Connect(const ConnectionArguments& args, data::Session& session) {
  const app::ConnectionSettings settings = ConnectionSettingsOf(args);
  session.Connect(settings.odbcName, settings.userName, settings.password);
}

}  // namespace tools
