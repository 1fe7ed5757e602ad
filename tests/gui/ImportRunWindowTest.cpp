// The import window's start button: its checks and message boxes, the run shown in the window, and the
// exit button during a run. A real window on a database of each backend with real photo files.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "GuiTestSupport.h"
#include <QFileInfo>
#include <sstream>
#include "import/frmJSZImportImages.h"
#include "support/TestDatabase.h"

namespace {

using guitest::RecordedMessageBoxes;
using testsupport::Backend;
using testsupport::TestDatabase;

const std::string kPhoto = std::string(CARDPHOTO_TESTDATA_DIR) + "/jpeg/testorig.jpg";

class ImportRunWindowTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    guitest::Application();
    db_ = TestDatabase::Create(GetParam());
    if (!db_) GTEST_SKIP() << testsupport::UnavailableReason(GetParam());
    db_->Exec("insert into lib_duzhe (dz_id, dz_dzlx) values (1, '学生')");
    for (const char* id : {"A00001", "A00002", "A00003"}) {
      db_->Exec(std::string("insert into lib_people (pe_id, pe_name, pe_mark, pe_dzlx) values ('") + id +
                "', '张三', '正常', 1)");
      std::filesystem::copy_file(kPhoto, folder_.path() / (std::string(id) + ".jpg"));
      // A copy of the read-only suite file is read-only too, which on Windows forbids replacing it.
      std::filesystem::permissions(folder_.path() / (std::string(id) + ".jpg"), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
    }
    session_.ConnectString(db_->ConnectionString());
    window_ = std::make_unique<TJSZImportImages>(session_);
    window_->show();
    window_->cbBackup->setChecked(true);
    window_->edPath->setText(QString::fromStdString(folder_.path().string()));
  }

  bool HasPhoto(const std::string& id) { return !db_->AdminSession().ReadPhoto(id).value_or(data::Bytes()).empty(); }
  QString LastLogLine() const {
    const QStringList lines = window_->memError->toPlainText().split('\n');
    return lines.back();
  }

  std::unique_ptr<TestDatabase> db_;
  data::Session session_;
  guitest::TempFolder folder_;
  std::unique_ptr<TJSZImportImages> window_;
};

TEST_P(ImportRunWindowTest, ChecksShowTheirMessagesAndStartNothing) {
  const struct {
    const char* title;
    QString folder;
    bool byName;
    QMessageBox::StandardButton answer;
    std::vector<QString> texts;  // the boxes shown, in order
  } cases[] = {
      {"empty folder", "  ", false, QMessageBox::Yes, {"请选择相片文件保存路径"}},
      {"declined", "", false, QMessageBox::No, {"您确认要导入读者相片吗？"}},
      {"name without category", "", true, QMessageBox::Yes, {"您确认要导入读者相片吗？", "请选择要处理的读者类型"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    if (!c.folder.isEmpty()) window_->edPath->setText(c.folder);
    window_->rbType4->setChecked(c.byName);
    window_->rbType1->setChecked(!c.byName);
    RecordedMessageBoxes boxes(c.answer);
    window_->btImport->click();
    ASSERT_EQ(boxes.boxes().size(), c.texts.size());
    for (std::size_t i = 0; i < c.texts.size(); ++i) {
      EXPECT_EQ(boxes.boxes()[i].text, c.texts[i]);
      EXPECT_EQ(boxes.boxes()[i].caption, QString("提示信息"));
    }
    EXPECT_FALSE(HasPhoto("A00001"));
    window_->edPath->setText(QString::fromStdString(folder_.path().string()));
  }
}

TEST_P(ImportRunWindowTest, MissingFolderIsReportedBeforeTheConfirmation) {
  const QString missing = QString::fromStdString((folder_.path() / "missing").string());
  window_->edPath->setText(missing + "/");
  RecordedMessageBoxes boxes(QMessageBox::Yes);
  window_->btImport->click();
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_TRUE(boxes.boxes()[0].text.contains(missing));
  EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Information);
}

TEST_P(ImportRunWindowTest, RunDisablesTheOptionsShowsProgressAndReportsCompletion) {
  std::filesystem::remove(folder_.path() / "A00002.jpg");
  std::ofstream(folder_.path() / "A00002.jpg") << "damaged";
  int highest = 0;
  bool optionsDisabled = true;
  QObject::connect(window_->pBar, &QProgressBar::valueChanged, [&](int value) {
    highest = std::max(highest, value);
    optionsDisabled = optionsDisabled && !window_->edPath->isEnabled() && !window_->btImport->isEnabled() &&
                      !window_->rbType1->isEnabled() && !window_->cbOkNot->isEnabled() && window_->btExit->isEnabled();
  });
  RecordedMessageBoxes boxes(QMessageBox::Yes);
  window_->btImport->click();

  EXPECT_EQ(highest, 100);
  EXPECT_TRUE(optionsDisabled);
  ASSERT_EQ(boxes.boxes().size(), 2u);
  EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Question);
  EXPECT_EQ(boxes.boxes()[0].buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(boxes.boxes()[0].defaultButton, QMessageBox::No);  // Enter must not start a run by accident
  EXPECT_EQ(boxes.boxes()[1].text, QString("相片导入已全部完成，请检查！"));
  EXPECT_EQ(boxes.boxes()[1].icon, QMessageBox::NoIcon);
  EXPECT_TRUE(HasPhoto("A00001"));
  EXPECT_FALSE(HasPhoto("A00002"));
  EXPECT_TRUE(HasPhoto("A00003"));
  const QString damaged = QString::fromStdString((folder_.path() / "A00002.jpg").string()) + " 图片有问题，未能导入！";
  EXPECT_TRUE(window_->memError->toPlainText().contains(damaged));
  EXPECT_EQ(LastLogLine(), QString("共选择读者 3 人，导入相片 2 张，失败 1 个，无相片文件 0 人"));
  EXPECT_TRUE(window_->edPath->isEnabled());
  EXPECT_TRUE(window_->btImport->isEnabled());
  EXPECT_FALSE(window_->pBar->isVisible());
  EXPECT_TRUE(window_->palImg->isVisible());
  EXPECT_EQ(window_->imgTmp->pixmap().size(), QSize(110, 110));  // the last photo: 227 x 149 cropped square
  EXPECT_TRUE(window_->lbNo->text().startsWith(QString("证号：A0000")));
}

// A replacing run names its backup folder at the end of the log, and the log's menu saves the report.
TEST_P(ImportRunWindowTest, ReplacingRunNamesItsBackupAndTheReportIsSaved) {
  db_->AdminSession().WritePhoto("A00002", testsupport::MakeSamplePhoto());
  window_->cbOkNot->setChecked(false);
  EXPECT_FALSE(window_->SaveRunReport()) << "no run yet";
  RecordedMessageBoxes boxes(QMessageBox::Yes);
  window_->btImport->click();
  EXPECT_TRUE(LastLogLine().startsWith(QString("被替换的 1 张相片已备份在："))) << LastLogLine().toStdString();
  const std::filesystem::path backupFolder = LastLogLine().section(QString("："), 1).toStdString();
  EXPECT_TRUE(std::filesystem::exists(backupFolder / "A00002.bmp"));

  const std::filesystem::path report = folder_.path() / "report.csv";
  QString proposed;
  window_->SetSaveFileChooser([&](QWidget*, const QString&, const QString& name) {
    proposed = name;
    return QString::fromStdString(report.string());
  });
  EXPECT_TRUE(window_->SaveRunReport());
  EXPECT_TRUE(QFileInfo(proposed).fileName().startsWith(QString("导入报告-"))) << proposed.toStdString();
  std::ostringstream content;
  content << std::ifstream(report, std::ios::binary).rdbuf();
  int stored = 0;
  for (std::size_t at = 0; (at = content.str().find(",stored,", at)) != std::string::npos; ++at) ++stored;
  EXPECT_EQ(stored, 3) << content.str();
}

TEST_P(ImportRunWindowTest, ExitDuringARunStopsAfterTheCurrentReader) {
  bool asked = false;
  QString shown;
  QObject::connect(window_->pBar, &QProgressBar::valueChanged, [&](int value) {
    if (value > 0 && !asked) {
      asked = true;
      shown = window_->lbNo->text();
      window_->btExit->click();
    }
  });
  RecordedMessageBoxes boxes(QMessageBox::Yes);
  window_->btImport->click();

  ASSERT_GE(boxes.boxes().size(), 2u);
  EXPECT_EQ(boxes.boxes()[1].buttons, QMessageBox::Yes | QMessageBox::No);
  // The first reader's progress comes once a later reader is shown (photos are stored while the next
  // ones are normalized; on PostgreSQL two at once): the run ends after that reader, A0000N.
  ASSERT_TRUE(shown.startsWith(QString("证号：A0000"))) << shown.toStdString();
  EXPECT_TRUE(HasPhoto(shown.mid(3).toStdString()));
  const int readers = shown.right(1).toInt();
  // The summary, and where the run stopped (unless the stop came during the last reader).
  const QStringList lines = window_->memError->toPlainText().split('\n');
  const QString summary = QString("共选择读者 3 人，导入相片 %1 张，失败 0 个，无相片文件 0 人").arg(readers);
  if (readers < 3) {
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 2], summary);
    EXPECT_EQ(lines.back(), QString("导入已停止：停在第 %1 位读者之后，还有 %2 位读者未处理").arg(readers).arg(3 - readers));
  } else {
    EXPECT_EQ(lines.back(), summary);
  }
  EXPECT_FALSE(window_->isVisible());
}

TEST_P(ImportRunWindowTest, ExitDuringAStoreThatWaitsForALockedRowCancelsIt) {
  if (GetParam() == Backend::Sqlite) GTEST_SKIP() << "the SQLite3 driver does not interrupt a wait for a lock";
  testsupport::RowLock lock(*db_, "A00002");
  // The window lets events through while a store waits: once A00002's store waits for the lock, exit.
  QTimer exitOnceWaiting;
  QObject::connect(&exitOnceWaiting, &QTimer::timeout, [&] {
    if (!lock.SomeoneWaits()) return;
    exitOnceWaiting.stop();
    window_->btExit->click();
  });
  exitOnceWaiting.start(50);
  RecordedMessageBoxes boxes(QMessageBox::Yes);
  window_->btImport->click();

  const QString cancelled = QString::fromStdString((folder_.path() / "A00002.jpg").string()) + " 未能保存：保存已取消";
  EXPECT_TRUE(window_->memError->toPlainText().contains(cancelled)) << window_->memError->toPlainText().toStdString();
  EXPECT_TRUE(HasPhoto("A00001"));
  EXPECT_FALSE(HasPhoto("A00002"));
  // A00003 may have been the current reader as the stop came, or never started.
  const QStringList lines = window_->memError->toPlainText().split('\n');
  ASSERT_GE(lines.size(), 2);
  const bool stopped = LastLogLine().startsWith(QString("导入已停止：停在第 "));
  EXPECT_TRUE(lines[lines.size() - (stopped ? 2 : 1)].startsWith(QString("共选择读者 3 人，导入相片 ")))
      << window_->memError->toPlainText().toStdString();
  EXPECT_FALSE(window_->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Backends, ImportRunWindowTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

}  // namespace
