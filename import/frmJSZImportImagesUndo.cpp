// Undoing a run that replaced photos, from the window: the photos it replaced are written back from the
// run's backup folder, as card-photo restore does (records/PhotoRestore), after a confirmation that says
// how many. What the restore replaces is itself backed up, so the undo can be undone too.
#include <QApplication>
#include <QPlainTextEdit>
#include <string>

#include "app/FilePath.h"
#include "connection/MessageBoxes.h"
#include "import/frmJSZImportImages.h"
#include "records/PhotoBackup.h"
#include "records/PhotoRestore.h"

namespace {

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

}  // namespace

bool TJSZImportImages::RestoreReplacedPhotos() {
  if (running_ || replacedBackup_.empty()) return false;
  auto say = [this](const std::string& text, QMessageBox::Icon icon) {
    messageboxes::ShowMessageBox(this, icon, Text(messageboxes::kToolCaption), Text(text));
  };
  const photoimport::BackupListing listing = photoimport::ListBackupFolder(app::PathFromUtf8(replacedBackup_));
  if (!listing.error.empty()) {
    say("被替换的相片无法恢复：" + listing.error, QMessageBox::Warning);
    return false;
  }
  const auto count = listing.files.size() + listing.problems.size();
  const auto answer = messageboxes::ShowMessageBox(
      this, QMessageBox::Question, Text(messageboxes::kToolCaption),
      Text("要把上次导入替换掉的 " + std::to_string(count) + " 张相片恢复为导入前的相片吗？\n备份在：" + replacedBackup_),
      QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  if (answer != QMessageBox::Yes) return false;

  QApplication::setOverrideCursor(Qt::WaitCursor);
  photoimport::PhotoRestore restore(libDB_, false, photoimport::DefaultBackupRoot());
  int restored = 0, failed = 0;
  for (const std::string& problem : listing.problems) {
    memError->appendPlainText(Text("未能恢复：" + problem));
    ++failed;
  }
  for (const photoimport::BackupFile& file : listing.files) {
    if (const std::string reason = restore.File(file); !reason.empty()) {
      memError->appendPlainText(Text("证号 " + file.cardNumber + " 的相片未能恢复：" + reason));
      ++failed;
    } else {
      ++restored;
    }
  }
  QApplication::restoreOverrideCursor();
  std::string summary = "已恢复被替换的相片 " + std::to_string(restored) + " 张，失败 " + std::to_string(failed) + " 个";
  memError->appendPlainText(Text(summary));
  if (const photoimport::PhotoBackup* backup = restore.backup(); backup && backup->saved() > 0) {
    const std::string line = "恢复时被替换的 " + std::to_string(backup->saved()) + " 张相片已备份在：" +
                             app::Utf8FromPath(backup->folder());
    memError->appendPlainText(Text(line));
    summary += "\n" + line;
  }
  if (failed == 0) replacedBackup_.clear();  // done: nothing more to put back
  say(summary, failed == 0 ? QMessageBox::Information : QMessageBox::Warning);
  return failed == 0;
}
