// The connection-parameters dialog driven through its widgets.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "app/SettingsCodec.h"
#include "connection/frmDbPara.h"

namespace {

using guitest::RecordedMessageBoxes;
using guitest::TempHive;

class DbParaTest : public ::testing::Test {
 protected:
  void SetUp() override { guitest::Application(); }

  // Shows the dialog as the active window, the way the program opens it.
  std::unique_ptr<TDbPara> OpenDialog(app::RegistryHive& hive) {
    auto dialog = std::make_unique<TDbPara>(hive);
    dialog->show();
    dialog->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    return dialog;
  }

  TempHive hive_;
};

QString TextOf(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
  return {};
}

TEST_F(DbParaTest, ControlsSitWhereDesignedWithTheirTexts) {
  TDbPara dialog(hive_.hive());
  const std::vector<std::tuple<QWidget*, QRect, QString>> controls = {
      {dialog.Label4, {24, 8, 0, 0}, "数据库连接出错！！！"},
      {dialog.Label5, {48, 32, 0, 0}, "首先检查数据库服务器是否已运行；"},
      {dialog.Label8, {48, 48, 0, 0}, "再检查与服务器的通信是否正常；"},
      {dialog.Label6, {48, 64, 0, 0}, "再检查数据库参数是否是正确（注意不要随意改动）。"},
      {dialog.Label7, {50, 80, 0, 0}, "确定无误后，重新运行系统。或与系统管理员联系。"},
      {dialog.btMod, {352, 40, 121, 25}, "修改数据库连接参数"},
      {dialog.btExit, {352, 72, 121, 25}, "取消"},
      {dialog.grbBox, {8, 112, 465, 113}, ""},
      {dialog.Label1, {24, 24, 0, 0}, "ODBC名称"},
      {dialog.Label2, {12, 48, 0, 0}, "登录标识号"},
      {dialog.Label3, {48, 72, 0, 0}, "密码"},
      {dialog.Label10, {302, 24, 0, 0}, "请不要随意改动！！！"},
      {dialog.Label9, {8, 93, 0, 0}, "注意：此参数是与数据库连接使用的参数，非操作员用户和密码。"},
      {dialog.edOdbc, {72, 16, 121, 20}, ""},
      {dialog.edUser, {72, 40, 121, 20}, ""},
      {dialog.edPass, {72, 64, 121, 20}, ""},
      {dialog.btOk, {336, 56, 121, 25}, "保存数据库连接参数"},
  };
  for (const auto& [control, geometry, text] : controls) {
    SCOPED_TRACE(text.toStdString());
    EXPECT_EQ(control->pos(), geometry.topLeft());
    if (!geometry.size().isNull()) {
      EXPECT_EQ(control->size(), geometry.size());
    }
    EXPECT_EQ(TextOf(control), text);
  }
  for (QLabel* label : {dialog.Label4, dialog.Label5, dialog.Label8, dialog.Label6, dialog.Label7,
                        dialog.Label10, dialog.Label9}) {
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::red)) << label->text().toStdString();
  }
  for (QLabel* label : {dialog.Label1, dialog.Label2, dialog.Label3}) {
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 0x80)) << label->text().toStdString();
    EXPECT_TRUE(label->alignment() & Qt::AlignRight);
  }
  EXPECT_TRUE(dialog.Label10->font().underline());
  EXPECT_EQ(dialog.Label10->font().pixelSize(), 15);
  EXPECT_EQ(dialog.font().pixelSize(), 12);
  EXPECT_EQ(dialog.windowTitle(), "设置数据库【Lib】连接参数");
  EXPECT_EQ(dialog.size(), QSize(483, 105));
  EXPECT_FALSE(dialog.grbBox->isVisibleTo(&dialog));
  EXPECT_EQ(dialog.edOdbc->echoMode(), QLineEdit::Normal);
  EXPECT_EQ(dialog.edUser->echoMode(), QLineEdit::Password);
  EXPECT_EQ(dialog.edPass->echoMode(), QLineEdit::Password);
}

TEST_F(DbParaTest, FieldsShowTheStoredSettingsOrStayEmptyWithoutTheKey) {
  {
    TDbPara dialog(hive_.hive());
    EXPECT_EQ(dialog.edOdbc->text(), "");
    EXPECT_EQ(dialog.edUser->text(), "");
    EXPECT_EQ(dialog.edPass->text(), "");
  }
  hive_.Store({"LibODBC2", "读者管理", "secret"});
  TDbPara dialog(hive_.hive());
  EXPECT_EQ(dialog.edOdbc->text(), "LibODBC2");
  EXPECT_EQ(dialog.edUser->text(), "读者管理");
  EXPECT_EQ(dialog.edPass->text(), "secret");
}

TEST_F(DbParaTest, UndecodableStoredValueIsShownAndTheDialogStillOpens) {
  hive_.hive().WriteStrings(app::kProductKey, {{"ODBCNAME", "LibODBC"}, {"USERNAME", "34x3"}});
  RecordedMessageBoxes boxes;
  TDbPara dialog(hive_.hive());
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes.boxes()[0].caption, "批量加入借书证相片");
  EXPECT_EQ(boxes.boxes()[0].text, "'x' is not a valid integer value.");
  EXPECT_EQ(dialog.windowTitle(), "设置数据库【Lib】连接参数");
}

TEST_F(DbParaTest, OpensWithFocusOnExitAndEnterClosesIt) {
  auto dialog = OpenDialog(hive_.hive());
  ASSERT_EQ(QApplication::focusWidget(), dialog->btExit);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(DbParaTest, ModifyExpandsOnceToTheFullHeight) {
  auto dialog = OpenDialog(hive_.hive());
  QTest::mouseClick(dialog->btMod, Qt::LeftButton);
  EXPECT_TRUE(dialog->grbBox->isVisible());
  EXPECT_EQ(dialog->size(), QSize(483, 261 - 26 - 3));  // outer height 261 with the dialog frame
  QTest::mouseClick(dialog->btMod, Qt::LeftButton);
  EXPECT_EQ(dialog->size(), QSize(483, 232));
  EXPECT_TRUE(dialog->grbBox->isVisible());
}

TEST_F(DbParaTest, TabOrderRunsFromExitThroughTheGroupBox) {
  auto dialog = OpenDialog(hive_.hive());
  dialog->btMod->click();
  const std::vector<QWidget*> order = {dialog->btExit, dialog->btMod,  dialog->edOdbc, dialog->edUser,
                                       dialog->edPass, dialog->btOk,  dialog->btExit};
  for (size_t i = 0; i + 1 < order.size(); ++i) {
    ASSERT_EQ(QApplication::focusWidget(), order[i]) << i;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
}

TEST_F(DbParaTest, EnterMovesToTheNextControlAndStillReachesTheEdit) {
  auto dialog = OpenDialog(hive_.hive());
  QTest::keyClick(dialog->btMod, Qt::Key_Tab, Qt::ShiftModifier);  // from btExit back to btMod
  ASSERT_EQ(QApplication::focusWidget(), dialog->btMod);
  // Enter on a button clicks it, then moves on: the group box opens and the data-source field has focus.
  QTest::keyClick(dialog->btMod, Qt::Key_Return);
  ASSERT_TRUE(dialog->grbBox->isVisible());
  ASSERT_EQ(QApplication::focusWidget(), dialog->edOdbc);

  QSignalSpy returnPressed(dialog->edOdbc, &QLineEdit::returnPressed);
  QTest::keyClick(dialog->edOdbc, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(QApplication::focusWidget(), dialog->edUser);
  EXPECT_EQ(returnPressed.count(), 1);  // the key was not consumed by the move
  QTest::keyClick(dialog->edUser, Qt::Key_Return);
  EXPECT_EQ(QApplication::focusWidget(), dialog->edPass);
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(DbParaTest, SaveCreatesTheKeysWritesTrimmedEncodedValuesAndCloses) {
  auto dialog = OpenDialog(hive_.hive());
  dialog->btMod->click();
  dialog->edOdbc->setText("  LibODBC2 ");
  dialog->edUser->setText(" abc");
  dialog->edPass->setText("\tpw  ");
  RecordedMessageBoxes boxes;
  QTest::mouseClick(dialog->btOk, Qt::LeftButton);
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_TRUE(hive_.hive().KeyExists(app::kMakerKey));
  EXPECT_EQ(hive_.Stored("ODBCNAME"), "LibODBC2");
  EXPECT_EQ(hive_.Stored("USERNAME"), "340334043407");
  EXPECT_EQ(hive_.Stored("PASSWORD"), app::EncodeSetting("pw"));
}

TEST_F(DbParaTest, UnwritableKeyShowsTheAdministratorMessageAndCloses) {
  // The hive's folder is a plain file: nothing can be created there, not even by the superuser.
  guitest::TempFolder folder;
  std::ofstream(folder.path() / "not-a-folder") << "x";
  app::FileHive hive(folder.path() / "not-a-folder" / "registry.reg");
  auto dialog = OpenDialog(hive);
  dialog->btMod->click();
  dialog->edOdbc->setText("LibODBC");
  RecordedMessageBoxes boxes;
  dialog->btOk->click();
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Information);
  EXPECT_EQ(boxes.boxes()[0].caption, "提示信息");
  EXPECT_EQ(boxes.boxes()[0].text,
            "保存您配置的参数失败！只有具有权限的用户，如Administrator才能修改，请与系统管理员联系！");
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "not-a-folder" / "registry.reg"));
}

TEST_F(DbParaTest, FailureToCreateTheKeyIsShownAndTheDialogStaysOpen) {
  // The hive's place is taken by a folder: the file cannot be replaced, so the missing key cannot be made.
  guitest::TempFolder folder;
  std::filesystem::create_directory(folder.path() / "registry.reg");
  app::FileHive hive(folder.path() / "registry.reg");
  auto dialog = OpenDialog(hive);
  dialog->btMod->click();
  RecordedMessageBoxes boxes;
  dialog->btOk->click();
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes.boxes()[0].caption, "批量加入借书证相片");
  EXPECT_EQ(boxes.boxes()[0].text, "Failed to create key SOFTWARE\\Korvanel.");
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(DbParaTest, ExitClosesWithoutSaving) {
  auto dialog = OpenDialog(hive_.hive());
  dialog->btMod->click();
  dialog->edOdbc->setText("Other");
  QTest::mouseClick(dialog->btExit, Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_FALSE(hive_.hive().KeyExists(app::kProductKey));
}

}  // namespace
