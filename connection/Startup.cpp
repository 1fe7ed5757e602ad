#include "connection/Startup.h"

#include <QApplication>

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

}  // namespace

StartedProgram StartProgram(app::RegistryHive& hive) {
  gConnectState.clear();
  gScale = 10;
  QApplication::setApplicationName(QString::fromUtf8(kAppTitle));

  StartedProgram program;
  try {
    ConnectAndCreateWindow(hive, program);
  } catch (...) {
    // The dialog's own text tells what to check; the failure itself is not shown.
    program.mainWindow.reset();
    program.module.reset();
    program.mainWindow = std::make_unique<TDbPara>(hive);
  }
  return program;
}
