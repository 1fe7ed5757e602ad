#include "import/ImportRun.h"

#include <exception>
#include <vector>

#include "app/Text.h"
#include "imaging/PhotoBitmap.h"
#include "imaging/PhotoStream.h"

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

struct ReaderRow {
  std::string cardNumber;  // trimmed pe_id
  std::string name;        // trimmed pe_name, empty for NULL
  std::string identifier;  // trimmed and upper-cased sNo, empty for NULL
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
  const Statement statement = BuildSelection(SelectionOf(options));
  auto query = session.Open(statement.lines, statement.params);
  std::vector<ReaderRow> rows;
  for (; !query->Eof(); query->Next()) {
    rows.push_back(ReaderRow{app::Trim(query->Text("pe_id")), app::Trim(query->Text("pe_name")),
                             FoldName(app::Trim(query->Text("sNo")))});
  }
  query->Close();
  return rows;
}

// Replaces the reader's photo. Fails when no reader has the card number, when the current value is a
// picture of another format (the tool can only replace bitmaps; the value is kept), or when the database
// refuses the write.
bool StorePhoto(data::Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo) {
  try {
    const auto current = session.ReadPhoto(cardNumber);
    if (!current) return false;
    if (!current->empty() && !imaging::IsStoredBitmap(*current)) return false;
    session.WritePhoto(cardNumber, photo);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

class Run {
 public:
  Run(const ImportOptions& options, data::Session& session, ImportObserver& observer, const PhotoFolder& folder)
      : options_(options), session_(session), observer_(observer), folder_(folder) {}

  void Reader(const ReaderRow& row, ImportResult& result) {
    const std::string name = folder_.FindByRule(row.identifier, options_.rule, options_.ruleIndex);
    if (name.empty()) {
      ++result.noFile;
      return;
    }
    const std::string shown = DisplayPath(folder_.folder(), name);
    observer_.CurrentReader(shown, row.cardNumber, row.name);
    observer_.ProcessEvents();
    if (imaging::MakePhotoStream(JoinPath(folder_.folder(), name), stream_)) {
      observer_.Preview(stream_.bytes);
      if (StorePhoto(session_, row.cardNumber, stream_.bytes)) {
        ++result.stored;
        return;
      }
    }
    ++result.failed;
    observer_.LogLine(shown + kFailureSuffix);
  }

 private:
  const ImportOptions& options_;
  data::Session& session_;
  ImportObserver& observer_;
  const PhotoFolder& folder_;
  imaging::MemoryStream stream_;  // reused for every reader
};

ImportResult NotStarted(ImportCheck check) {
  ImportResult result;
  result.check = check;
  return result;
}

}  // namespace

std::string RunFolder(const std::string& folderField) { return StripTrailingSeparator(app::Trim(folderField)); }

ImportCheck CheckFolder(const ImportOptions& options) {
  if (app::Trim(options.folder).empty()) return ImportCheck::EmptyFolder;
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

ImportResult RunImport(const ImportOptions& options, data::Session& session, ImportObserver& observer) {
  if (gRunActive) return NotStarted(ImportCheck::AlreadyRunning);
  for (const ImportCheck check : {CheckFolder(options), CheckCategory(options)})
    if (check != ImportCheck::Ok) return NotStarted(check);
  RunGuard guard;

  const PhotoFolder folder(RunFolder(options.folder));
  if (!folder.Listed()) return NotStarted(ImportCheck::MissingFolder);

  ImportResult result;
  std::vector<ReaderRow> rows;
  try {
    rows = SelectReaders(session, options);
  } catch (const std::exception& error) {
    result.outcome = RunOutcome::SelectionFailed;
    result.error = error.what();
    return result;
  }
  result.selected = static_cast<int>(rows.size());
  result.outcome = RunOutcome::Completed;
  observer.Progress(0, result.selected);

  Run run(options, session, observer, folder);
  int done = 0;
  for (const ReaderRow& row : rows) {
    observer.ProcessEvents();
    if (observer.ShouldStop()) {
      result.outcome = RunOutcome::Stopped;
      break;
    }
    run.Reader(row, result);
    observer.Progress(++done, result.selected);
  }
  return result;
}

}  // namespace photoimport
