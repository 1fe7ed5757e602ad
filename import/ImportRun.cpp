#include "import/ImportRun.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "app/FilePath.h"
#include "app/Text.h"
#include "import/ReaderPipeline.h"
#include "import/ReaderPlan.h"
#include "import/StoreAction.h"
#include "import/StoreLanes.h"
#include "records/PhotoBackup.h"
#include "records/RunBackup.h"
#include "sources/PhotoSource.h"
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
std::vector<ReaderRow> ReadRows(data::Session& session, const data::Statement& selection) {
  auto query = session.Open(selection);
  std::vector<ReaderRow> rows;
  for (; !query->Eof(); query->Next()) {
    rows.push_back(ReaderRow{app::TrimEnd(query->Text("pe_id")), app::Trim(query->Text("pe_name")),
                             FoldName(app::Trim(query->Text("sNo")))});
  }
  query->Close();
  return rows;
}

std::vector<ReaderRow> SelectReaders(data::Session& session, const ImportOptions& options) {
  return ReadRows(session, BuildSelection(SelectionOf(options), session.dialect()));
}

// A reader the run did not handle, as the report names it: with the file its plan gave it, if any.
FinishedReader Unhandled(const ReaderRow& row, const PlannedReader& plan, const PhotoFolder& folder,
                         ReaderOutcome outcome) {
  FinishedReader reader{{}, row.cardNumber, row.name, row.identifier, {}, outcome, {}};
  if (plan.choice == FileChoice::Found || plan.choice == FileChoice::Shared || plan.choice == FileChoice::Several) {
    reader.path = JoinPath(folder.folder(), plan.file.shown);
    reader.fileName = plan.file.name;
  }
  return reader;
}

// The selected readers after the last one handled.
std::vector<FinishedReader> NotReached(const std::vector<ReaderRow>& rows, const std::vector<PlannedReader>& plan,
                                       std::size_t handled, const PhotoFolder& folder) {
  std::vector<FinishedReader> readers;
  for (std::size_t i = handled; i < rows.size(); ++i)
    readers.push_back(Unhandled(rows[i], plan[i], folder, ReaderOutcome::NotReached));
  return readers;
}

// The readers a run that keeps photos passes over and whose files are in the folder. For the report only:
// a server that cannot tell leaves the list empty.
std::vector<FinishedReader> SkippedWithFiles(data::Session& session, const ImportOptions& options,
                                             const PhotoFolder& folder) {
  if (!options.skipReadersWithPhoto) return {};
  std::vector<ReaderRow> rows;
  try {
    rows = ReadRows(session, BuildReadersWithPhotoSelection(SelectionOf(options), session.dialect()));
  } catch (const std::exception&) {
    return {};
  }
  const std::vector<PlannedReader> plan =
      PlanReaders(rows, folder, options.rule, options.ruleIndex, options.mapping ? &*options.mapping : nullptr);
  std::vector<FinishedReader> readers;
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (plan[i].choice != FileChoice::NoFile && plan[i].choice != FileChoice::NoIdentifier &&
        plan[i].choice != FileChoice::Refused)
      readers.push_back(Unhandled(rows[i], plan[i], folder, ReaderOutcome::HasPhoto));
  return readers;
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

// What the run does with each photo: in a dry run only the reads that predict the store; a run that
// replaces photos keeps each one it replaces in `backup` first (unless backups are off).
StoreAction StoreActionOf(const ImportOptions& options, std::optional<RunBackup>& backup) {
  const StoreMode mode = options.skipReadersWithPhoto ? StoreMode::NewOnly : StoreMode::Replace;
  if (options.dryRun) return PredictActionFor(mode);
  if (mode == StoreMode::Replace && options.backupReplaced) {
    const std::filesystem::path root =
        options.backupRoot.empty() ? DefaultBackupRoot() : app::PathFromUtf8(options.backupRoot);
    backup.emplace(root, std::chrono::system_clock::now());
  }
  return StoreActionFor(mode, backup ? &*backup : nullptr);
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
         " 张，失败 " + std::to_string(result.failed) + " 个，无相片文件 " + std::to_string(result.noFile) + " 人" +
         (result.unknown > 0 ? "，结果不明 " + std::to_string(result.unknown) + " 人（请检查）" : "");
}

std::string DatabaseLostMessage(const ImportResult& result) {
  const FinishedReader& reader = result.lastReader;
  return "与数据库服务器的连接已断开，重新连接也未成功，导入已停止。最后处理的读者：证号 " + reader.cardNumber +
         "，姓名 " + reader.name + "，文件 " + reader.path +
         (reader.outcome == ReaderOutcome::Stored    ? "，其相片已保存"
          : reader.outcome == ReaderOutcome::Unknown ? "，其相片是否已保存无法确定，请检查这位读者"
                                                     : "，其相片未能保存") +
         "；之后的读者都未处理。" +
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
  result.folder = folder.folder();
  result.pictures = folder.Pictures();
  for (const std::string& warning : source->Warnings()) observer.LogLine(warning);
  observer.Progress(0, result.selected);

  const std::vector<PlannedReader> plan =
      PlanReaders(rows, folder, options.rule, options.ruleIndex, options.mapping ? &*options.mapping : nullptr);
  result.skipped = SkippedWithFiles(session, options, folder);
  std::optional<RunBackup> backup;
  const std::vector<std::unique_ptr<data::Session>> more = MoreStoreConnections(session, options.storeConnections);
  std::vector<data::Session*> connections = {&session};
  for (const auto& another : more) connections.push_back(another.get());
  // From here on the sessions belong to the store lanes.
  StoreLanes lanes(connections, StoreActionOf(options, backup));
  ReaderPipeline pipeline(lanes, observer, *source, plan, options.jobs, result);
  for (std::size_t i = 0; i < rows.size() && !pipeline.ConnectionLost(); ++i) {
    observer.ProcessEvents();
    if (observer.ShouldStop()) {
      result.outcome = RunOutcome::Stopped;
      break;
    }
    pipeline.Add(rows[i], plan[i]);
  }
  pipeline.End();
  result.notReached = NotReached(rows, plan, result.readers.size(), folder);
  if (pipeline.ConnectionLost()) result.outcome = RunOutcome::DatabaseLost;
  if (backup) result.backupFolder = app::Utf8FromPath(backup->folder()), result.backedUp = backup->saved();
  return result;
}

}  // namespace photoimport
