// card-photo import: the import run without the window, for scripts. Asks no questions.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "app/SettingsStore.h"
#include "data/Session.h"
#include "import/ImportRun.h"
#include "import/ReaderLists.h"
#include "tools/Commands.h"
#include "tools/ConsoleText.h"
#include "tools/NamingRuleOption.h"

namespace {

using photoimport::CategoryChoice;
using photoimport::IdentifierColumn;
using photoimport::ImportOptions;
using photoimport::ImportResult;
using photoimport::RunOutcome;

constexpr const char* kUsage =
    "  import --folder DIR [--by card|idcard|campus|name] [--rule exact|segment:N|prefix:N]\n"
    "         [--replace] [--category all|ID] [--department NAME]\n"
    "         [--dsn NAME [--user USER] [--password PASSWORD|-]]\n"
    "      Stores the photos of DIR into the readers' pe_photo, as the window's start button does.\n"
    "      --by        identifier the file names carry: card number (default), identity-card number,\n"
    "                  campus-card number or reader name\n"
    "      --rule      exact: the name is the identifier (default); segment:N: the identifier is the\n"
    "                  N-th \"_\"-separated part (1-5); prefix:N: the identifier is the first N bytes of\n"
    "                  the name, a Chinese character counting 2 (1-32)\n"
    "      --replace   also replace photos already stored (default: such readers are skipped)\n"
    "      --category  required with --by name: all, or a category number (pe_dzlx)\n"
    "      --department  with a category number: only readers of this department, as stored\n"
    "      --dsn       ODBC data source (user default sa, password default empty; --password -\n"
    "                  reads it from standard input); without --dsn the stored connection settings\n"
    "                  are used (data source LibODBC, user sa, empty password when none are stored)\n"
    "      Prints each failed file and, as its last line, selected=N stored=N failed=N nofile=N.\n"
    "      Exit 0 when nothing failed, 1 when some photos failed, 2 when the run could not start\n"
    "      (reason on standard error), 130 when interrupted (the run stops after the current reader).";

// Set by the signal handler, which may run on any thread (the store worker's too).
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnInterrupt(int) { gInterrupted = true; }

struct Arguments {
  ImportOptions options;
  bool haveCategory = false;
  std::optional<std::string> dsn, user, password;
};

int Usage(const std::string& problem) {
  tools::Fprintf(stderr, "card-photo import: %s\nusage:\n%s\n", problem.c_str(), kUsage);
  return 2;
}

bool ParseIdentifier(const std::string& text, IdentifierColumn& column) {
  if (text == "card") column = IdentifierColumn::CardNumber;
  else if (text == "idcard") column = IdentifierColumn::IdentityCard;
  else if (text == "campus") column = IdentifierColumn::CampusCard;
  else if (text == "name") column = IdentifierColumn::Name;
  else return false;
  return true;
}

bool ParseCategory(const std::string& text, ImportOptions& options) {
  if (text == "all") {
    options.categoryChoice = CategoryChoice::All;
    return true;
  }
  try {
    options.category = photoimport::ParseCategoryNumber(text);
    options.categoryChoice = CategoryChoice::One;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Empty when the arguments are sound, else the problem.
std::string Parse(int argc, char** argv, Arguments& args) {
  bool haveFolder = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--replace") {
      args.options.skipReadersWithPhoto = false;
      continue;
    }
    if (i + 1 >= argc) return "missing value for " + option;
    const std::string value = argv[++i];
    if (option == "--folder") {
      args.options.folder = value;
      haveFolder = true;
    } else if (option == "--by") {
      if (!ParseIdentifier(value, args.options.identifier)) return "bad --by " + value;
    } else if (option == "--rule") {
      if (!tools::ParseNamingRule(value, args.options.rule, args.options.ruleIndex)) return "bad --rule " + value;
    } else if (option == "--category") {
      if (!ParseCategory(value, args.options)) return "bad --category " + value;
      args.haveCategory = true;
    } else if (option == "--department") {
      args.options.department = value;
    } else if (option == "--dsn") {
      args.dsn = value;
    } else if (option == "--user") {
      args.user = value;
    } else if (option == "--password") {
      args.password = value;
    } else {
      return "unknown option " + option;
    }
  }
  const bool byName = args.options.identifier == IdentifierColumn::Name;
  if (!haveFolder) return "--folder is required";
  if (byName && !args.haveCategory) return "--by name requires --category all or --category ID";
  if (!byName && args.haveCategory) return "--category applies to --by name only";
  if (args.options.department && args.options.categoryChoice != CategoryChoice::One)
    return "--department needs --category ID";
  if (!args.dsn && (args.user || args.password)) return "--user and --password need --dsn";
  return {};
}

app::ConnectionSettings ConnectionOf(const Arguments& args) {
  if (args.dsn) {
    std::string password = args.password.value_or("");
    if (password == "-") {
      std::getline(std::cin, password);
      if (!password.empty() && password.back() == '\r') password.pop_back();
    }
    return {*args.dsn, args.user.value_or("sa"), password};
  }
  auto hive = app::OpenMachineHive();
  return app::SettingsStore(*hive).Read().value_or(app::ConnectionSettings{"LibODBC", "sa", ""});
}

// Progress on a terminal as one line rewritten in place; otherwise a plain line per reader.
class ConsoleObserver : public photoimport::ImportObserver {
 public:
  ConsoleObserver() : terminal_(isatty(STDOUT_FILENO) != 0) {}

  void Finished(const photoimport::FinishedReader& reader) override {
    finished_ = reader.cardNumber + " " + reader.name + " " +
                (reader.path.empty() ? std::string("(no photo file)") : reader.path);
  }
  void Progress(int done, int total) override {
    if (done == 0) return;
    const std::string& reader = finished_;
    if (terminal_) {
      tools::Printf("\r\033[K[%d/%d] %d%% %s", done, total, done * 100 / total, reader.c_str());
      std::fflush(stdout);
      lineOpen_ = true;
    } else {
      tools::Printf("[%d/%d] %s\n", done, total, reader.c_str());
    }
  }
  void LogLine(const std::string& line) override {
    EndLine();
    tools::Printf("%s\n", line.c_str());
  }
  bool ShouldStop() override { return gInterrupted; }

  void EndLine() {
    if (lineOpen_) tools::Printf("\n");
    lineOpen_ = false;
  }

 private:
  bool terminal_;
  bool lineOpen_ = false;
  std::string finished_;  // the reader whose progress comes next
};

int ExitCodeOf(const ImportResult& result) {
  if (result.outcome == RunOutcome::Stopped) return 130;
  return result.failed > 0 ? 1 : 0;
}

int ImportMain(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--help")) {
      tools::Printf("usage:\n%s\n", kUsage);
      return 0;
    }
  Arguments args;
  if (const std::string problem = Parse(argc, argv, args); !problem.empty()) return Usage(problem);

  data::Session session;
  try {
    const app::ConnectionSettings connection = ConnectionOf(args);
    session.Connect(connection.odbcName, connection.userName, connection.password);
  } catch (const std::exception& error) {
    tools::Fprintf(stderr, "card-photo import: cannot connect to the database: %s\n", error.what());
    return 2;
  }

  std::signal(SIGINT, OnInterrupt);
  ConsoleObserver observer;
  const ImportResult result = photoimport::RunImport(args.options, session, observer);
  observer.EndLine();
  if (result.outcome == RunOutcome::NotStarted) {
    tools::Fprintf(stderr, "card-photo import: %s\n", photoimport::CheckMessage(result.check, args.options).c_str());
    return 2;
  }
  if (result.outcome == RunOutcome::SelectionFailed) {
    tools::Fprintf(stderr, "card-photo import: the database rejected the selection: %s\n", result.error.c_str());
    return 2;
  }
  tools::Printf("selected=%d stored=%d failed=%d nofile=%d\n", result.selected, result.stored, result.failed,
              result.noFile);
  return ExitCodeOf(result);
}

[[maybe_unused]] const bool registered = tools::RegisterCommand("import", kUsage, ImportMain);

}  // namespace
