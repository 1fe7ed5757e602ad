// card-photo import: the import run without the window, for scripts. Asks no questions.
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "app/FilePath.h"
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
    "         [--dsn NAME [--user USER] [--password -|--password-file FILE]] [--timeout SECONDS]\n"
    "      Stores the photos of DIR into the readers' pe_photo, as the window's start button does.\n"
    "      --by        identifier the file names carry: card number (default), identity-card number,\n"
    "                  campus-card number or reader name\n"
    "      --rule      exact: the name is the identifier (default); segment:N: the identifier is the\n"
    "                  N-th \"_\"-separated part (1-5); prefix:N: the identifier is the first N bytes of\n"
    "                  the name, a Chinese character counting 2 (1-32)\n"
    "      --replace   also replace photos already stored (default: such readers are skipped)\n"
    "      --category  required with --by name: all, or a category number (pe_dzlx)\n"
    "      --department  with a category number: only readers of this department, as stored\n"
    "      --dsn       ODBC data source (user default sa, password default empty); without --dsn the\n"
    "                  stored connection settings are used (data source LibODBC, user sa, empty\n"
    "                  password when none are stored)\n"
    "      --password -  reads the password from standard input; --password-file FILE from the first\n"
    "                  line of FILE. (--password PASSWORD works too, but every user of the machine can\n"
    "                  read it in the process list: a warning says so.)\n"
    "      --timeout   seconds to wait for the server to accept the login and to finish each\n"
    "                  statement, a row locked by another program included (default 15 for the login,\n"
    "                  30 for a statement)\n"
    "      Prints a progress line per reader on standard output and, as its last line,\n"
    "      selected=N stored=N failed=N nofile=N; each failed file on standard error with its reason.\n"
    "      Ctrl-C cancels a statement that is waiting for the server and stops after the current\n"
    "      reader; a second Ctrl-C stops at once (a photo is stored whole or not at all).\n"
    "      Exit 0 when nothing failed, 1 when some photos failed, 2 when the run could not start\n"
    "      (reason on standard error), 3 when the connection to the database server was lost and\n"
    "      could not be made again (the run stopped; the message names the last reader handled;\n"
    "      the readers after it are not counted), 130 when interrupted with Ctrl-C.";

constexpr int kExitDatabaseLost = 3;
constexpr int kExitInterrupted = 130;

// Set by the signal handler, which may run on any thread (the store worker's too).
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void Say(const char* text) { (void)!write(STDERR_FILENO, text, std::strlen(text)); }

// The first Ctrl-C asks the run to stop (and to cancel a store that waits); the second ends the
// process at once: the store in flight is one autocommitted statement, which the server then rolls back
// or has finished.
void OnInterrupt(int) {
  if (!gInterrupted.exchange(true)) {
    Say("\ncard-photo import: interrupted, stopping after the current reader (Ctrl-C again stops at once)\n");
    return;
  }
  Say("\ncard-photo import: interrupted again, stopped at once\n");
  _exit(kExitInterrupted);
}

struct Arguments {
  ImportOptions options;
  bool haveCategory = false;
  std::optional<std::string> dsn, user, password, passwordFile;
  std::optional<data::Timeouts> timeouts;
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

const std::set<std::string> kValueOptions = {"--folder", "--by",       "--rule",          "--category",
                                              "--department", "--dsn", "--user", "--password",
                                              "--password-file", "--timeout"};

bool ParseTimeout(const std::string& text, std::optional<data::Timeouts>& timeouts) {
  int seconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size() || seconds < 1 || seconds > 86400) return false;
  timeouts = data::Timeouts{seconds, seconds};
  return true;
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
    if (option == "--" && i + 1 == argc) break;
    if (option == "--" || option.size() < 2 || option[0] != '-')
      return "unexpected argument " + std::string(option == "--" ? argv[i + 1] : option);
    if (!kValueOptions.contains(option)) return "unknown option " + option;
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
    } else if (option == "--password-file") {
      args.passwordFile = value;
    } else if (option == "--timeout") {
      if (!ParseTimeout(value, args.timeouts)) return "bad --timeout " + value + " (whole seconds, 1 or more)";
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
  if (!args.dsn && (args.user || args.password || args.passwordFile))
    return "--user, --password and --password-file need --dsn";
  if (args.password && args.passwordFile) return "--password and --password-file exclude each other";
  return {};
}

// The first line, without its line end.
std::string FirstLine(std::istream& in) {
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string PasswordOf(const Arguments& args) {
  if (args.passwordFile) {
    std::ifstream file(app::PathFromUtf8(*args.passwordFile));
    if (!file) throw std::runtime_error("cannot read the password file " + *args.passwordFile);
    return FirstLine(file);
  }
  const std::string password = args.password.value_or("");
  return password == "-" ? FirstLine(std::cin) : password;
}

app::ConnectionSettings ConnectionOf(const Arguments& args) {
  if (args.dsn) return {*args.dsn, args.user.value_or("sa"), PasswordOf(args)};
  auto hive = app::OpenMachineHive();
  app::SettingsStore store(*hive);
  const std::optional<app::ConnectionSettings> stored = store.Read();
  // Settings that are there but cannot be read would connect with empty values: say why instead.
  if (!store.problem().empty()) throw std::runtime_error(store.problem());
  return stored.value_or(app::ConnectionSettings{"LibODBC", "sa", ""});
}

// Progress on a terminal as one line rewritten in place; otherwise a plain line per reader, passed on at
// once (a script may follow it). Failure lines go to standard error.
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
      std::fflush(stdout);
    }
  }
  void LogLine(const std::string& line) override {
    EndLine();
    tools::Fprintf(stderr, "%s\n", line.c_str());
  }
  // After Ctrl-C a store that waits for the server is cancelled, and the run stops after the current reader.
  bool ShouldCancelStore() override { return gInterrupted; }
  bool ShouldStop() override { return gInterrupted; }

  void EndLine() {
    if (lineOpen_) tools::Printf("\n");
    std::fflush(stdout);
    lineOpen_ = false;
  }

 private:
  bool terminal_;
  bool lineOpen_ = false;
  std::string finished_;  // the reader whose progress comes next
};

// A run that did nothing because of how it was asked: a restriction that selects nobody, or a naming rule
// under which no selected reader has a file. Empty when the run did something (or could have).
std::string EmptyRunNote(const ImportOptions& options, const ImportResult& result) {
  if (result.outcome != RunOutcome::Completed) return {};
  if (result.selected == 0 && options.categoryChoice == CategoryChoice::One) {
    std::string what = "category " + std::to_string(options.category);
    if (options.department) what += " with department '" + *options.department + "'";
    return what + " selects no reader" + (options.skipReadersWithPhoto ? " without a photo (see --replace)" : "");
  }
  if (result.selected > 0 && result.noFile == result.selected)
    return "none of the " + std::to_string(result.selected) +
           " selected readers has a photo file in the folder under this identifier (--by) and naming rule (--rule)";
  return {};
}

int ExitCodeOf(const ImportResult& result) {
  if (result.outcome == RunOutcome::DatabaseLost) return kExitDatabaseLost;
  if (result.outcome == RunOutcome::Stopped) return kExitInterrupted;
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

  if (args.password && *args.password != "-")
    std::fprintf(stderr, "card-photo import: warning: a password given on the command line can be read by every user "
                         "of this machine in the process list; use --password - or --password-file FILE\n");

  data::Session session;
  if (args.timeouts) session.SetTimeouts(*args.timeouts);
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
  if (result.outcome == RunOutcome::DatabaseLost)
    tools::Fprintf(stderr, "card-photo import: %s\n", photoimport::DatabaseLostMessage(result).c_str());
  tools::Printf("selected=%d stored=%d failed=%d nofile=%d\n", result.selected, result.stored, result.failed,
              result.noFile);
  if (const std::string note = EmptyRunNote(args.options, result); !note.empty())
    tools::Fprintf(stderr, "card-photo import: %s\n", note.c_str());
  return ExitCodeOf(result);
}

[[maybe_unused]] const bool registered = tools::RegisterCommand("import", kUsage, ImportMain);

}  // namespace
