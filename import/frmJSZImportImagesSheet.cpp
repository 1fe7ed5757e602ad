// The contact sheet (相片核对表) of the window's runs. Its photos exist only while the run lasts (a dry
// run stores nothing, a failed store's photo is nowhere), and the user asks for the sheet only after the
// run: so every run writes its sheet's pages into a folder of the user's data folder as readers finish
// (memory does not grow with the photos), and 保存相片核对表… writes them, with the run's heading, where
// the user chooses. The folder goes with the next run or the window.
#include <QDateTime>
#include <QDir>
#include <filesystem>
#include <string>

#include "app/FilePath.h"
#include "app/UserDataFolder.h"
#include "connection/MessageBoxes.h"
#include "import/frmJSZImportImages.h"
#include "records/ReaderDepartments.h"

namespace {

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

// On the user's disk, not in a temporary folder that may be memory.
std::filesystem::path RunSheetFolder() {
  std::filesystem::path base = app::UserDataFolder();
  if (base.empty()) base = std::filesystem::temp_directory_path();
  return photoimport::SheetWorkFolderBeside(base / "sheet-pages" / "run");
}

}  // namespace

void TJSZImportImages::StartRunSheet(const photoimport::ImportOptions& options) {
  runSheet_.reset();  // the last run's pages go first
  sheetReady_ = false;
  // The departments the run's selection does not read, in one statement while the session is free
  // (records/ReaderDepartments). A sheet without them is still a sheet.
  photoimport::ReaderDepartments departments;
  try {
    departments = photoimport::ReaderDepartments::Read(libDB_, options);
  } catch (const std::exception&) {
  }
  runSheet_ = std::make_unique<photoimport::RunSheet>(RunSheetFolder(), options, std::move(departments));
}

bool TJSZImportImages::SaveRunSheet() {
  if (!sheetReady_ || running_) return false;
  const QString proposed = QDir::home().filePath(Text("相片核对表-") +
                                                 QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss") + ".html");
  const QString path = ChooseSaveFile(Text("保存相片核对表"), proposed);
  if (path.isEmpty()) return false;
  const std::string problem = runSheet_->Publish(app::PathFromUtf8(path.toStdString()));
  if (problem.empty()) return true;
  messageboxes::ShowMessageBox(this, QMessageBox::Warning, Text(messageboxes::kToolCaption),
                               Text("相片核对表未能保存：" + problem));
  return false;
}
