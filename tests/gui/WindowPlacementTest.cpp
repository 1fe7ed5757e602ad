// The splash window's content, and where the three windows open: centred on the screen.
#include <QLabel>
#include <QScreen>
#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "app/unGlobal.h"
#include "connection/frmDbPara.h"
#include "connection/frmFlash.h"
#include "data/Session.h"
#include "import/frmJSZImportImages.h"

namespace {

TEST(Splash, ShowsTheConnectStateOnItsPictureWithoutAFrame) {
  guitest::Application();
  gConnectState = kConnectingText;
  TFlash flash;
  EXPECT_EQ(flash.size(), QSize(400, 300));
  EXPECT_TRUE(flash.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_FALSE(flash.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(flash.windowTitle(), "Korvanel");
  EXPECT_EQ(flash.Image1->pos(), QPoint(0, 0));
  EXPECT_EQ(flash.Image1->pixmap().size(), QSize(400, 300));
  EXPECT_EQ(flash.Image2->geometry(), QRect(296, 8, 33, 33));
  EXPECT_EQ(flash.Image2->pixmap().size(), QSize(32, 32));
  EXPECT_EQ(flash.lbView->pos(), QPoint(16, 56));
  EXPECT_EQ(flash.lbView->text(), "系统正在连接数据库，请稍候...");
  EXPECT_EQ(flash.lbView->palette().color(QPalette::WindowText), QColor(0, 0, 0xFF));
  EXPECT_EQ(flash.lbView->font().pixelSize(), 15);
  EXPECT_EQ(flash.Label1->pos(), QPoint(328, 24));
  EXPECT_EQ(flash.Label1->text(), "Korvanel");
  EXPECT_EQ(flash.Label1->palette().color(QPalette::WindowText), QColor(0, 0, 0x80));
}

TEST(WindowPlacement, EveryWindowOpensCentredOnTheScreen) {
  guitest::Application();
  guitest::RecordedMessageBoxes boxes;  // the import window's lists fail on a closed session
  guitest::TempHive hive;
  data::Session closedSession;
  TFlash flash;
  TDbPara dialog(hive.hive());
  TJSZImportImages window(closedSession);
  const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
  for (QWidget* w : std::initializer_list<QWidget*>{&flash, &dialog, &window}) {
    const QPoint offset = w->geometry().center() - screenCentre;
    EXPECT_LE(offset.manhattanLength(), 2) << w->metaObject()->className();
  }
}

}  // namespace
