// Shared pieces of the window tests: the application object, message boxes recorded instead of shown,
// a settings hive in a temporary folder.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/FileHive.h"
#include "app/SettingsStore.h"
#include "connection/MessageBoxes.h"

namespace guitest {

// The one application object of the test program (offscreen platform under ctest).
QApplication& Application();

// While it lives, message boxes are recorded and answered with `answer` instead of being shown.
class RecordedMessageBoxes {
 public:
  explicit RecordedMessageBoxes(QMessageBox::StandardButton answer = QMessageBox::Ok);
  ~RecordedMessageBoxes();
  RecordedMessageBoxes(const RecordedMessageBoxes&) = delete;
  RecordedMessageBoxes& operator=(const RecordedMessageBoxes&) = delete;

  const std::vector<messageboxes::MessageBoxRequest>& boxes() const { return boxes_; }

 private:
  std::vector<messageboxes::MessageBoxRequest> boxes_;
  messageboxes::MessageBoxHandler previous_;
};

// A folder of its own, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A machine hive kept in a file of a temporary folder.
class TempHive {
 public:
  TempHive() : hive_(folder_.path() / "registry.reg") {}
  app::FileHive& hive() { return hive_; }
  // Stores settings the way the connection-parameters dialog does.
  void Store(const app::ConnectionSettings& settings);
  // A value as it is stored (encoded), std::nullopt when missing.
  std::optional<std::string> Stored(const std::string& valueName);

 private:
  TempFolder folder_;
  app::FileHive hive_;
};

}  // namespace guitest
