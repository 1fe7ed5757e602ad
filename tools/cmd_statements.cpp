// card-photo statements: every statement the tool can send to a server, exactly as sent, for a database
// administrator to review or to try in their own tools before the first real run.
#include <cstring>
#include <string>

#include "data/StatementCatalog.h"
#include "tools/CommandLine.h"
#include "tools/Commands.h"
#include "tools/ConsoleText.h"

namespace {

const std::string kUsage =
    "  statements [--dialect sqlserver|postgres|sqlite]\n"
    "      Prints every statement card-photo and the import window can send to a database server of that\n"
    "      kind (default sqlserver), each after a comment line saying when it is sent. The lines are\n"
    "      those sent (each ends in CR LF on the wire); '?' stands for a value bound to it. No database is\n"
    "      reached.";

int Usage(const std::string& problem) {
  tools::Fprintf(stderr, "card-photo statements: %s\nusage:\n%s\n", problem.c_str(), kUsage.c_str());
  return 2;
}

int StatementsMain(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
    if (!std::strcmp(argv[i], "--help")) {
      tools::Printf("usage:\n%s\n", kUsage.c_str());
      return 0;
    }
  tools::CommandLine line;
  if (std::string problem = tools::ReadCommandLine(argc, argv, {}, {"--dialect"}, line); !problem.empty())
    return Usage(problem);
  if (!line.positionals.empty()) return Usage("unexpected argument " + line.positionals[0]);
  const std::string dialectName = line.Value("--dialect") ? *line.Value("--dialect") : "sqlserver";
  data::SqlDialect dialect = data::SqlDialect::SqlServer;
  if (dialectName == "postgres") {
    dialect = data::SqlDialect::Postgres;
  } else if (dialectName == "sqlite") {
    dialect = data::SqlDialect::Sqlite;
  } else if (dialectName != "sqlserver") {
    return Usage("unknown dialect " + dialectName + " (sqlserver, postgres or sqlite)");
  }
  bool first = true;
  for (const data::CatalogEntry& entry : data::EveryStatement(dialect)) {
    tools::Printf("%s-- %s\n", first ? "" : "\n", entry.when.c_str());
    for (const std::string& text : entry.lines) tools::Printf("%s\n", text.c_str());
    first = false;
  }
  return 0;
}

[[maybe_unused]] const bool registered = tools::RegisterCommand("statements", kUsage, StatementsMain);

}  // namespace
