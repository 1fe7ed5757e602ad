// The end of a run in the import window: the log names the backup folder of a run that replaced photos,
// and the log's context menu saves the run report of the last run as a CSV file.
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QPlainTextEdit>
#include <filesystem>
#include <string>

#include "connection/MessageBoxes.h"
#include "import/frmJSZImportImages.h"
#include "records/RunReportRows.h"

namespace {

const char* const kSaveReportAction = "保存导入报告…";

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

QString ChooseSaveFile(QWidget* parent, const QString& caption, const QString& proposed) {
  return QFileDialog::getSaveFileName(parent, caption, proposed, Text("CSV 文件 (*.csv)"));
}

}  // namespace

void TJSZImportImages::LogRunEnd(const photoimport::ImportResult& result) {
  memError->appendPlainText(Text(photoimport::SummaryLine(result)));
  if (result.backedUp > 0)
    memError->appendPlainText(Text("被替换的 " + std::to_string(result.backedUp) + " 张相片已备份在：" + result.backupFolder));
  lastReport_ = photoimport::RunReportRows(result, false);
}

void TJSZImportImages::ShowLogMenu(const QPoint& position) {
  QMenu* menu = memError->createStandardContextMenu(position);
  menu->addSeparator();
  QAction* save = menu->addAction(Text(kSaveReportAction));
  save->setEnabled(!lastReport_.empty());
  connect(save, &QAction::triggered, this, [this] { SaveRunReport(); });
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(memError->viewport()->mapToGlobal(position));
}

bool TJSZImportImages::SaveRunReport() {
  if (lastReport_.empty()) return false;
  const QString proposed =
      QDir::home().filePath(Text("导入报告-") + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss") + ".csv");
  const auto choose = chooseSaveFile_ ? chooseSaveFile_ : ChooseSaveFile;
  const QString path = choose(this, Text("保存导入报告"), proposed);
  if (path.isEmpty()) return false;
  const std::string problem = photoimport::WriteRunReport(std::filesystem::path(path.toStdString()), lastReport_);
  if (problem.empty()) return true;
  messageboxes::ShowMessageBox(this, QMessageBox::Warning, Text(messageboxes::kToolCaption),
                               Text("导入报告未能保存：" + problem));
  return false;
}
