#include "connection/frmFlash.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <QWindow>

#include "app/unGlobal.h"
#include "connection/WindowLook.h"

// The resources of a static library are registered by hand, outside any namespace.
static void RegisterConnectionResources() { Q_INIT_RESOURCE(connection); }

namespace {

// The longest the splash waits for the window system to show it before painting anyway.
constexpr int kExposeWaitMs = 2000;

// Ends an event loop when the window system sends the window an expose event.
class ExposeWatcher : public QObject {
 public:
  ExposeWatcher(QWindow* window, QEventLoop* loop) : window_(window), loop_(loop) {
    window_->installEventFilter(this);
  }
  ~ExposeWatcher() override { window_->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Expose) QTimer::singleShot(0, loop_, &QEventLoop::quit);
    return false;
  }

 private:
  QWindow* window_;
  QEventLoop* loop_;
};

// A window manager maps a new window in its own time, after a round trip through it; whatever is painted
// before the window is exposed never reaches the screen, and the connection attempt that follows blocks
// the event loop. So the window system's events are handled (user input aside) until the window is
// exposed, for a bounded time.
void WaitUntilExposed(QWindow* window) {
  const QDeadlineTimer deadline(kExposeWaitMs);
  while (window != nullptr && !window->isExposed() && !deadline.hasExpired()) {
    QEventLoop loop;
    ExposeWatcher watcher(window, &loop);
    QTimer::singleShot(static_cast<int>(deadline.remainingTime()), &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
}

}  // namespace

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
  // Paint once the window is on the screen: the connection attempt that follows blocks the event loop,
  // and the window is not painted again before it ends.
  WaitUntilExposed(windowHandle());
  repaint();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
