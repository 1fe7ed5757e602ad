// TFlash: the splash window shown while the database connection is attempted.
#pragma once

#include <QWidget>

class QLabel;

class TFlash : public QWidget {
  Q_OBJECT

 public:
  explicit TFlash(QWidget* parent = nullptr);

  // Shows the window and paints it at once, so that it stays visible while the caller blocks.
  void ShowAndPaint();

  QLabel* Image1 = nullptr;
  QLabel* lbView = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Image2 = nullptr;

 private:
  void FormCreate();
};
