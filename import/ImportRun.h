// The import run: selects the readers, finds each reader's photo file, normalizes it and stores it into
// the reader's pe_photo, reporting progress, the current reader, the stored photo and the failures to an
// observer. The window, the command line and the tests all drive this one engine.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "data/Session.h"
#include "import/PhotoLookup.h"
#include "import/SelectionStatement.h"
#include "sources/MappingFile.h"

namespace photoimport {

// Category restriction of a name-matched run.
enum class CategoryChoice { NotChosen, All, One };

struct ImportOptions {
  std::string folder;  // as entered: trimmed and one trailing separator removed by the run
  IdentifierColumn identifier = IdentifierColumn::CardNumber;
  NamingRule rule = NamingRule::Exact;
  int ruleIndex = 0;  // segment: 0..4 for segments 1..5; prefix: 0..31 for lengths 1..32
  bool skipReadersWithPhoto = true;
  // Only when matching by name: the category (NotChosen refuses to start), and within one category
  // optionally one department, compared as stored.
  CategoryChoice categoryChoice = CategoryChoice::NotChosen;
  long long category = 0;
  std::optional<std::string> department;
  // Everything but the store: the run reads each selected reader's current row instead and reports the
  // photos it would store as stored (a store failure the read can tell is predicted as a failure).
  bool dryRun = false;
  // Each reader's file as a mapping file names it, instead of the naming rule (rule and ruleIndex unused).
  std::optional<PhotoMapping> mapping;
  // A run that replaces photos first saves each photo it replaces into a backup folder of its own,
  // made under backupRoot (empty: DefaultBackupRoot()), unless backupReplaced is false.
  bool backupReplaced = true;
  std::string backupRoot;
  // Photos read, decoded and normalized at once, each on a worker thread of its own: 0 for one per core.
  int jobs = 0;
  // Connections that store at once where the server can work on several stores (PostgreSQL, SQL Server;
  // see MoreStoreConnections), the run's session being the first; 0: as many as suit the server.
  int storeConnections = 0;
};

// The checks made before a run, in the order they are made. The window asks for confirmation between
// the folder checks and the category check.
// A folder field naming a ".zip" file stands for the archive's entries (DamagedArchive when it cannot be
// opened or its directory is damaged).
enum class ImportCheck { Ok, EmptyFolder, MissingFolder, DamagedArchive, NoCategory, AlreadyRunning };

// The folder as the run uses it: trimmed, one trailing separator removed.
std::string RunFolder(const std::string& folderField);
// Empty folder field, then a folder that cannot be listed.
ImportCheck CheckFolder(const ImportOptions& options);
// A name-matched run needs a category choice.
ImportCheck CheckCategory(const ImportOptions& options);
// The message shown for a failed check ("请选择相片文件保存路径", ...).
std::string CheckMessage(ImportCheck check, const ImportOptions& options);

// A reader whose handling has ended: its photo stored, failed, or no file found for it; or its store's
// outcome is not known (its answer never came: the connection was lost or the server stopped answering,
// and nothing settled it since), so that the staff must look at the reader.
// Two more kinds of readers are named in a run's result, never handled: NotReached, a selected reader the
// run did not reach (it stopped), and HasPhoto, a reader a run that keeps photos did not select because it
// has one, whose file is in the folder.
enum class ReaderOutcome { Stored, Failed, NoFile, Unknown, NotReached, HasPhoto };

struct FinishedReader {
  std::string path;  // the path shown; empty when no file was found
  std::string cardNumber;
  std::string name;
  std::string identifier;  // as the lookup compared it
  std::string fileName;    // the file's name as on disk; empty when no file was found
  ReaderOutcome outcome = ReaderOutcome::NoFile;
  std::string reason;  // why it failed or has no file, as logged after the path; empty when not known
};

class ImportObserver {
 public:
  virtual ~ImportObserver() = default;
  // Once per selected reader, in reader order, just before its progress: which reader ended and how, and
  // its normalized photo (the stored-photo value as stored, or as a dry run would store it), valid during
  // the call; empty when the reader had none (no file, or a file that could not be used).
  virtual void Finished(const FinishedReader& /*reader*/, std::span<const std::uint8_t> /*photo*/) {}
  // Once per selected reader, when it is finished (its photo stored or failed): done of total readers
  // handled. Photos are stored while the next readers' photos are normalized, so a reader is reported
  // once its store has ended and every reader before it has been reported: often after later readers
  // have been announced and previewed. The count reaches total at the end.
  virtual void Progress(int /*done*/, int /*total*/) {}
  // A reader whose file was found: the path shown, the trimmed card number and name.
  virtual void CurrentReader(const std::string& /*path*/, const std::string& /*cardNumber*/,
                             const std::string& /*name*/) {}
  // The normalized photo (stored photo format) just before it is stored.
  virtual void Preview(std::span<const std::uint8_t> /*photo*/) {}
  // A warning about the photo source (an archive inside a zip archive) before the first reader; then a
  // failure line for the log, in reader order, just before that reader's progress: the path and the
  // reason (kFailureSuffix's words for a picture that could not be decoded), or the path,
  // kStoreFailurePrefix and the reason for a photo that could not be stored.
  virtual void LogLine(const std::string& /*line*/) {}
  // Lets a window repaint; called before each reader, once its file is found, and every
  // kResponsiveInterval while the run waits for a store that takes long (a row locked elsewhere, a slow
  // server), so that a window stays responsive.
  virtual void ProcessEvents() {}
  // Asked after each of those calls while a store takes long: true cancels that store (it changes
  // nothing; the reader fails with 保存已取消). A request to stop answers true here, so that a stop does
  // not wait for a locked row.
  virtual bool ShouldCancelStore() { return false; }
  // Asked before each reader: true ends the run there (the reader before it is finished).
  virtual bool ShouldStop() { return false; }
};

enum class RunOutcome {
  NotStarted,       // a check failed (ImportResult::check)
  SelectionFailed,  // the database rejected the selection (ImportResult::error); nothing stored
  Completed,
  Stopped,          // ended early at the observer's request
  DatabaseLost,     // the connection to the server was lost and could not be made again: the run
                    // stopped at ImportResult::lastReader; the readers after it were not handled
};

struct ImportResult {
  RunOutcome outcome = RunOutcome::NotStarted;
  ImportCheck check = ImportCheck::Ok;
  std::string error;
  int selected = 0;  // readers selected
  int stored = 0;    // photos stored
  int failed = 0;    // files found that could not be normalized or stored
  int noFile = 0;    // readers without a photo file
  int unknown = 0;   // stores whose outcome is not known (ReaderOutcome::Unknown)
  // With DatabaseLost: the last reader handled. That is the reader whose store found the server gone
  // (its outcome unknown), or, where a store on another connection was in flight then, the last such reader (which
  // may have been stored before the server went).
  FinishedReader lastReader;
  // For the run report: every finished reader in reader order, and the folder's picture files.
  std::vector<FinishedReader> readers;
  // The selected readers the run did not reach (a stop, a lost connection), in reader order, each with
  // the file it would have taken: with `readers`, every selected reader.
  std::vector<FinishedReader> notReached;
  // Readers a run that keeps photos did not select because they have one, whose files are in the folder
  // (those files are theirs, not unused).
  std::vector<FinishedReader> skipped;
  std::string folder;
  std::vector<FoundFile> pictures;
  // The run's backup folder and how many photos it holds (none: nothing was replaced, or no backups).
  std::string backupFolder;
  int backedUp = 0;
};

inline constexpr const char* kCompletionMessage = "相片导入已全部完成，请检查！";
inline constexpr const char* kFailureSuffix = " 图片有问题，未能导入！";
inline constexpr const char* kStoreFailurePrefix = " 未能保存：";
inline constexpr std::chrono::milliseconds kResponsiveInterval{100};

// "共选择读者 N 人，导入相片 N 张，失败 N 个，无相片文件 N 人"
std::string SummaryLine(const ImportResult& result);
// The one message of a run that lost its database connection (DatabaseLost): where it stopped, what
// became of that reader and the ones after it, and the driver's text.
std::string DatabaseLostMessage(const ImportResult& result);

// Runs the checks (all of them; the confirmation is the caller's), then the run. Only one run at a time:
// a run started from inside a run (from an observer call) does not start (ImportCheck::AlreadyRunning).
// Never throws for a failure of one reader; a failure of the selection ends the run (SelectionFailed), a
// lost connection that cannot be made again stops it (DatabaseLost). With skipReadersWithPhoto a photo is
// stored only on a reader still without one, otherwise also over a bitmap, never over another format.
ImportResult RunImport(const ImportOptions& options, data::Session& session, ImportObserver& observer);

}  // namespace photoimport
