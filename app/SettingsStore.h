// Connection settings shared, machine-wide, with the library-management system:
// key SOFTWARE\Korvanel\Lib of the machine-wide registry hive, values ODBCNAME (plain text),
// USERNAME and PASSWORD (digit encoding of their GBK bytes).
#pragma once

#include <map>
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

// The string values of one key, read at once.
struct KeyValues {
  bool exists = false;                        // the key (or a key below it) is there
  std::map<std::string, std::string> values;  // by the names asked for; a missing value is left out
  // Not empty when the hive's storage is there but cannot be read or understood: names it and says why.
  // The key then counts as existing, with no values.
  std::string problem;
};

// The machine-wide hive: on Windows the real registry (HKEY_LOCAL_MACHINE, 32-bit view),
// elsewhere a file in the .reg export format at a fixed path under /etc.
class RegistryHive {
 public:
  virtual ~RegistryHive() = default;
  // The named values of a key from one state of the hive, so that values written together are read
  // together. Throws SettingsError "Invalid data type for '%s'" for the first named value that is not a
  // string. This base reads the values one by one.
  virtual KeyValues ReadStrings(const std::string& keyPath, const std::vector<std::string>& valueNames);
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
  // std::nullopt when the product key does not exist (the caller keeps its defaults). When the hive's
  // storage exists but cannot be read, the three values are empty and problem() says why.
  std::optional<ConnectionSettings> Read();
  // After Read(): why the settings could not be read (the file and the system's error), or empty.
  const std::string& problem() const { return problem_; }
  // False, with nothing written, when the product key cannot be opened for writing.
  bool Write(const ConnectionSettings& settings);

 private:
  RegistryHive& hive_;
  std::string problem_;
};

}  // namespace app
