#include "connection/frmFlash.h"

#include <QApplication>
#include <QLabel>
#include <QPixmap>

#include "app/unGlobal.h"
#include "connection/WindowLook.h"

// The resources of a static library are registered by hand, outside any namespace.
static void RegisterConnectionResources() { Q_INIT_RESOURCE(connection); }

TFlash::TFlash(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  RegisterConnectionResources();
  setWindowTitle("Korvanel");
  setFixedSize(400, 300);
  setFont(windowlook::SongFont(15));

  Image1 = new QLabel(this);
  Image1->setPixmap(QPixmap(":/connection/splash.jpg"));
  Image1->move(0, 0);
  Image1->adjustSize();

  lbView = windowlook::PlaceLabel(this, QStringLiteral("系统正在初始化，请稍候..."), 16, 56, windowlook::kBlue);
  Label1 = windowlook::PlaceLabel(this, "Korvanel", 328, 24, windowlook::kNavy);

  Image2 = new QLabel(this);
  Image2->setGeometry(296, 8, 33, 33);
  Image2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image2->setPixmap(QPixmap(":/connection/icon.png"));

  windowlook::CenterOnScreen(this);
  FormCreate();
}

void TFlash::FormCreate() {
  lbView->setText(QString::fromStdString(gConnectState));
  lbView->adjustSize();
}

void TFlash::ShowAndPaint() {
  show();
  // Let the window system map the window, then paint it now: the connection attempt that follows blocks
  // the event loop, and the window is not painted again before it ends.
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  repaint();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
