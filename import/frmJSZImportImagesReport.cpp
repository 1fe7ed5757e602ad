// The end of a run in the import window: the log's last lines (the summary, where a stopped run stopped,
// the backup folder of a run that replaced photos), and the log's context menu, which offers what can be
// done with the last run: save its report, save its contact sheet, put back the photos it replaced.
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QPlainTextEdit>
#include <filesystem>
#include <string>

#include "app/FilePath.h"
#include "connection/MessageBoxes.h"
#include "import/RunEndLines.h"
#include "import/frmJSZImportImages.h"
#include "records/RunReportRows.h"

namespace {

const char* const kSaveReportAction = "保存导入报告…";
const char* const kSaveSheetAction = "保存相片核对表…";

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

// The save dialog, for a CSV report or an HTML contact sheet (by the proposed name's extension).
QString ChooseSaveFileWithDialog(QWidget* parent, const QString& caption, const QString& proposed) {
  const QString filter = proposed.endsWith(".html") ? Text("网页文件 (*.html)") : Text("CSV 文件 (*.csv)");
  return QFileDialog::getSaveFileName(parent, caption, proposed, filter);
}

}  // namespace

void TJSZImportImages::LogRunEnd(const photoimport::ImportResult& result, bool dryRun) {
  const std::vector<std::string> lines = photoimport::RunEndLines(result, dryRun);
  for (const std::string& line : lines) memError->appendPlainText(Text(line));
  const bool ran = !lines.empty();  // the run got to its readers
  lastReport_ = ran ? photoimport::RunReportRows(result, dryRun) : std::vector<photoimport::ReportRow>();
  sheetReady_ = ran && runSheet_;
  if (sheetReady_) runSheet_->End(result);
  else runSheet_.reset();
  // A dry run replaced nothing: what the run before it replaced can still be put back.
  if (ran && !dryRun) {
    replacedBackup_ = result.backedUp > 0 ? result.backupFolder : std::string();
    replacedCount_ = result.backedUp;
  }
}

void TJSZImportImages::ShowLogMenu(const QPoint& position) {
  QMenu* menu = memError->createStandardContextMenu(position);
  menu->addSeparator();
  QAction* saveReport = menu->addAction(Text(kSaveReportAction));
  saveReport->setEnabled(!running_ && !lastReport_.empty());
  connect(saveReport, &QAction::triggered, this, [this] { SaveRunReport(); });
  QAction* saveSheet = menu->addAction(Text(kSaveSheetAction));
  saveSheet->setEnabled(!running_ && sheetReady_);
  connect(saveSheet, &QAction::triggered, this, [this] { SaveRunSheet(); });
  QAction* restore = menu->addAction(
      Text("恢复被替换的" + (replacedCount_ > 0 ? " " + std::to_string(replacedCount_) + " 张" : std::string()) + "相片…"));
  restore->setEnabled(!running_ && !replacedBackup_.empty());
  connect(restore, &QAction::triggered, this, [this] { RestoreReplacedPhotos(); });
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(memError->viewport()->mapToGlobal(position));
}

QString TJSZImportImages::ChooseSaveFile(const QString& caption, const QString& proposed) {
  const auto choose = chooseSaveFile_ ? chooseSaveFile_ : ChooseSaveFileWithDialog;
  return choose(this, caption, proposed);
}

bool TJSZImportImages::SaveRunReport() {
  if (lastReport_.empty()) return false;
  const QString proposed =
      QDir::home().filePath(Text("导入报告-") + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss") + ".csv");
  const QString path = ChooseSaveFile(Text("保存导入报告"), proposed);
  if (path.isEmpty()) return false;
  const std::string problem = photoimport::WriteRunReport(app::PathFromUtf8(path.toStdString()), lastReport_);
  if (problem.empty()) return true;
  messageboxes::ShowMessageBox(this, QMessageBox::Warning, Text(messageboxes::kToolCaption),
                               Text("导入报告未能保存：" + problem));
  return false;
}
