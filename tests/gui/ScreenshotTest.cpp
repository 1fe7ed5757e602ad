// What a person sees: the splash, the import window and the dialog (compact and expanded) rendered to PNG
// files under <build>/screenshots, to be looked at. The test checks only that the pictures were written.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QPixmap>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "GuiTestSupport.h"
#include "app/unGlobal.h"
#include "connection/frmDbPara.h"
#include "connection/frmFlash.h"
#include "data/Session.h"
#include "import/frmJSZImportImages.h"
#include "support/TestDatabase.h"

namespace {

QString ScreenshotFolder() {
  const QString folder = QString(CARDPHOTO_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  return folder;
}

void Save(QWidget& window, const char* name) {
  window.show();
  QApplication::processEvents();
  const QString file = ScreenshotFolder() + "/" + name + ".png";
  ASSERT_TRUE(window.grab().save(file)) << file.toStdString();
}

TEST(Screenshots, SplashImportWindowAndDialog) {
  guitest::Application();
  guitest::RecordedMessageBoxes boxes;
  gConnectState = kConnectingText;
  TFlash flash;
  Save(flash, "splash");

  auto database = testsupport::TestDatabase::Create(testsupport::Backend::Sqlite, {.withDemoData = true});
  ASSERT_NE(database, nullptr);
  data::Session session;
  session.ConnectString(database->ConnectionString());
  TJSZImportImages window(session);
  Save(window, "import-window");
  window.rbType4->setChecked(true);
  window.cbbDZ->setCurrentIndex(2);
  emit window.cbbDZ->activated(2);  // as if the user chose the first category: its departments follow
  window.cbbDW->setCurrentIndex(1);
  window.rbFormat2->setChecked(true);
  window.edPath->setText("/home/library/photos");
  window.memError->appendPlainText("/home/library/photos/A00009.jpg 图片有问题，未能导入！");
  window.lbFile->setText("/home/library/photos/A00001.jpg");
  window.lbNo->setText("A00001");
  window.lbName->setText("张三");
  window.pBar->show();
  window.pBar->setValue(40);
  Save(window, "import-window-by-name");

#ifndef _WIN32  // the demo photos come from a Linux script
  // After a run over the demo photo folder: the last photo in the preview, the labels of the last reader
  // whose file was found, the failures and the summary in the log.
  const QString photos = ScreenshotFolder() + "/demo-photos";
  const std::string make = std::string("bash '") + CARDPHOTO_SOURCE_DIR + "/scripts/make-demo-photos' '" +
                           photos.toStdString() + "' >/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0);
  TJSZImportImages afterRun(session);
  afterRun.edPath->setText(photos);
  afterRun.cbBackup->click();
  guitest::RecordedMessageBoxes answers(QMessageBox::Yes);
  afterRun.btImport->click();
  Save(afterRun, "import-window-after-run");
#endif

  guitest::TempHive hive;
  hive.Store({"LibODBC", "sa", "secret"});
  TDbPara dialog(hive.hive());
  Save(dialog, "dialog-compact");
  dialog.btMod->click();
  Save(dialog, "dialog-expanded");
}

}  // namespace
