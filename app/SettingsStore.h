// Connection settings shared, machine-wide, with the library-management system:
// key SOFTWARE\Korvanel\Lib of the machine-wide registry hive, values ODBCNAME (plain text),
// USERNAME and PASSWORD (digit encoding of their GBK bytes).
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace app {

struct ConnectionSettings {
  std::string odbcName;  // UTF-8
  std::string userName;  // UTF-8, decoded
  std::string password;  // UTF-8, decoded
};

// A failure that the store raises to its caller: a conversion error of the digit codec,
// "Invalid data type for '%s'", "Failed to create key %s", "Failed to set data for '%s'".
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kMakerKey = "SOFTWARE\\Korvanel";
inline constexpr const char* kProductKey = "SOFTWARE\\Korvanel\\Lib";
inline constexpr const char* kProductName = "Lib";

// The machine-wide hive: on Windows the real registry (HKEY_LOCAL_MACHINE, 32-bit view),
// elsewhere a file in the .reg export format at a fixed path under /etc.
class RegistryHive {
 public:
  virtual ~RegistryHive() = default;
  virtual bool KeyExists(const std::string& keyPath) = 0;
  // Reads a value of key: std::nullopt when the value is missing; throws SettingsError
  // "Invalid data type for '%s'" for a value that is not a (plain or expandable) string.
  virtual std::optional<std::string> ReadString(const std::string& keyPath, const std::string& valueName) = 0;
  // Creates the key if missing; throws SettingsError("Failed to create key <path>") on failure.
  virtual void CreateKey(const std::string& keyPath) = 0;
  // Whether the key can be opened (created if needed) for writing; no exception.
  virtual bool CanOpenForWriting(const std::string& keyPath) = 0;
  // Writes string values of key, in order, as one change; throws SettingsError
  // ("Failed to set data for '<name>'") when a value cannot be written.
  virtual void WriteStrings(const std::string& keyPath,
                            const std::vector<std::pair<std::string, std::string>>& values) = 0;
};

// The hive of this machine (the file-backed one at its fixed path on Linux).
std::unique_ptr<RegistryHive> OpenMachineHive();

class SettingsStore {
 public:
  explicit SettingsStore(RegistryHive& hive) : hive_(hive) {}
  // std::nullopt when the product key does not exist (the caller keeps its defaults).
  std::optional<ConnectionSettings> Read();
  // False, with nothing written, when the product key cannot be opened for writing.
  bool Write(const ConnectionSettings& settings);

 private:
  RegistryHive& hive_;
};

}  // namespace app
