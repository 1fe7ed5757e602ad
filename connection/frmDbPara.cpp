#include "connection/frmDbPara.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <exception>
#include <initializer_list>

#include "connection/MessageBoxes.h"
#include "connection/WindowLook.h"

namespace {

constexpr int kClientWidth = 483;
constexpr int kCompactClientHeight = 105;
constexpr int kExpandedOuterHeight = 261;

QPushButton* PlaceButton(QWidget* parent, const QString& text, int x, int y, int width, int height) {
  auto* button = new QPushButton(text, parent);
  button->setGeometry(x, y, width, height);
  button->setFocusPolicy(Qt::StrongFocus);
  return button;
}

QLineEdit* PlaceEdit(QWidget* parent, int x, int y, bool masked) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(x, y, 121, 20);
  if (masked) {
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet("QLineEdit { lineedit-password-character: 42; }");  // "*"
  }
  return edit;
}

}  // namespace

TDbPara::TDbPara(app::RegistryHive& hive, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      hive_(hive) {
  setWindowTitle(QStringLiteral("设置数据库连接参数"));
  setFont(windowlook::SongFont(12));
  setFixedSize(kClientWidth, kCompactClientHeight);
  BuildUpperArea();
  BuildGroupBox();
  SetTabOrder();
  // Keyboard preview: the window sees every key of its controls before they do.
  for (QWidget* control : std::initializer_list<QWidget*>{btExit, btMod, edOdbc, edUser, edPass, btOk}) {
    control->installEventFilter(this);
  }
  btExit->setFocus();
  windowlook::CenterOnScreen(this);
  FormCreate();
}

void TDbPara::BuildUpperArea() {
  using windowlook::kRed;
  using windowlook::PlaceLabel;
  Label4 = PlaceLabel(this, QStringLiteral("数据库连接出错！！！"), 24, 8, kRed);
  Label5 = PlaceLabel(this, QStringLiteral("首先检查数据库服务器是否已运行；"), 48, 32, kRed);
  Label8 = PlaceLabel(this, QStringLiteral("再检查与服务器的通信是否正常；"), 48, 48, kRed);
  Label6 = PlaceLabel(this, QStringLiteral("再检查数据库参数是否是正确（注意不要随意改动）。"), 48, 64, kRed);
  Label7 = PlaceLabel(this, QStringLiteral("确定无误后，重新运行系统。或与系统管理员联系。"), 50, 80, kRed);
  btMod = PlaceButton(this, QStringLiteral("修改数据库连接参数"), 352, 40, 121, 25);
  btExit = PlaceButton(this, QStringLiteral("取消"), 352, 72, 121, 25);
  connect(btMod, &QPushButton::clicked, this, &TDbPara::btModClick);
  connect(btExit, &QPushButton::clicked, this, &TDbPara::btExitClick);
}

void TDbPara::BuildGroupBox() {
  using windowlook::kNavy;
  using windowlook::kRed;
  using windowlook::PlaceLabel;
  grbBox = new QGroupBox(this);
  grbBox->setGeometry(8, 112, 465, 113);
  grbBox->hide();

  Label1 = PlaceLabel(grbBox, QStringLiteral("ODBC名称"), 24, 24, kNavy);
  Label2 = PlaceLabel(grbBox, QStringLiteral("登录标识号"), 12, 48, kNavy);
  Label3 = PlaceLabel(grbBox, QStringLiteral("密码"), 48, 72, kNavy);
  for (QLabel* label : {Label1, Label2, Label3}) label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  Label10 = new windowlook::SongLabel(QStringLiteral("请不要随意改动！！！"), grbBox);
  QFont warningFont = windowlook::SongFont(15);
  warningFont.setUnderline(true);
  Label10->setFont(warningFont);
  windowlook::SetTextColor(Label10, kRed);
  Label10->move(302, 24);
  Label10->adjustSize();
  Label9 = PlaceLabel(grbBox, QStringLiteral("注意：此参数是与数据库连接使用的参数，非操作员用户和密码。"), 8, 93, kRed);

  edOdbc = PlaceEdit(grbBox, 72, 16, false);
  edUser = PlaceEdit(grbBox, 72, 40, true);
  edPass = PlaceEdit(grbBox, 72, 64, true);
  btOk = PlaceButton(grbBox, QStringLiteral("保存数据库连接参数"), 336, 56, 121, 25);
  connect(btOk, &QPushButton::clicked, this, &TDbPara::btOkClick);
}

void TDbPara::SetTabOrder() {
  setTabOrder(btExit, btMod);
  setTabOrder(btMod, edOdbc);
  setTabOrder(edOdbc, edUser);
  setTabOrder(edUser, edPass);
  setTabOrder(edPass, btOk);
}

void TDbPara::FormCreate() {
  setWindowTitle(QStringLiteral("设置数据库【") + QString::fromUtf8(app::kProductName) + QStringLiteral("】连接参数"));
  try {
    app::SettingsStore store(hive_);
    const app::ConnectionSettings settings = store.Read().value_or(app::ConnectionSettings{});
    edOdbc->setText(QString::fromStdString(settings.odbcName));
    edUser->setText(QString::fromStdString(settings.userName));
    edPass->setText(QString::fromStdString(settings.password));
  } catch (const std::exception& failure) {
    messageboxes::ShowStandardErrorBox(nullptr, failure.what());
  }
}

bool TDbPara::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      return FormKeyPress(static_cast<QWidget*>(watched));
    }
  }
  return QWidget::eventFilter(watched, event);
}

// Enter clicks a focused button and moves the focus to the next control in tab order, the way a dialog
// navigates; the key itself still goes on to the control.
bool TDbPara::FormKeyPress(QWidget* control) {
  if (auto* button = qobject_cast<QPushButton*>(control)) button->click();
  if (isVisible()) focusNextPrevChild(true);
  return false;
}

void TDbPara::btModClick() {
  grbBox->show();
  setFixedSize(kClientWidth, windowlook::DialogClientHeight(kExpandedOuterHeight));
}

void TDbPara::btOkClick() {
  try {
    app::SettingsStore store(hive_);
    const bool saved = store.Write({edOdbc->text().toStdString(), edUser->text().toStdString(),
                                    edPass->text().toStdString()});
    if (!saved) {
      messageboxes::ShowMessageBox(
          this, QMessageBox::Information, QString::fromUtf8(messageboxes::kToolCaption),
          QStringLiteral("保存您配置的参数失败！只有具有权限的用户，如Administrator才能修改，请与系统管理员联系！"));
    }
    close();
  } catch (const std::exception& failure) {
    // A key that cannot be created or a value that cannot be written: the window stays open.
    messageboxes::ShowStandardErrorBox(this, failure.what());
  }
}

void TDbPara::btExitClick() { close(); }
