// A temporary folder for a test, removed with everything in it when the test ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

#include "app/FilePath.h"
#include "import/PhotoLookup.h"
#include "support/TestPlatform.h"

namespace importtest {

class ScratchFolder {
 public:
  ScratchFolder() {
    path_ = testsupport::MakeTempFolder("cardphoto-import.").string();
  }
  ~ScratchFolder() {
    if (!path_.empty()) testsupport::RemoveFolder(path_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  // The path as the lookup joins it.
  std::string PathOf(const std::string& name) const { return photoimport::JoinPath(path_, name); }

  // Writes a file (name in the bytes the file system gets; UTF-8 on Windows) with the given content.
  void Write(const std::string& name, std::string_view content = "x") const {
    std::ofstream(app::PathFromUtf8(PathOf(name)), std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  void MakeFolder(const std::string& name) const { std::filesystem::create_directory(app::PathFromUtf8(PathOf(name))); }

 private:
  std::string path_;
};

// Points the user's data folder, where runs that replace photos keep their backups, at a scratch folder
// of the test program (its child processes inherit it), so that tests never write into the real one.
// On Windows that folder is the shell's LocalAppData, which no variable moves: there the tests run in a
// throwaway Wine prefix (scripts/test-windows).
inline void UseScratchDataFolder() {
#ifndef _WIN32
  static const ScratchFolder dataHome;
  testsupport::SetEnvironment("XDG_DATA_HOME", dataHome.path());
#endif
}

}  // namespace importtest
