// TDbPara: the connection-parameters dialog, the main window when the database cannot be reached. It says
// what to check and lets an administrator correct and save the stored connection settings for the next
// start; saving does not retry the connection.
#pragma once

#include <QWidget>

#include "app/SettingsStore.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TDbPara : public QWidget {
  Q_OBJECT

 public:
  explicit TDbPara(app::RegistryHive& hive, QWidget* parent = nullptr);

  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label8 = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* Label7 = nullptr;
  QPushButton* btMod = nullptr;
  QPushButton* btExit = nullptr;
  QGroupBox* grbBox = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label10 = nullptr;
  QLabel* Label9 = nullptr;
  QLineEdit* edOdbc = nullptr;
  QLineEdit* edUser = nullptr;
  QLineEdit* edPass = nullptr;
  QPushButton* btOk = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildUpperArea();
  void BuildGroupBox();
  void SetTabOrder();
  void FormCreate();
  bool FormKeyPress(QWidget* control);
  void btModClick();
  void btOkClick();
  void btExitClick();

  app::RegistryHive& hive_;
};
