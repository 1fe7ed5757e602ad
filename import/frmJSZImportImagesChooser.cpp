// The folder chooser of the browse button: a photo folder or a zip archive of one (schools send photos as
// archives, which the run reads in place). A folder chooser that can also pick a file is no platform's
// own, so it is the toolkit's dialog, on every platform: folders to open or choose, zip archives to
// choose, other files not shown.
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include "import/frmJSZImportImages.h"
#include "sources/ZipArchive.h"

namespace {

bool IsArchiveFile(const QString& path) {
  return photoimport::IsZipArchivePath(path.toStdString()) && QFileInfo(path).isFile();
}

class FolderOrArchiveDialog : public QFileDialog {
 public:
  FolderOrArchiveDialog(QWidget* parent, const QString& prompt, const QString& startFolder)
      : QFileDialog(parent, prompt, startFolder) {
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::Directory);
    setNameFilter(QString::fromUtf8("相片文件夹或 zip 压缩包 (*.zip)"));
    // The dialog enables its choose button for folders only; it is enabled for an archive too. These
    // connections come after the dialog's own, so they have the last word.
    if (auto* edit = findChild<QLineEdit*>("fileNameEdit")) connect(edit, &QLineEdit::textChanged, this, [this] { EnableChoice(); });
    connect(this, &QFileDialog::currentChanged, this, [this] { EnableChoice(); });
  }

  QString chosen;

 protected:
  void accept() override {
    const QStringList files = selectedFiles();
    if (files.size() == 1 && IsArchiveFile(files.first())) {
      chosen = files.first();
      QDialog::accept();
      return;
    }
    QFileDialog::accept();  // a folder is chosen (or, typed, not found: the dialog says so)
    if (result() == QDialog::Accepted && !files.isEmpty()) chosen = files.first();
  }

 private:
  void EnableChoice() {
    const QStringList files = selectedFiles();
    auto* buttons = findChild<QDialogButtonBox*>();
    QPushButton* choose = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
    if (choose && files.size() == 1 && IsArchiveFile(files.first())) choose->setEnabled(true);
  }
};

}  // namespace

QString TJSZImportImages::ChooseFolderOrArchive(QWidget* parent, const QString& prompt, const QString& startFolder) {
  FolderOrArchiveDialog dialog(parent, prompt, startFolder);
  if (dialog.exec() != QDialog::Accepted || dialog.chosen.isEmpty()) return {};
  return QDir::toNativeSeparators(dialog.chosen);
}
