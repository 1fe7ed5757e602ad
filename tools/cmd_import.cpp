// card-photo import: the import run without the window, for scripts. Asks no questions.
#ifdef _WIN32
#include <io.h>
#endif
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <charconv>
#include <csignal>
#include <filesystem>
#include <memory>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "app/FilePath.h"
#include "data/Session.h"
#include "import/ImportRun.h"
#include "import/ReaderLists.h"
#include "records/ReaderDepartments.h"
#include "records/RunReportRows.h"
#include "records/RunSheet.h"
#include "sources/MappingFile.h"
#include "tools/Commands.h"
#include "tools/ConnectionOptions.h"
#include "tools/ConsoleText.h"
#include "tools/NamingRuleOption.h"

namespace {

using photoimport::CategoryChoice;
using photoimport::IdentifierColumn;
using photoimport::ImportOptions;
using photoimport::ImportResult;
using photoimport::RunOutcome;

const std::string kUsage = std::string(
    "  import --folder DIR [--by card|idcard|campus|name] [--rule exact|segment:N|prefix:N]\n"
    "         [--replace] [--category all|ID] [--department NAME] [--dry-run] [--report FILE]\n"
    "         [--map FILE] [--sheet FILE.html]\n"
    "         [--backup DIR | --no-backup]\n"
    "         ") + tools::kConnectionSynopsis + " [--timeout SECONDS]\n" +
    "         [--jobs N] [--connections N]\n"
    "      Stores the photos of DIR into the readers' pe_photo, as the window's start button does.\n"
    "      DIR may be a .zip archive (any letter case): its entries stand for the folder's files; a\n"
    "      damaged archive refuses the run (exit 2).\n"
    "      --by        identifier the file names carry: card number (default), identity-card number,\n"
    "                  campus-card number or reader name\n"
    "      --rule      exact: the name is the identifier (default); segment:N: the identifier is the\n"
    "                  N-th \"_\"-separated part (1-5); prefix:N: the identifier is the first N bytes of\n"
    "                  the name, a Chinese character counting 2 (1-32)\n"
    "      --map FILE  instead of --rule: each reader's file is the one FILE names for its identifier\n"
    "                  (lines IDENTIFIER,FILENAME or IDENTIFIER<TAB>FILENAME, UTF-8 or GBK; the file name\n"
    "                  relative to --folder, letter case ignored). A line that cannot be meant refuses\n"
    "                  the whole run before anything is stored (exit 2, the line numbers named); an\n"
    "                  identifier listed twice or a file listed for two identifiers fails those readers;\n"
    "                  a listed file that is not there leaves the reader without a photo file\n"
    "      --replace   also replace photos already stored (default: such readers are skipped)\n"
    "      --backup DIR  with --replace: before a photo is replaced, its old value is saved byte for\n"
    "                  byte into a new folder of this run under DIR (default: the backups folder of the\n"
    "                  user's data folder); a photo whose backup cannot be written is not replaced (the\n"
    "                  reader fails). The folder is named on standard error at the end; `card-photo\n"
    "                  restore FOLDER` puts the old photos back (`card-photo export --folder DIR` saves\n"
    "                  every stored photo the same way, before a run or at any time)\n"
    "      --no-backup   with --replace: replace without keeping the old photos\n"
    "      --category  required with --by name: all, or a category number (pe_dzlx)\n"
    "      --department  with a category number: only readers of this department, as stored\n"
    "      --dry-run   does everything but the store: selects, looks up, decodes and normalizes (so\n"
    "                  damaged files show), reads each reader's current photo to predict the store,\n"
    "                  and changes nothing in the database; stored=N counts the photos that would be\n"
    "                  stored; lines and exit statuses as in a real run\n"
    "      --report FILE  writes a CSV report (UTF-8, for a spreadsheet): one row per selected reader\n"
    "                  (card number, name, identifier, file, outcome stored/ready/failed/nofile,\n"
    "                  reason), then one row per picture file of the folder no reader took (unused)\n"
    "      --sheet FILE.html  writes the contact sheet (相片核对表) of the run: each reader's photo as\n"
    "                  stored (or, with --dry-run, as it would be stored) beside the card number, name,\n"
    "                  department, file and outcome; readers without a file listed compactly. One HTML\n"
    "                  file with the pictures inside, for any browser, printable on A4; more than 1000\n"
    "                  readers make linked pages FILE-2.html, FILE-3.html, ...\n" +
    tools::kConnectionUsage +
    "      --timeout   seconds to wait for the server to accept the login and to finish each\n"
    "                  statement, a row locked by another program included (default 15 for the login,\n"
    "                  30 for a statement)\n"
    "      --jobs      photos read, decoded and normalized at once, each on a thread of its own (1-64;\n"
    "                  default one per processor core); they are stored and reported in reader order\n"
    "      --connections  connections that store photos at once (1-8; PostgreSQL and SQL Server only):\n"
    "                  while one store waits for the server, the next reader's photo is stored on\n"
    "                  another connection. Default 2 on PostgreSQL; on SQL Server 2 when lib_people has\n"
    "                  an index on pe_id, else 1 (each store then reads the whole table)\n"
    "      Check first with --dry-run --report FILE, then run the same command without --dry-run.\n"
    "      Prints a progress line per reader on standard output and, as its last line,\n"
    "      selected=N stored=N failed=N nofile=N; each failed file on standard error with its reason.\n"
    "      Ctrl-C cancels a statement that is waiting for the server (a server that does not answer\n"
    "      the cancel within 2 seconds is not waited for) and stops after the current reader; a second\n"
    "      Ctrl-C stops at once (a photo is stored whole or not at all). A server that does not answer\n"
    "      a statement within --timeout and 5 seconds more is given up on as a lost connection. A lost\n"
    "      connection is made again, with growing pauses, for as long as --timeout (30 s by default).\n"
    "      A store whose answer never came and that nothing settled is neither stored nor failed:\n"
    "      unknown=N is added to the last line and the reader is logged with its outcome unknown.\n"
    "      Exit 0 when nothing failed, 1 when some photos failed, 2 when the run could not start\n"
    "      (reason on standard error), 3 when the connection to the database server was lost and\n"
    "      could not be made again (the run stopped; the message names the last reader handled;\n"
    "      the readers after it are not counted), 130 when interrupted with Ctrl-C.";

constexpr int kExitDatabaseLost = 3;
constexpr int kExitInterrupted = 130;

// Set by the signal handler, which may run on any thread (a store lane's too).
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void Say(const char* text) { (void)!write(STDERR_FILENO, text, std::strlen(text)); }

// Written by the signal handler on the second Ctrl-C; read by the thread that ends the process.
int gStopAtOncePipe[2] = {-1, -1};
std::atomic<bool> gCancelSent{false};

// The first Ctrl-C asks the run to stop (and to cancel a store that waits); the second stops at once.
void OnInterrupt(int) {
  if (!gInterrupted.exchange(true)) {
    Say("\ncard-photo import: interrupted, stopping after the current reader (Ctrl-C again stops at once)\n");
    return;
  }
  const char wake = 1;
  (void)!write(gStopAtOncePipe[1], &wake, 1);
}

// The second Ctrl-C cancels the statement in flight before the process ends: a server that is still
// waiting for a locked row would otherwise carry out the store after the program has gone. The store is
// one autocommitted statement, so a cancelled one changes nothing. A cancel that cannot reach the server
// is not waited for beyond a few seconds.
void StopAtOnceOnSecondInterrupt(data::Session& session) {
#ifdef _WIN32
  if (_pipe(gStopAtOncePipe, 16, 0) != 0) return;
#else
  if (pipe(gStopAtOncePipe) != 0) return;
#endif
  std::thread([&session] {
    char wake = 0;
    while (read(gStopAtOncePipe[0], &wake, 1) < 0 && errno == EINTR) {
    }
    std::thread([&session] {
      session.Cancel();
      gCancelSent = true;
    }).detach();
    for (int i = 0; i < 30 && !gCancelSent; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Say("\ncard-photo import: interrupted again, stopped at once\n");
    _exit(kExitInterrupted);
  }).detach();
}

struct Arguments {
  ImportOptions options;
  tools::ConnectionArguments connection;
  std::optional<data::Timeouts> timeouts;
  std::optional<std::string> report;
  std::optional<std::string> sheet;
  std::optional<std::string> mapFile;
};

int Usage(const std::string& problem) {
  tools::Fprintf(stderr, "card-photo import: %s\nusage:\n%s\n", problem.c_str(), kUsage.c_str());
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

bool ParseTimeout(const std::string& text, std::optional<data::Timeouts>& timeouts) {
  int seconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size() || seconds < 1 || seconds > 86400) return false;
  timeouts = data::Timeouts{seconds, seconds};
  return true;
}

// A whole number from 1 to most.
bool ParseCount(const std::string& text, int most, int& count) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  return error == std::errc() && end == text.data() + text.size() && count >= 1 && count <= most;
}

const std::set<std::string> kFlags = {"--replace", "--no-backup", "--dry-run"};

// The options with a value, the connection options (tools::kConnectionOptions) among them.
std::set<std::string> ValueOptions() {
  std::set<std::string> options = {"--folder", "--by",     "--rule",   "--category", "--department", "--timeout",
                                   "--report", "--backup", "--map",    "--jobs",     "--connections", "--sheet"};
  options.insert(tools::kConnectionOptions.begin(), tools::kConnectionOptions.end());
  return options;
}

// Empty when the arguments are sound, else the problem.
std::string Parse(int argc, char** argv, Arguments& args) {
  tools::CommandLine line;
  if (std::string problem = tools::ReadCommandLine(argc, argv, kFlags, ValueOptions(), line); !problem.empty())
    return problem;
  if (!line.positionals.empty()) return "unexpected argument " + line.positionals.front();
  ImportOptions& options = args.options;
  options.skipReadersWithPhoto = !line.Has("--replace");
  options.backupReplaced = !line.Has("--no-backup");
  options.dryRun = line.Has("--dry-run");
  args.connection = tools::ConnectionArgumentsOf(line);
  const auto value = [&](const char* option) { return line.Value(option); };
  if (const std::string* folder = value("--folder")) options.folder = *folder;
  else return "--folder is required";
  if (const std::string* by = value("--by"); by && !ParseIdentifier(*by, options.identifier)) return "bad --by " + *by;
  if (const std::string* rule = value("--rule"); rule && !tools::ParseNamingRule(*rule, options.rule, options.ruleIndex))
    return "bad --rule " + *rule;
  if (const std::string* category = value("--category"); category && !ParseCategory(*category, options))
    return "bad --category " + *category;
  if (const std::string* department = value("--department")) options.department = *department;
  if (const std::string* backup = value("--backup")) options.backupRoot = *backup;
  if (const std::string* map = value("--map")) args.mapFile = *map;
  if (const std::string* report = value("--report")) args.report = *report;
  if (const std::string* sheet = value("--sheet")) args.sheet = *sheet;
  if (const std::string* timeout = value("--timeout"); timeout && !ParseTimeout(*timeout, args.timeouts))
    return "bad --timeout " + *timeout + " (whole seconds, 1 or more)";
  if (const std::string* jobs = value("--jobs"); jobs && !ParseCount(*jobs, 64, options.jobs))
    return "bad --jobs " + *jobs + " (1 to 64)";
  if (const std::string* connections = value("--connections");
      connections && !ParseCount(*connections, 8, options.storeConnections))
    return "bad --connections " + *connections + " (1 to 8)";

  const bool byName = options.identifier == IdentifierColumn::Name;
  if (byName && !line.Has("--category")) return "--by name requires --category all or --category ID";
  if (!byName && line.Has("--category")) return "--category applies to --by name only";
  if (options.department && options.categoryChoice != CategoryChoice::One) return "--department needs --category ID";
  if (std::string problem = tools::CheckConnectionArguments(args.connection); !problem.empty()) return problem;
  if (line.Has("--rule") && args.mapFile) return "--map and --rule exclude each other";
  if (line.Has("--backup") && !options.backupReplaced) return "--backup and --no-backup exclude each other";
  return {};
}

// Progress on a terminal as one line rewritten in place; otherwise a plain line per reader, passed on at
// once (a script may follow it). Failure lines go to standard error.
class ConsoleObserver : public photoimport::ImportObserver {
 public:
  // sheet: the run's contact sheet, when one is asked for.
  explicit ConsoleObserver(photoimport::RunSheet* sheet) : terminal_(isatty(STDOUT_FILENO) != 0), sheet_(sheet) {}

  void Finished(const photoimport::FinishedReader& reader, std::span<const std::uint8_t> photo) override {
    finished_ = reader.cardNumber + " " + reader.name + " " +
                (reader.path.empty() ? std::string("(no photo file)") : reader.path);
    if (sheet_) sheet_->Finished(reader, photo);
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
  photoimport::RunSheet* sheet_;
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

// The run's contact sheet, its pages kept beside FILE until the run ends; each reader's department read
// now, while the session is free. nullptr, with the reason on standard error, when FILE's folder does not
// exist: the run does not start.
std::unique_ptr<photoimport::RunSheet> MakeSheet(const std::string& file, const ImportOptions& options,
                                                 data::Session& session) {
  const std::filesystem::path target = std::filesystem::absolute(app::PathFromUtf8(file));
  std::error_code error;
  if (!std::filesystem::is_directory(target.parent_path(), error)) {
    tools::Fprintf(stderr, "card-photo import: the folder of the contact sheet %s does not exist; nothing was stored\n",
                   file.c_str());
    return nullptr;
  }
  photoimport::ReaderDepartments departments;
  try {
    departments = photoimport::ReaderDepartments::Read(session, options);
  } catch (const std::exception& failure) {
    tools::Fprintf(stderr, "card-photo import: the contact sheet shows no departments: %s\n", failure.what());
  }
  return std::make_unique<photoimport::RunSheet>(photoimport::SheetWorkFolderBeside(target), options,
                                                 std::move(departments));
}

int ExitCodeOf(const ImportResult& result) {
  if (result.outcome == RunOutcome::DatabaseLost) return kExitDatabaseLost;
  if (result.outcome == RunOutcome::Stopped) return kExitInterrupted;
  return result.failed > 0 || result.unknown > 0 ? 1 : 0;
}

int ImportMain(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--help")) {
      tools::Printf("usage:\n%s\n", kUsage.c_str());
      return 0;
    }
  Arguments args;
  if (const std::string problem = Parse(argc, argv, args); !problem.empty()) return Usage(problem);
  if (args.mapFile) {
    photoimport::MappingParse parsed = photoimport::ReadMappingFile(*args.mapFile);
    if (!parsed.mapping) {
      tools::Fprintf(stderr, "card-photo import: the mapping file %s is refused, nothing was stored:\n%s\n",
                   args.mapFile->c_str(), parsed.refusal.c_str());
      return 2;
    }
    args.options.mapping = std::move(parsed.mapping);
  }

  tools::WarnOfVisiblePassword("import", args.connection);
  if (args.report) {
    if (const std::string problem = photoimport::CheckReportPath(app::PathFromUtf8(*args.report)); !problem.empty()) {
      tools::Fprintf(stderr, "card-photo import: the report %s cannot be written, nothing was stored: %s\n",
                     args.report->c_str(), problem.c_str());
      return 2;
    }
  }

  data::Session session;
  if (args.timeouts) session.SetTimeouts(*args.timeouts);
  try {
    tools::Connect(args.connection, session);
  } catch (const std::exception& error) {
    tools::Fprintf(stderr, "card-photo import: cannot connect to the database: %s\n", error.what());
    return 2;
  }

  std::unique_ptr<photoimport::RunSheet> sheet;
  if (args.sheet) {
    sheet = MakeSheet(*args.sheet, args.options, session);
    if (!sheet) return 2;
  }

  StopAtOnceOnSecondInterrupt(session);
  std::signal(SIGINT, OnInterrupt);
  ConsoleObserver observer(sheet.get());
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
  tools::Printf("selected=%d stored=%d failed=%d nofile=%d%s\n", result.selected, result.stored, result.failed,
                result.noFile, result.unknown > 0 ? (" unknown=" + std::to_string(result.unknown)).c_str() : "");
  if (const std::string note = EmptyRunNote(args.options, result); !note.empty())
    tools::Fprintf(stderr, "card-photo import: %s\n", note.c_str());
  if (result.backedUp > 0)
    tools::Fprintf(stderr, "card-photo import: the %d replaced photos are backed up in %s\n", result.backedUp,
                 result.backupFolder.c_str());
  if (args.report) {
    const std::string problem =
        photoimport::WriteRunReport(*args.report, photoimport::RunReportRows(result, args.options.dryRun));
    if (!problem.empty()) {
      tools::Fprintf(stderr, "card-photo import: cannot write the report %s: %s\n", args.report->c_str(), problem.c_str());
      return 2;
    }
  }
  if (sheet) {
    sheet->End(result);
    if (const std::string problem = sheet->Publish(app::PathFromUtf8(*args.sheet)); !problem.empty()) {
      tools::Fprintf(stderr, "card-photo import: cannot write the contact sheet %s: %s\n", args.sheet->c_str(),
                     problem.c_str());
      return 2;
    }
    tools::Fprintf(stderr, "card-photo import: the contact sheet is written: %s (%d %s)\n", args.sheet->c_str(),
                   sheet->pages(), sheet->pages() == 1 ? "page" : "pages");
  }
  return ExitCodeOf(result);
}

[[maybe_unused]] const bool registered = tools::RegisterCommand("import", kUsage, ImportMain);

}  // namespace
