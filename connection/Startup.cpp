#include "connection/Startup.h"

#include <QApplication>
#include <cstdio>
#include <exception>

#include "app/unGlobal.h"
#include "connection/frmDbPara.h"
#include "import/frmJSZImportImages.h"

namespace {

void ConnectAndCreateWindow(app::RegistryHive& hive, StartedProgram& program) {
  program.module = std::make_unique<TLibDM>(hive);
  if (gConnectState == kConnectedText) {
    program.mainWindow = std::make_unique<TJSZImportImages>(program.module->LibDB);
  } else {
    program.mainWindow = std::make_unique<TDbPara>(hive);
  }
}

// The dialog's own text tells what to check, and says nothing of the failure itself: the driver's message
// goes to standard error, where an administrator (or the log of the desktop session) finds it.
void ReportStartFailure(const char* message) {
  std::fprintf(stderr, "%s: 数据库连接出错：%s\n", kAppTitle, message);
  std::fflush(stderr);
}

void OpenDialogInstead(app::RegistryHive& hive, StartedProgram& program) {
  program.mainWindow.reset();
  program.module.reset();
  program.mainWindow = std::make_unique<TDbPara>(hive);
}

}  // namespace

StartedProgram StartProgram(app::RegistryHive& hive) {
  gConnectState.clear();
  gScale = 10;
  QApplication::setApplicationName(QString::fromUtf8(kAppTitle));

  StartedProgram program;
  try {
    ConnectAndCreateWindow(hive, program);
  } catch (const std::exception& failure) {
    ReportStartFailure(failure.what());
    OpenDialogInstead(hive, program);
  } catch (...) {
    ReportStartFailure("unknown failure");
    OpenDialogInstead(hive, program);
  }
  return program;
}
