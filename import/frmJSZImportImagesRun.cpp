// The import window's start button and its dry run (预检): the checks with their message boxes, the
// confirmation, and the run (import/ImportRun) shown in the window's progress bar, labels, preview and log.
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <string>

#include "connection/MessageBoxes.h"
#include "import/ImportRun.h"
#include "import/ReaderLists.h"
#include "import/frmJSZImportImages.h"

namespace {

using photoimport::ImportCheck;
using photoimport::RunOutcome;

const char* const kConfirmQuestion = "您确认要导入读者相片吗？";
const char* const kStopQuestion = "相片正在导入，要在当前读者处理完后停止导入并退出吗？";
const char* const kStoppedMessage = "相片导入已停止，请检查！";
const char* const kDryRunStart = "预检开始（只检查，不写入数据库）：";
const char* const kDryRunDoneMessage = "预检完成，没有写入数据库，请检查！";

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

void Inform(QWidget* window, const std::string& text, QMessageBox::Icon icon = QMessageBox::Information) {
  messageboxes::ShowMessageBox(window, icon, Text(messageboxes::kToolCaption), Text(text));
}

photoimport::IdentifierColumn IdentifierOf(const TJSZImportImages& w) {
  if (w.rbType2->isChecked()) return photoimport::IdentifierColumn::IdentityCard;
  if (w.rbType3->isChecked()) return photoimport::IdentifierColumn::CampusCard;
  if (w.rbType4->isChecked()) return photoimport::IdentifierColumn::Name;
  return photoimport::IdentifierColumn::CardNumber;
}

// The category entry chosen: index 0 nothing, 1 all categories, 2 and up "<number>:<name>".
void ReadCategory(const TJSZImportImages& w, photoimport::ImportOptions& options) {
  const int index = w.cbbDZ->currentIndex();
  if (index < 1) return;
  if (index == 1) {
    options.categoryChoice = photoimport::CategoryChoice::All;
    return;
  }
  try {
    options.category =
        photoimport::ParseCategoryNumber(photoimport::CategoryNumberText(w.cbbDZ->currentText().toStdString()));
  } catch (const std::exception&) {
    return;  // not a category entry: nothing chosen
  }
  options.categoryChoice = photoimport::CategoryChoice::One;
  if (w.cbbDW->currentIndex() > 0) options.department = w.cbbDW->currentText().toStdString();
}

}  // namespace

// What a run shows while it lasts.
class TJSZImportImages::RunView : public photoimport::ImportObserver {
 public:
  explicit RunView(TJSZImportImages& window) : w_(window) {}

  void Finished(const photoimport::FinishedReader& reader, std::span<const std::uint8_t> photo) override {
    if (w_.runSheet_) w_.runSheet_->Finished(reader, photo);
  }
  void Progress(int done, int total) override { w_.pBar->setValue(total > 0 ? done * 100 / total : 0); }
  void CurrentReader(const std::string& path, const std::string& cardNumber, const std::string& name) override {
    w_.lbFile->setText(Text("文件：" + path));
    w_.lbNo->setText(Text("证号：" + cardNumber));
    w_.lbName->setText(Text("姓名：" + name));
  }
  void Preview(std::span<const std::uint8_t> photo) override {
    QImage image;
    image.loadFromData(photo.data(), static_cast<int>(photo.size()), "BMP");
    w_.imgTmp->setPixmap(QPixmap::fromImage(image));
    w_.imgTmp->repaint();
  }
  void LogLine(const std::string& line) override { w_.memError->appendPlainText(Text(line)); }
  void ProcessEvents() override { QCoreApplication::processEvents(); }
  bool ShouldStop() override { return w_.stopRequested_; }
  // A store that waits for the server (a locked row) does not hold up the exit: it is cancelled.
  bool ShouldCancelStore() override { return w_.stopRequested_; }

 private:
  TJSZImportImages& w_;
};

photoimport::ImportOptions TJSZImportImages::ReadRunOptions() const {
  photoimport::ImportOptions options;
  options.folder = edPath->text().toStdString();
  options.identifier = IdentifierOf(*this);
  if (rbFormat1->isChecked()) {
    options.rule = photoimport::NamingRule::Exact;
  } else if (rbFormat2->isChecked()) {
    options.rule = photoimport::NamingRule::Segment;
    options.ruleIndex = cbPos->currentIndex();
  } else {
    options.rule = photoimport::NamingRule::Prefix;
    options.ruleIndex = cbLeftLen->currentIndex();
  }
  options.skipReadersWithPhoto = cbOkNot->isChecked();
  if (options.identifier == photoimport::IdentifierColumn::Name) ReadCategory(*this, options);
  return options;
}

// While a run lasts the options and the start button are disabled; the exit button stays live.
void TJSZImportImages::SetRunning(bool running) {
  running_ = running;
  for (QWidget* control : std::initializer_list<QWidget*>{edPath, btPath, rbType1, rbType2, rbType3, rbType4,
                                                          grpFormat, cbBackup, cbOkNot, grpSelect})
    control->setEnabled(!running);
  btImport->setEnabled(!running && cbBackup->isChecked());
  btDryRun->setEnabled(!running);
  btDryRun->setVisible(!running);  // the progress bar takes its place
  pBar->setVisible(running);
  DBImage1->setVisible(running);
  if (running) {
    pBar->setValue(0);
    palImg->show();
  }
}

bool TJSZImportImages::AskToStopRun() {
  const auto answer = messageboxes::ShowMessageBox(this, QMessageBox::Question, Text(messageboxes::kToolCaption),
                                                   Text(kStopQuestion), QMessageBox::Yes | QMessageBox::No,
                                                   QMessageBox::No);
  if (answer == QMessageBox::Yes) stopRequested_ = true;
  return stopRequested_;
}

void TJSZImportImages::closeEvent(QCloseEvent* event) {
  if (running_) {
    event->ignore();
    AskToStopRun();
    return;
  }
  QWidget::closeEvent(event);
}

void TJSZImportImages::btImportClick() { StartRun(false); }

void TJSZImportImages::btDryRunClick() { StartRun(true); }

void TJSZImportImages::StartRun(bool dryRun) {
  if (running_) return;
  lbNo->clear();
  lbName->clear();
  lbFile->setText(QString());
  palImg->hide();

  photoimport::ImportOptions options = ReadRunOptions();
  options.dryRun = dryRun;
  if (const ImportCheck check = photoimport::CheckFolder(options); check != ImportCheck::Ok) {
    Inform(this, photoimport::CheckMessage(check, options));
    edPath->setFocus();
    return;
  }
  // A dry run changes nothing: nothing to confirm.
  if (!dryRun) {
    const auto answer = messageboxes::ShowMessageBox(this, QMessageBox::Question, Text(messageboxes::kToolCaption),
                                                     Text(kConfirmQuestion), QMessageBox::Yes | QMessageBox::No,
                                                     QMessageBox::No);
    if (answer != QMessageBox::Yes) return;
  }
  if (const ImportCheck check = photoimport::CheckCategory(options); check != ImportCheck::Ok) {
    Inform(this, photoimport::CheckMessage(check, options));
    cbbDZ->setFocus();
    return;
  }

  stopRequested_ = false;
  if (dryRun) memError->appendPlainText(Text(kDryRunStart + photoimport::RunFolder(options.folder)));
  StartRunSheet(options);
  SetRunning(true);
  RunView view(*this);
  photoimport::ImportResult result;
  try {
    result = photoimport::RunImport(options, libDB_, view);
  } catch (...) {
    SetRunning(false);  // never leave the window locked in a run that has ended
    throw;
  }
  SetRunning(false);
  // After a run Enter must not quit: the focus goes back to the start button (or, before the backup is
  // confirmed, to the dry run's).
  (btImport->isEnabled() ? btImport : btDryRun)->setFocus();

  // The log says how the run ended before a box asks for attention.
  switch (result.outcome) {
    case RunOutcome::NotStarted:
      LogRunEnd(result, dryRun);
      Inform(this, photoimport::CheckMessage(result.check, options));
      return;
    case RunOutcome::SelectionFailed:
      LogRunEnd(result, dryRun);
      messageboxes::ShowStandardErrorBox(this, result.error);
      return;
    case RunOutcome::DatabaseLost:
      memError->appendPlainText(Text(photoimport::DatabaseLostMessage(result)));
      LogRunEnd(result, dryRun);
      Inform(this, photoimport::DatabaseLostMessage(result), QMessageBox::Warning);
      if (stopRequested_) close();
      return;
    case RunOutcome::Stopped:
      LogRunEnd(result, dryRun);
      Inform(this, kStoppedMessage);
      close();  // the stop was asked for by the exit button
      return;
    case RunOutcome::Completed:
      LogRunEnd(result, dryRun);
      Inform(this, dryRun ? kDryRunDoneMessage : photoimport::kCompletionMessage, QMessageBox::NoIcon);
      if (stopRequested_) close();  // the exit came during the last reader
      return;
  }
}
