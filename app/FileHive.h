// The machine-wide hive on systems without a registry: one text file in the registry export format
// (app/RegFile.h). Key paths given to it are relative to HKEY_LOCAL_MACHINE. Every call reads and parses
// the file once, afresh; every change rewrites it atomically (a temporary file in the same folder, then a
// rename), so a reader never sees half a file. A file that is there but cannot be read, or is no registry
// export (not UTF-8 or UTF-16 text, a line that is no key or value), reads as a key without values, with
// the problem reported by ReadStrings; a change refuses to replace a file it could not read.
#pragma once

#include <filesystem>

#include "app/SettingsStore.h"

namespace app {

class FileHive : public RegistryHive {
 public:
  // The fixed machine-wide location, writable only by an administrator.
  static constexpr const char* kMachineHivePath = "/etc/korvanel/registry.reg";

  explicit FileHive(std::filesystem::path file) : file_(std::move(file)) {}

  KeyValues ReadStrings(const std::string& keyPath, const std::vector<std::string>& valueNames) override;
  bool KeyExists(const std::string& keyPath) override;
  std::optional<std::string> ReadString(const std::string& keyPath, const std::string& valueName) override;
  // On a location that cannot be written, creates nothing and raises nothing: opening the key for
  // writing then reports the failure, so that nothing at all is written.
  void CreateKey(const std::string& keyPath) override;
  bool CanOpenForWriting(const std::string& keyPath) override;
  void WriteStrings(const std::string& keyPath,
                    const std::vector<std::pair<std::string, std::string>>& values) override;

  const std::filesystem::path& file() const { return file_; }

 private:
  std::filesystem::path file_;
};

}  // namespace app
