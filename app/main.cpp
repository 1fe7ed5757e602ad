// The desktop program: connects to the library database with the machine's stored settings and opens the
// import window, or the connection-parameters dialog when the database cannot be reached.
#include <QApplication>
#include <memory>

#include "app/QtTranslation.h"
#include "app/SettingsStore.h"
#include "connection/Startup.h"

int main(int, char** argv) {
  // The command line is not read: the toolkit sees the program's name only.
  int toolkitArgc = 1;
  char* toolkitArgv[] = {argv[0], nullptr};
  QApplication application(toolkitArgc, toolkitArgv);
  InstallQtTranslation(application);
  const std::unique_ptr<app::RegistryHive> hive = app::OpenMachineHive();
  StartedProgram program = StartProgram(*hive);
  program.mainWindow->show();
  return application.exec();
}
