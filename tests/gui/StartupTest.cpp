// Program start-up: which main window a start gives, with which connection settings, on real data
// sources of both backends registered in the test's own odbc.ini.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <filesystem>

#include "GuiTestSupport.h"
#include "app/SettingsCodec.h"
#include "app/unGlobal.h"
#include "connection/Startup.h"
#include "connection/frmDbPara.h"
#include "connection/frmFlash.h"
#include "import/frmJSZImportImages.h"
#include "support/TestDatabase.h"
#include "support/TestPlatform.h"

namespace {

using testsupport::Backend;
using Strings = std::vector<std::string>;

bool AnySplashWindowLeft() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (qobject_cast<TFlash*>(window) != nullptr) return true;
  }
  return false;
}

// Records what the splash window showed and whether it was painted while a start lasted.
class SplashWatcher : public QObject {
 public:
  SplashWatcher() { QApplication::instance()->installEventFilter(this); }
  ~SplashWatcher() override { QApplication::instance()->removeEventFilter(this); }
  QStringList shownTexts;
  int paints = 0;
  int exposedPaints = 0;  // paints of a window already on the screen: only those are seen

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (auto* flash = qobject_cast<TFlash*>(watched)) {
      if (event->type() == QEvent::Show) shownTexts << flash->lbView->text();
      if (event->type() == QEvent::Paint) {
        ++paints;
        if (flash->windowHandle() != nullptr && flash->windowHandle()->isExposed()) ++exposedPaints;
      }
    }
    return false;
  }
};

class StartupTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    guitest::Application();
    database_ = testsupport::TestDatabase::Create(GetParam(), {.withDemoData = true});
    if (!database_) GTEST_SKIP() << testsupport::UnavailableReason(GetParam());
  }

  // A start that must open the import window.
  static TJSZImportImages* ImportWindowOf(const StartedProgram& program) {
    return dynamic_cast<TJSZImportImages*>(program.mainWindow.get());
  }
  static TDbPara* DialogOf(const StartedProgram& program) {
    return dynamic_cast<TDbPara*>(program.mainWindow.get());
  }

  // unixODBC may keep reading a data source's old section for a moment after odbc.ini changed: every
  // test registers names of its own.
  testsupport::TestDatabase::Dsn Register(const std::string& name) {
    return database_->RegisterDataSource(name + testsupport::BackendName(GetParam()));
  }

  std::unique_ptr<testsupport::TestDatabase> database_;
  guitest::TempHive hive_;
};

TEST_P(StartupTest, ReachableDataSourceOpensTheImportWindowWithBothListsFilled) {
  const auto dsn = Register("CardPhotoStartup");
  hive_.Store({dsn.name, dsn.user, dsn.password});
  guitest::RecordedMessageBoxes boxes;
  gScale = 7;
  gConnectState = "leftover";

  StartedProgram program = StartProgram(hive_.hive());

  TJSZImportImages* window = ImportWindowOf(program);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(gConnectState, "OK");
  EXPECT_EQ(gScale, 10);
  EXPECT_EQ(QApplication::applicationName(), "批量加入借书证相片");
  EXPECT_FALSE(AnySplashWindowLeft());
  ASSERT_NE(program.module, nullptr);
  EXPECT_TRUE(program.module->LibDB.IsConnected());
  EXPECT_EQ(program.module->AliasName(), dsn.name);
  EXPECT_EQ(program.module->Params(), (Strings{"USER NAME=" + dsn.user, "PASSWORD=" + dsn.password}));
  EXPECT_EQ(window->cbbDZ->count(), 2 + 5);  // the fixed entries and the five demo categories
  EXPECT_EQ(window->cbbDZ->currentIndex(), 0);
  EXPECT_EQ(window->cbbDW->count(), 1);
  EXPECT_EQ(window->cbbDW->currentIndex(), 0);

  // Closing the main window ends the program.
  window->show();
  QTimer::singleShot(0, window, &QWidget::close);
  EXPECT_EQ(QApplication::exec(), 0);
}

TEST_P(StartupTest, UnknownDataSourceOpensTheDialogSilently) {
  hive_.Store({"NoSuchDataSource", "sa", ""});
  guitest::RecordedMessageBoxes boxes;
  SplashWatcher splash;

  StartedProgram program = StartProgram(hive_.hive());

  // The splash window was shown with the connecting text and painted before the attempt, then went.
  EXPECT_EQ(splash.shownTexts, QStringList{"系统正在连接数据库，请稍候..."});
  EXPECT_GE(splash.paints, 1);
  EXPECT_GE(splash.exposedPaints, 1);
  EXPECT_EQ(gConnectState, "系统正在连接数据库，请稍候...");

  TDbPara* dialog = DialogOf(program);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(program.module, nullptr);
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_FALSE(AnySplashWindowLeft());
  EXPECT_EQ(dialog->edOdbc->text(), "NoSuchDataSource");
}

TEST_P(StartupTest, SettingsSavedInTheDialogAreUsedByTheNextStart) {
  const auto dsn = Register("CardPhotoSaved");
  hive_.Store({"NoSuchDataSource", "", ""});
  StartedProgram first = StartProgram(hive_.hive());
  TDbPara* dialog = DialogOf(first);
  ASSERT_NE(dialog, nullptr);
  dialog->btMod->click();
  dialog->edOdbc->setText(QString::fromStdString(" " + dsn.name + " "));
  dialog->edUser->setText(QString::fromStdString(dsn.user));
  dialog->edPass->setText(QString::fromStdString(dsn.password));
  dialog->btOk->click();
  EXPECT_EQ(hive_.Stored("USERNAME"), app::EncodeSetting(dsn.user));

  StartedProgram next = StartProgram(hive_.hive());
  ASSERT_NE(ImportWindowOf(next), nullptr);
  EXPECT_EQ(next.module->AliasName(), dsn.name);
}

TEST_P(StartupTest, StoredUserIsTheOneTheServerSees) {
  if (GetParam() != Backend::Postgres) GTEST_SKIP() << "SQLite takes any user name";
  const auto dsn = Register("CardPhotoUnknownUser");
  hive_.Store({dsn.name, "no_such_reader_admin", dsn.password});
  guitest::RecordedMessageBoxes boxes;
  StartedProgram program = StartProgram(hive_.hive());
  EXPECT_NE(DialogOf(program), nullptr);  // the server refused the login
  EXPECT_EQ(program.module, nullptr);
  EXPECT_TRUE(boxes.boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, StartupTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

// Starts that SQLite shows as well as any server: it ignores the user name and password, so what the
// module passes on is read from its parameters.
class StartupSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    guitest::Application();
    database_ = testsupport::TestDatabase::Create(Backend::Sqlite);
    ASSERT_NE(database_, nullptr);
  }
  std::unique_ptr<testsupport::TestDatabase> database_;
  guitest::TempHive hive_;
};

TEST_F(StartupSettingsTest, WithoutTheKeyTheDesignTimeAliasAndUserAreUsed) {
  database_->RegisterDataSource("LibODBC");
  guitest::RecordedMessageBoxes boxes;
  StartedProgram program = StartProgram(hive_.hive());
  EXPECT_TRUE(boxes.boxes().empty());
  ASSERT_NE(program.module, nullptr);
  EXPECT_NE(dynamic_cast<TJSZImportImages*>(program.mainWindow.get()), nullptr);
  EXPECT_EQ(program.module->AliasName(), "LibODBC");
  EXPECT_EQ(program.module->Params(), (Strings{"USER NAME=sa", "PASSWORD="}));
}

TEST_F(StartupSettingsTest, StoredUserNameReplacesTheDesignTimeUserEvenWhenEmpty) {
  database_->RegisterDataSource("CardPhotoUsers");
  guitest::RecordedMessageBoxes boxes;
  for (const std::string& user : {std::string("abc"), std::string()}) {
    hive_.Store({"CardPhotoUsers", user, "pw"});
    StartedProgram program = StartProgram(hive_.hive());
    ASSERT_NE(program.module, nullptr) << user;
    EXPECT_EQ(program.module->Params(), (Strings{"USER NAME=" + user, "PASSWORD=pw"}));
  }
  EXPECT_EQ(hive_.Stored("USERNAME"), "");
}

// Settings that are there but cannot be read are empty values, not the defaults: a reachable "LibODBC"
// must not be used in their place. The administrator learns on standard error which file failed and why.
TEST_F(StartupSettingsTest, UnreadableSettingsOpenTheDialogAndSayWhyOnStandardError) {
  database_->RegisterDataSource("LibODBC");
  std::filesystem::create_directory(hive_.hive().file());  // a folder in the settings file's place
  guitest::RecordedMessageBoxes boxes;
  ::testing::internal::CaptureStderr();
  StartedProgram program = StartProgram(hive_.hive());
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(program.module, nullptr);
  EXPECT_NE(dynamic_cast<TDbPara*>(program.mainWindow.get()), nullptr);
  EXPECT_NE(errors.find(hive_.hive().file().string() + ": " + testsupport::kFolderOpenedAsFile), std::string::npos)
      << errors;
}

TEST_F(StartupSettingsTest, UndecodableStoredValueOpensTheDialogWhichReportsIt) {
  hive_.hive().WriteStrings(app::kProductKey, {{"ODBCNAME", "LibODBC"}, {"PASSWORD", "0 00"}});
  guitest::RecordedMessageBoxes boxes;
  StartedProgram program = StartProgram(hive_.hive());
  EXPECT_EQ(program.module, nullptr);
  EXPECT_NE(dynamic_cast<TDbPara*>(program.mainWindow.get()), nullptr);
  // Only the dialog's own reading of the settings is shown; the failed start is not.
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, "' ' is not a valid integer value.");
}

}  // namespace
