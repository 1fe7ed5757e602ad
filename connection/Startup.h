// Program start-up: the shared globals, the application title, the connection module and the choice of
// the one main window.
#pragma once

#include <QWidget>
#include <memory>

#include "app/SettingsStore.h"
#include "connection/dmLibData.h"

// The connection module (null when the connection failed) and the main window: the import window when
// connected, otherwise the connection-parameters dialog. The window goes before the module it uses.
struct StartedProgram {
  std::unique_ptr<TLibDM> module;
  std::unique_ptr<QWidget> mainWindow;
};

// Resets the shared globals, sets the application title, connects and creates the main window (not yet
// shown). Never throws: any failure while connecting or creating the import window leads to the dialog,
// and its message (the driver's, for a connection) goes to standard error. Needs a QApplication.
StartedProgram StartProgram(app::RegistryHive& hive);
