// Details a Windows user expects of the desktop program: the toolkit's own texts in Chinese, Enter on a
// focused button presses it, the folder chooser opens where the folder field points, and a failed
// connection at start-up leaves the driver's message on standard error.
#include <QDir>
#include <QFileDialog>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "GuiTestSupport.h"
#include "app/unGlobal.h"
#include "connection/Startup.h"
#include "connection/frmDbPara.h"
#include "import/frmJSZImportImages.h"
#include "support/TestDatabase.h"

namespace {

QString ScreenshotFolder() {
  const QString folder = QString(CARDPHOTO_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  return folder;
}

TEST(ToolkitTranslationTest, MessageBoxButtonsAreChinese) {
  guitest::Application();
  QMessageBox box(QMessageBox::Question, QString::fromUtf8(messageboxes::kToolCaption),
                  QStringLiteral("您确认要导入读者相片吗？"),
                  QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
  const std::pair<QMessageBox::StandardButton, const char*> buttons[] = {
      {QMessageBox::Ok, "确定"}, {QMessageBox::Cancel, "取消"}, {QMessageBox::Yes, "是"}, {QMessageBox::No, "否"}};
  for (const auto& [button, text] : buttons) {
    // The translation may carry a mnemonic ("是(&Y)"); what a person reads is the text before it.
    const QString shown = box.button(button)->text().remove(QRegularExpression("\\(&.\\)$")).remove('&');
    EXPECT_EQ(shown.toStdString(), text);
  }
  box.show();
  QApplication::processEvents();
  const QString file = ScreenshotFolder() + "/message-box-buttons.png";
  EXPECT_TRUE(box.grab().save(file)) << file.toStdString();
}

TEST(ToolkitTranslationTest, EditMenusAreChinese) {
  guitest::Application();
  QLineEdit edit;
  const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  QStringList texts;
  for (const QAction* action : menu->actions())
    if (!action->isSeparator()) texts << action->text();
  for (const char* word : {"撤消", "复制", "粘贴", "全选"})
    EXPECT_TRUE(texts.join('|').contains(QString::fromUtf8(word))) << word << " in " << texts.join('|').toStdString();
}

// The toolkit's folder chooser (the one used where the platform has none of its own), to be looked at.
TEST(ToolkitTranslationTest, FolderChooserScreenshot) {
  guitest::Application();
  guitest::TempFolder folder;
  QDir(QString::fromStdString(folder.path().string())).mkpath(QStringLiteral("相片"));
  QFileDialog chooser(nullptr, QStringLiteral("请选择要保存的文件目录"), QString::fromStdString(folder.path().string()));
  chooser.setFileMode(QFileDialog::Directory);
  chooser.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  chooser.show();
  QApplication::processEvents();
  const QString file = ScreenshotFolder() + "/folder-chooser.png";
  EXPECT_TRUE(chooser.grab().save(file)) << file.toStdString();
}

// In a message box Enter presses the button that has the focus, not the default one.
TEST(MessageBoxKeysTest, EnterPressesTheFocusedButton) {
  guitest::Application();
  QTimer::singleShot(0, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    box->button(QMessageBox::Yes)->setFocus();
    QTest::keyClick(box->button(QMessageBox::Yes), Qt::Key_Return);
  });
  const auto answer = messageboxes::ShowModalMessageBox(
      nullptr, {QMessageBox::Question, QString::fromUtf8(messageboxes::kToolCaption),
                QStringLiteral("您确认要导入读者相片吗？"), QMessageBox::Yes | QMessageBox::No, QMessageBox::No});
  EXPECT_EQ(answer, QMessageBox::Yes);
}

class ImportWindowKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    guitest::Application();
    gScale = 10;
    database_ = testsupport::TestDatabase::Create(testsupport::Backend::Sqlite);
    ASSERT_NE(database_, nullptr);
    session_.ConnectString(database_->ConnectionString());
    window_ = std::make_unique<TJSZImportImages>(session_);
    window_->SetFolderChooser([this](QWidget*, const QString&, const QString& startFolder) {
      startFolders_ << startFolder;
      return QString();
    });
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  }

  void PressEnterOn(QPushButton* button, Qt::Key key = Qt::Key_Return) {
    button->setFocus();
    QTest::keyClick(button, key);
  }

  std::unique_ptr<testsupport::TestDatabase> database_;
  data::Session session_;
  std::unique_ptr<TJSZImportImages> window_;
  QStringList startFolders_;
};

TEST_F(ImportWindowKeysTest, EnterPressesTheFocusedButton) {
  guitest::RecordedMessageBoxes boxes;
  PressEnterOn(window_->btPath);
  EXPECT_EQ(startFolders_.size(), 1) << "the folder chooser opened";

  window_->cbBackup->setChecked(true);
  PressEnterOn(window_->btImport, Qt::Key_Enter);  // the keypad's Enter too
  ASSERT_EQ(boxes.boxes().size(), 1u) << "the run's first check answered";
  EXPECT_EQ(boxes.boxes()[0].text, QStringLiteral("请选择相片文件保存路径"));

  PressEnterOn(window_->btExit);
  EXPECT_FALSE(window_->isVisible()) << "the exit button closed the window";
}

TEST_F(ImportWindowKeysTest, TheFolderChooserOpensAtTheFolderInTheField) {
  guitest::TempFolder folder;
  const QString photos = QString::fromStdString((folder.path() / "相片").string());
  QDir().mkpath(photos);
  const struct {
    QString field;
    QString start;
  } cases[] = {
      {photos, photos},
      {"  " + photos + "/  ", photos},                 // as typed, with blanks and a trailing separator
      {photos + "/missing/deeper", photos},            // the nearest folder that exists
      {photos + "/photos.zip", photos},                // an archive (or any file): its folder
      {"", ""},
  };
  for (const auto& c : cases) {
    window_->edPath->setText(c.field);
    QTest::mouseClick(window_->btPath, Qt::LeftButton);
    ASSERT_FALSE(startFolders_.isEmpty());
    EXPECT_EQ(startFolders_.takeLast().toStdString(), QDir::toNativeSeparators(c.start).toStdString())
        << c.field.toStdString();
  }
}

// Standard error of this process captured into a file while it lives.
class CapturedStandardError {
 public:
  CapturedStandardError() : file_(std::tmpfile()) {
    std::fflush(stderr);
    saved_ = dup(fileno(stderr));
    dup2(fileno(file_), fileno(stderr));
  }
  ~CapturedStandardError() {
    Restore();
    std::fclose(file_);
  }
  std::string Text() {
    Restore();
    std::rewind(file_);
    std::string text;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) text.append(buffer, n);
    return text;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, fileno(stderr));
    close(saved_);
    saved_ = -1;
  }
  std::FILE* file_;
  int saved_ = -1;
};

TEST(StartupFailureTest, TheDriversMessageGoesToStandardErrorAndTheDialogOpens) {
  guitest::Application();
  guitest::TempHive hive;
  hive.Store({"CardPhotoNoSuchSource", "sa", ""});
  guitest::RecordedMessageBoxes boxes;
  CapturedStandardError captured;
  const StartedProgram program = StartProgram(hive.hive());
  const std::string err = captured.Text();
  EXPECT_NE(dynamic_cast<TDbPara*>(program.mainWindow.get()), nullptr);
  EXPECT_TRUE(boxes.boxes().empty()) << "nothing shown but the dialog";
  EXPECT_NE(err.find("数据库连接出错："), std::string::npos) << err;
  EXPECT_NE(err.find("Data source name not found"), std::string::npos) << "the driver manager's own words: " << err;
}

}  // namespace
