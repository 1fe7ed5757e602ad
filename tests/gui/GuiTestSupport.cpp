#include "GuiTestSupport.h"

#include <gtest/gtest.h>

#include "support/TestPlatform.h"

#include "connection/ToolkitTranslation.h"

namespace guitest {
namespace {

constexpr const char* kBuildMachineCjkFonts = "/usr/share/fonts/opentype/noto";  // fonts-noto-cjk

}  // namespace

QApplication& Application() {
  static int argc = 1;
  static char name[] = "gui_tests";
  static char* argv[] = {name, nullptr};
  // The windows are tested without a display unless a platform is asked for.
  testsupport::SetEnvironment("QT_QPA_PLATFORM", "offscreen", false);
  // On Windows that platform reads its fonts from one folder; under Wine it is the build machine's CJK font
  // (Wine passes no QT_ variable of the Linux environment on).
  if (testsupport::RunningUnderWine())
    testsupport::SetEnvironment("QT_QPA_FONTDIR", testsupport::FromBuildMachinePath(kBuildMachineCjkFonts).string());
  static QApplication* application = [] {
#ifndef _WIN32
    // Runs that replace photos keep backups in the user's data folder: a folder of the test program's own
    // (on Windows the shell's LocalAppData, in the throwaway Wine prefix of scripts/test-windows).
    testsupport::SetEnvironment("XDG_DATA_HOME", testsupport::MakeTempFolder("cardphoto-gui-data.").string());
#endif
    auto* created = new QApplication(argc, argv);
    LoadToolkitTranslation(*created);  // as the program does: the toolkit's own texts in Chinese
    return created;
  }();
  return *application;
}

RecordedMessageBoxes::RecordedMessageBoxes(QMessageBox::StandardButton answer) {
  previous_ = messageboxes::SetMessageBoxHandler(
      [this, answer](QWidget*, const messageboxes::MessageBoxRequest& request) {
        boxes_.push_back(request);
        return answer;
      });
}

RecordedMessageBoxes::~RecordedMessageBoxes() { messageboxes::SetMessageBoxHandler(std::move(previous_)); }

TempFolder::TempFolder() {
  path_ = testsupport::MakeTempFolder("cardphoto-gui.");
}

TempFolder::~TempFolder() {
  testsupport::RemoveFolder(path_);
}

void TempHive::Store(const app::ConnectionSettings& settings) {
  ASSERT_TRUE(app::SettingsStore(hive_).Write(settings));
}

std::optional<std::string> TempHive::Stored(const std::string& valueName) {
  return hive_.ReadString(app::kProductKey, valueName);
}

}  // namespace guitest
