// Every message box of the program goes through ShowMessageBox, so that one replaceable handler decides
// how a box is shown: modally by default, recorded and answered by tests.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>
#include <string>
#include <utility>

#include "app/unGlobal.h"

namespace messageboxes {

struct MessageBoxRequest {
  QMessageBox::Icon icon;
  QString caption;
  QString text;
  QMessageBox::StandardButtons buttons;
  // The button that Enter presses; NoButton leaves the toolkit's choice.
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Returns the button that closed the box.
using MessageBoxHandler = std::function<QMessageBox::StandardButton(QWidget* parent, const MessageBoxRequest&)>;

inline QMessageBox::StandardButton ShowModalMessageBox(QWidget* parent, const MessageBoxRequest& request) {
  QMessageBox box(request.icon, request.caption, request.text, request.buttons, parent);
  if (request.defaultButton != QMessageBox::NoButton) box.setDefaultButton(request.defaultButton);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

inline MessageBoxHandler& CurrentHandler() {
  static MessageBoxHandler handler = ShowModalMessageBox;
  return handler;
}

// Installs a handler and returns the one it replaces.
inline MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  return std::exchange(CurrentHandler(), std::move(handler));
}

inline QMessageBox::StandardButton ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                                  const QString& text,
                                                  QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                                  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton) {
  return CurrentHandler()(parent, MessageBoxRequest{icon, caption, text, buttons, defaultButton});
}

inline constexpr const char* kToolCaption = "提示信息";

// The text of the standard error box: the failure's text with a full stop appended when its last
// character sorts after ".".
inline QString StandardErrorText(const QString& failureText) {
  if (!failureText.isEmpty()) {
    const char32_t last = failureText.toStdU32String().back();
    if (last > U'.') return failureText + ".";
  }
  return failureText;
}

// How a failure that no handler of the tool catches is shown: stop icon, OK, the application title.
inline void ShowStandardErrorBox(QWidget* parent, const std::string& failureText) {
  ShowMessageBox(parent, QMessageBox::Critical, QString::fromUtf8(kAppTitle),
                 StandardErrorText(QString::fromStdString(failureText)));
}

}  // namespace messageboxes
