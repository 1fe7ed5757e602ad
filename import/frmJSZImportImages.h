// TJSZImportImages: the import window, the main window when the database is connected. It holds the
// instructions, the run options, the start and exit buttons, the progress and preview area and the
// failure log. The lists come from import/ReaderLists, the run from import/ImportRun.
#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "connection/WindowLook.h"
#include "import/ImportRun.h"
#include "records/RunReport.h"
#include "records/RunSheet.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace data {
class Session;
}

namespace photoimport {
struct ImportOptions;
}

// A label sized to its text whose right edge stays where it was placed, so longer texts grow to the left,
// up to a left limit: a text too long for that room is shortened in its middle (a path keeps its start
// and its file name).
class RightAnchoredLabel : public windowlook::SongLabel {
 public:
  RightAnchoredLabel(QWidget* parent, int left, int right, int top);
  void setText(const QString& text);
  // After a scaling of the window.
  void SetAnchor(int left, int right, int top);

 private:
  void Anchor();
  QString full_;  // the text as given
  int left_;
  int right_;
  int top_;
};

class TJSZImportImages : public QWidget {
  Q_OBJECT

 public:
  explicit TJSZImportImages(data::Session& libDB, QWidget* parent = nullptr);

  // Asks the user for a folder or a zip archive, opening at startFolder (the folder of the field, or the
  // nearest existing one above it; empty when there is none); an empty result means the user cancelled.
  // Replaceable (tests).
  using FolderChooser = std::function<QString(QWidget* parent, const QString& prompt, const QString& startFolder)>;
  void SetFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }
  // Asks where to save the run report or the contact sheet (a save dialog by default); empty when
  // cancelled. Tests replace it.
  using SaveFileChooser = std::function<QString(QWidget* parent, const QString& caption, const QString& proposed)>;
  void SetSaveFileChooser(SaveFileChooser chooser) { chooseSaveFile_ = std::move(chooser); }

  // The entries of the log's context menu, about the last run or dry run (each false when there is
  // nothing to do, when the user cancels, or when it failed, which a message box says):
  // saves its report (保存导入报告…);
  bool SaveRunReport();
  // saves its contact sheet (保存相片核对表…);
  bool SaveRunSheet();
  // puts back the photos a replacing run replaced, from the run's backup folder, after a confirmation
  // (恢复被替换的相片…).
  bool RestoreReplacedPhotos();

  data::Session& LibDB() const { return libDB_; }

  // True while an import run lasts (the options and the start button are disabled meanwhile).
  bool IsRunning() const { return running_; }

  // Instructions.
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label6 = nullptr;
  QFrame* Bevel1 = nullptr;
  QLabel* Label4 = nullptr;
  // Options and actions.
  QLineEdit* edPath = nullptr;
  QPushButton* btPath = nullptr;
  QRadioButton* rbType1 = nullptr;
  QRadioButton* rbType2 = nullptr;
  QRadioButton* rbType3 = nullptr;
  QRadioButton* rbType4 = nullptr;
  QGroupBox* grpFormat = nullptr;
  QRadioButton* rbFormat1 = nullptr;
  QRadioButton* rbFormat2 = nullptr;
  QComboBox* cbPos = nullptr;
  QRadioButton* rbFormat3 = nullptr;
  QComboBox* cbLeftLen = nullptr;
  QCheckBox* cbBackup = nullptr;
  QCheckBox* cbOkNot = nullptr;
  QPushButton* btImport = nullptr;
  QPushButton* btDryRun = nullptr;  // 预检: everything but the store; where the progress bar shows during a run
  QProgressBar* pBar = nullptr;
  QPushButton* btExit = nullptr;
  QGroupBox* grpSelect = nullptr;
  QComboBox* cbbDZ = nullptr;
  QComboBox* cbbDW = nullptr;
  QPlainTextEdit* memError = nullptr;
  // Preview area.
  QLabel* DBImage1 = nullptr;
  QFrame* palImg = nullptr;
  QLabel* imgTmp = nullptr;
  // The current run's file, card number and name.
  RightAnchoredLabel* lbFile = nullptr;
  QLabel* lbNo = nullptr;
  QLabel* lbName = nullptr;

 public slots:
  void btImportClick();
  void btDryRunClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Closing the window during a run asks to stop after the current reader, as the exit button does.
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildInstructions();
  void BuildOptions();
  void BuildFormatGroup();
  void BuildSelectGroup();
  void BuildRunArea();
  void SetTabOrder();
  void NameControls();  // the control names, for tests and diagnostics
  void ConnectHandlers();

  void FormCreate();
  void ScaleBy(int multiplier, int divider);
  void FillCategoryList();
  void btPathClick();
  void cbBackupClick();
  void rbType4Click();
  void rbFormat1Click();
  void cbbDZChange();
  bool cbbDZKeyPress(const QString& keyText) const;
  bool cbPosKeyPress(const QString& keyText) const;
  void btExitClick();

  // The import run and the dry run (frmJSZImportImagesRun.cpp): the options as the window shows them, the
  // controls disabled while it lasts, and the stop request of the exit button.
  class RunView;
  photoimport::ImportOptions ReadRunOptions() const;
  void StartRun(bool dryRun);
  void SetRunning(bool running);
  bool AskToStopRun();

  // The end of a run's log (frmJSZImportImagesReport.cpp): the summary, where a stopped run stopped, the
  // backup folder when it holds anything; the report and the backup kept for the log's context menu.
  void LogRunEnd(const photoimport::ImportResult& result, bool dryRun);
  void ShowLogMenu(const QPoint& position);
  QString ChooseSaveFile(const QString& caption, const QString& proposed);

  // The contact sheet of every run (frmJSZImportImagesSheet.cpp): written while the run lasts, because
  // its photos exist only then, and kept until the next run or the window's end.
  void StartRunSheet(const photoimport::ImportOptions& options);

  // The folder chooser (frmJSZImportImagesChooser.cpp).
  static QString ChooseFolderOrArchive(QWidget* parent, const QString& prompt, const QString& startFolder);

  data::Session& libDB_;
  FolderChooser chooseFolder_;
  SaveFileChooser chooseSaveFile_;
  // The last run.
  std::vector<photoimport::ReportRow> lastReport_;
  std::unique_ptr<photoimport::RunSheet> runSheet_;
  bool sheetReady_ = false;        // runSheet_ holds a whole run
  std::string replacedBackup_;     // the backup folder of the photos it replaced; empty when none
  int replacedCount_ = 0;
  bool running_ = false;
  bool stopRequested_ = false;
};
