#include "import/ImportRun.h"

#include <chrono>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "app/Text.h"
#include "imaging/PhotoStream.h"
#include "records/BackupStore.h"
#include "import/FailureReasons.h"
#include "import/OrderedStores.h"
#include "import/PhotoStoreWorker.h"
#include "sources/PhotoSource.h"
#include "import/PhotosAhead.h"
#include "import/ReaderPlan.h"
#include "import/StoreReason.h"
#include "sources/ZipArchive.h"

namespace photoimport {
namespace {

// One run at a time in the process: the window pumps events during a run, so a second start could
// otherwise arrive from inside the first.
bool gRunActive = false;

class RunGuard {
 public:
  RunGuard() { gRunActive = true; }
  ~RunGuard() { gRunActive = false; }
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;
};

SelectionOptions SelectionOf(const ImportOptions& options) {
  SelectionOptions selection;
  selection.identifier = options.identifier;
  selection.skipReadersWithPhoto = options.skipReadersWithPhoto;
  if (options.identifier == IdentifierColumn::Name && options.categoryChoice == CategoryChoice::One) {
    selection.category = options.category;
    selection.department = options.department;
  }
  return selection;
}

// All selected rows are read before the first photo is stored, so the cursor never sees the run's own
// updates and the total is known for the progress.
std::vector<ReaderRow> SelectReaders(data::Session& session, const ImportOptions& options) {
  const Statement selection = BuildSelection(SelectionOf(options));
  auto query = session.Open(selection.lines, selection.params);
  std::vector<ReaderRow> rows;
  for (; !query->Eof(); query->Next()) {
    rows.push_back(ReaderRow{app::Trim(query->Text("pe_id")), app::Trim(query->Text("pe_name")),
                             FoldName(app::Trim(query->Text("sNo")))});
  }
  query->Close();
  return rows;
}

// A connection lost since the last run (a server restarted meanwhile) is made again, once.
std::vector<ReaderRow> SelectReadersReconnecting(data::Session& session, const ImportOptions& options) {
  try {
    return SelectReaders(session, options);
  } catch (const data::DbError& error) {
    if (error.failure() != data::DbFailure::ConnectionLost) throw;
  }
  session.Reconnect();
  return SelectReaders(session, options);
}

// Reads the planned reader's file from the source, decodes and normalizes it, whole on the calling thread,
// which is one of the run's workers (several at once: the sources read safely from several threads).
NormalizedPhoto NormalizeReaderPhoto(PhotoSource& source, const PlannedReader& plan) {
  NormalizedPhoto photo;
  std::vector<std::uint8_t> bytes;
  photo.failure = source.Read(plan.file.name, bytes, photo.reason);
  if (photo.failure == imaging::PhotoFailure::None)
    photo.failure = imaging::MakePhotoStreamFromBytes(plan.file.name, std::move(bytes), photo.stream,
                                                      imaging::PhotoThreads::CallingThread);
  return photo;
}

// Each reader's photo is stored on a store worker while the photos of the readers after it are read,
// decoded and normalized on the workers (PhotosAhead): the database server's work on the value overlaps
// the decoding, and the decoding of several photos overlaps on several cores. With more than one store
// connection (OrderedStores) the next reader's store starts while the one before still runs. The observer
// is still called on this thread only, and each kind of call in reader order. A reader's outcome (its log
// line, its count, its progress) is reported once its store has finished and every reader before it has
// been reported: after a later reader has been announced and its photo previewed, or at the end of the
// run. Once a store has found the connection lost for good, no further store starts and no reader without
// a store is reported; the stores already in flight are finished and reported.
class Run {
 public:
  Run(data::Session& session, std::vector<std::unique_ptr<data::Session>> moreConnections, data::PhotoGuard guard,
      const StoreAction& store, ImportObserver& observer, PhotoSource& source, const std::vector<PlannedReader>& plan,
      int jobs, ImportResult& result)
      : guard_(guard),
        observer_(observer),
        source_(source),
        result_(result),
        stores_(session, store, std::move(moreConnections)),
        photos_(plan, [&source](const PlannedReader& reader) { return NormalizeReaderPhoto(source, reader); }, jobs) {}

  void Reader(const ReaderRow& row, const PlannedReader& plan) {
    FinishedReader reader{{}, row.cardNumber, row.name, row.identifier, {}, ReaderOutcome::NoFile, {}};
    reader.reason = plan.choice == FileChoice::NoIdentifier ? std::string(kNoIdentifierReason) : plan.reason;
    if (plan.choice == FileChoice::NoIdentifier || plan.choice == FileChoice::NoFile) return Finish(reader);
    if (plan.choice == FileChoice::Refused) return Fail(reader, plan.reason);
    reader.path = JoinPath(source_.Listing().folder(), plan.file.shown);
    reader.fileName = plan.file.name;
    if (plan.choice == FileChoice::Shared) return Fail(reader, kSharedFileReason);
    observer_.CurrentReader(reader.path, row.cardNumber, row.name);
    observer_.ProcessEvents();
    NormalizedPhoto photo = photos_.Next();
    if (photo.failure != imaging::PhotoFailure::None)
      return Fail(reader, photo.reason.empty() ? PhotoFailureReason(photo.failure) : photo.reason);
    observer_.Preview(photo.stream.bytes);  // shown at once, while the readers before may still be stored
    while (!stores_.CanStart(reader.cardNumber)) FinishStore();
    if (!connectionLost_) StartStore(std::move(reader), photo.stream);
  }

  // After the last reader, a stop or a lost connection: the workers start no further photo (the photos
  // normalized ahead are dropped unreported) and the stores in flight are finished and reported.
  void End() {
    photos_.Stop();
    FinishAllStores();
  }

  void FinishAllStores() {
    while (!storing_.empty()) FinishStore();
  }

  // Waits for the oldest store in flight, if any, and reports its reader.
  void FinishStore() {
    if (storing_.empty()) return;
    FinishedReader reader = std::move(storing_.front());
    storing_.pop_front();
    const data::StoreResult stored = WaitForStore();
    reader.outcome = stored.outcome == data::StoreOutcome::Stored ? ReaderOutcome::Stored : ReaderOutcome::Failed;
    reader.reason = StoreFailureReason(stored);
    if (stored.outcome == data::StoreOutcome::ConnectionLost && !connectionLost_) {
      connectionLost_ = true;
      result_.error = stored.driverText;
    }
    ReportDone(reader, kStoreFailurePrefix);
  }

  bool ConnectionLost() const { return connectionLost_; }

 private:
  // A reader that ends without a store: after the stores in flight, whose readers came first.
  void Finish(const FinishedReader& reader) {
    FinishAllStores();
    if (!connectionLost_) ReportDone(reader);
  }

  void Fail(FinishedReader& reader, const std::string& reason) {
    reader.outcome = ReaderOutcome::Failed;
    reader.reason = reason;
    Finish(reader);
  }

  void StartStore(FinishedReader reader, imaging::MemoryStream& photo) {
    stores_.Start(reader.cardNumber, photo, guard_);
    storing_.push_back(std::move(reader));
  }

  // The oldest store's result. A cancel (the window's exit, Ctrl-C) ends every store in flight.
  data::StoreResult WaitForStore() {
    for (;;) {
      if (auto stored = stores_.WaitForOldest(kResponsiveInterval)) return *stored;
      observer_.ProcessEvents();
      if (observer_.ShouldCancelStore()) stores_.CancelAll();
    }
  }

  // Counts the reader, logs a failure (its path, then the reason after reasonPrefix), and reports the
  // reader's end and the progress.
  void ReportDone(const FinishedReader& reader, const char* reasonPrefix = " ") {
    switch (reader.outcome) {
      case ReaderOutcome::Stored: ++result_.stored; break;
      case ReaderOutcome::NoFile: ++result_.noFile; break;
      case ReaderOutcome::Failed:
        ++result_.failed;
        observer_.LogLine(reader.reason.empty() ? reader.path + kFailureSuffix
                                                : reader.path + reasonPrefix + reader.reason);
        break;
    }
    observer_.Finished(reader);
    result_.readers.push_back(reader);
    if (connectionLost_) result_.lastReader = reader;  // so far the last reader handled
    observer_.Progress(++done_, result_.selected);
  }

  const data::PhotoGuard guard_;
  ImportObserver& observer_;
  PhotoSource& source_;
  ImportResult& result_;
  int done_ = 0;
  bool connectionLost_ = false;
  std::deque<FinishedReader> storing_;  // the readers whose photos are being stored, oldest first
  OrderedStores stores_;               // the only user of the sessions while the run lasts
  PhotosAhead photos_;                    // last: its workers end first
};

// What the run does with each photo: in a dry run only the read that predicts the store; a run that
// replaces photos backs each one up first (into `backup`); otherwise the guarded store.
StoreAction StoreActionFor(const ImportOptions& options, std::optional<PhotoBackup>& backup) {
  if (options.dryRun) return PredictReconnecting;
  if (options.skipReadersWithPhoto || !options.backupReplaced) return StoreReconnecting;
  const std::filesystem::path root = options.backupRoot.empty() ? DefaultBackupRoot() : std::filesystem::path(options.backupRoot);
  backup.emplace(PhotoBackup::ForRun(root, std::chrono::system_clock::now()));
  return BackupStore(*backup);
}

ImportResult NotStarted(ImportCheck check) {
  ImportResult result;
  result.check = check;
  return result;
}

}  // namespace

std::string RunFolder(const std::string& folderField) { return StripTrailingSeparator(app::Trim(folderField)); }

ImportCheck CheckFolder(const ImportOptions& options) {
  if (app::Trim(options.folder).empty()) return ImportCheck::EmptyFolder;
  if (IsZipArchivePath(RunFolder(options.folder))) {
    std::string problem;
    return ZipArchive::Open(RunFolder(options.folder), problem) ? ImportCheck::Ok : ImportCheck::DamagedArchive;
  }
  if (!CanListFolder(RunFolder(options.folder))) return ImportCheck::MissingFolder;
  return ImportCheck::Ok;
}

ImportCheck CheckCategory(const ImportOptions& options) {
  const bool needsCategory = options.identifier == IdentifierColumn::Name;
  return needsCategory && options.categoryChoice == CategoryChoice::NotChosen ? ImportCheck::NoCategory
                                                                                : ImportCheck::Ok;
}

std::string CheckMessage(ImportCheck check, const ImportOptions& options) {
  switch (check) {
    case ImportCheck::EmptyFolder: return "请选择相片文件保存路径";
    case ImportCheck::MissingFolder: return "相片文件目录不存在或无法读取，请重新选择：" + RunFolder(options.folder);
    case ImportCheck::DamagedArchive:
      return "相片压缩文件不存在、无法读取或已损坏，请重新选择：" + RunFolder(options.folder);
    case ImportCheck::NoCategory: return "请选择要处理的读者类型";
    case ImportCheck::AlreadyRunning: return "相片导入正在进行中，请等它结束后再开始。";
    case ImportCheck::Ok: break;
  }
  return {};
}

std::string SummaryLine(const ImportResult& result) {
  return "共选择读者 " + std::to_string(result.selected) + " 人，导入相片 " + std::to_string(result.stored) +
         " 张，失败 " + std::to_string(result.failed) + " 个，无相片文件 " + std::to_string(result.noFile) + " 人";
}

std::string DatabaseLostMessage(const ImportResult& result) {
  const FinishedReader& reader = result.lastReader;
  return "与数据库服务器的连接已断开，重新连接也未成功，导入已停止。最后处理的读者：证号 " + reader.cardNumber +
         "，姓名 " + reader.name + "，文件 " + reader.path +
         (reader.outcome == ReaderOutcome::Stored ? "，其相片已保存" : "，其相片未能保存") + "；之后的读者都未处理。" +
         "请在数据库服务器恢复后重新导入。数据库的提示：" + result.error;
}

ImportResult RunImport(const ImportOptions& options, data::Session& session, ImportObserver& observer) {
  if (gRunActive) return NotStarted(ImportCheck::AlreadyRunning);
  for (const ImportCheck check : {CheckFolder(options), CheckCategory(options)})
    if (check != ImportCheck::Ok) return NotStarted(check);
  RunGuard guard;

  std::string problem;
  const std::unique_ptr<PhotoSource> source = OpenPhotoSource(RunFolder(options.folder), problem);
  if (!source) return NotStarted(ImportCheck::DamagedArchive);
  const PhotoFolder& folder = source->Listing();
  if (!folder.Listed()) return NotStarted(ImportCheck::MissingFolder);

  ImportResult result;
  std::vector<ReaderRow> rows;
  try {
    rows = SelectReadersReconnecting(session, options);
  } catch (const std::exception& error) {
    result.outcome = RunOutcome::SelectionFailed;
    result.error = error.what();
    return result;
  }
  result.selected = static_cast<int>(rows.size());
  result.outcome = RunOutcome::Completed;
  observer.Progress(0, result.selected);

  const std::vector<PlannedReader> plan = PlanReaders(rows, folder, options.rule, options.ruleIndex, options.mapping ? &*options.mapping : nullptr);
  // From here on the session belongs to the run's store worker.
  const auto photoGuard = options.skipReadersWithPhoto ? data::PhotoGuard::Empty : data::PhotoGuard::EmptyOrBitmap;
  result.folder = folder.folder();
  result.pictures = folder.Pictures();
  std::optional<PhotoBackup> backup;
  const StoreAction store = StoreActionFor(options, backup);
  // A replacing run's store keeps what it backed up per card number: it stores on one connection.
  auto moreConnections = backup ? std::vector<std::unique_ptr<data::Session>>()
                                : MoreStoreConnections(session, options.storeConnections);
  Run run(session, std::move(moreConnections), photoGuard, store, observer, *source, plan, options.jobs, result);
  for (std::size_t i = 0; i < rows.size() && !run.ConnectionLost(); ++i) {
    observer.ProcessEvents();
    if (observer.ShouldStop()) {
      result.outcome = RunOutcome::Stopped;
      break;
    }
    run.Reader(rows[i], plan[i]);
  }
  run.End();
  if (run.ConnectionLost()) result.outcome = RunOutcome::DatabaseLost;
  if (backup) result.backupFolder = backup->folder().string(), result.backedUp = backup->saved();
  return result;
}

}  // namespace photoimport
