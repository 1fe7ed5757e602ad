// TJSZImportImages: the import window, the main window when the database is connected. It holds the
// instructions, the run options, the start and exit buttons, the progress and preview area and the
// failure log. The lists come from import/ReaderLists, the run from import/ImportRun.
#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

#include "connection/WindowLook.h"
#include "import/ImportRun.h"
#include "records/RunReport.h"

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

// A label sized to its text whose right edge stays where it was placed, so longer texts grow to the left.
class RightAnchoredLabel : public windowlook::SongLabel {
 public:
  RightAnchoredLabel(QWidget* parent, int right, int top);
  void setText(const QString& text);
  // After a scaling of the window.
  void SetAnchor(int right, int top);

 private:
  void Anchor();
  int right_;
  int top_;
};

class TJSZImportImages : public QWidget {
  Q_OBJECT

 public:
  explicit TJSZImportImages(data::Session& libDB, QWidget* parent = nullptr);

  // Asks the user for a folder, opening at startFolder (the folder of the field, or the nearest existing
  // one above it; empty when there is none); an empty result means the user cancelled. Replaceable (tests).
  using FolderChooser = std::function<QString(QWidget* parent, const QString& prompt, const QString& startFolder)>;
  void SetFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }
  // Asks where to save the run report (a save dialog by default); empty when cancelled. Tests replace it.
  using SaveFileChooser = std::function<QString(QWidget* parent, const QString& caption, const QString& proposed)>;
  void SetSaveFileChooser(SaveFileChooser chooser) { chooseSaveFile_ = std::move(chooser); }
  // The log's context menu entry: saves the last run's report. False when there is no run to report.
  bool SaveRunReport();

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

  // The import run (frmJSZImportImagesRun.cpp): the options as the window shows them, the controls
  // disabled while it lasts, and the stop request of the exit button.
  class RunView;
  photoimport::ImportOptions ReadRunOptions() const;
  void SetRunning(bool running);
  bool AskToStopRun();

  // The end of a run's log (frmJSZImportImagesReport.cpp): the summary, the backup folder when it holds
  // anything, and the report kept for the log's context menu.
  void LogRunEnd(const photoimport::ImportResult& result);
  void ShowLogMenu(const QPoint& position);

  data::Session& libDB_;
  FolderChooser chooseFolder_;
  SaveFileChooser chooseSaveFile_;
  std::vector<photoimport::ReportRow> lastReport_;
  bool running_ = false;
  bool stopRequested_ = false;
};
