// A temporary folder for a test, removed with everything in it when the test ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

namespace importtest {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cardphoto-import.XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string PathOf(const std::string& name) const { return path_ + "/" + name; }

  // Writes a file (name in the bytes the file system gets) with the given content.
  void Write(const std::string& name, std::string_view content = "x") const {
    std::ofstream(PathOf(name), std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  void MakeFolder(const std::string& name) const { std::filesystem::create_directory(PathOf(name)); }

 private:
  std::string path_;
};

// Points the user's data folder, where runs that replace photos keep their backups, at a scratch folder
// of the test program (its child processes inherit it), so that tests never write into the real one.
inline void UseScratchDataFolder() {
  static const ScratchFolder dataHome;
  setenv("XDG_DATA_HOME", dataHome.path().c_str(), 1);
}

}  // namespace importtest
