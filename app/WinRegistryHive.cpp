// The machine-wide hive on Windows: HKEY_LOCAL_MACHINE in its 32-bit view, where the library system
// (a 32-bit program) keeps the key.
#ifdef _WIN32

#include <windows.h>

#include <memory>
#include <string>

#include "app/SettingsStore.h"
#include "app/Text.h"

namespace app {
namespace {

constexpr REGSAM kView = KEY_WOW64_32KEY;

std::wstring Wide(const std::string& utf8) {
  const std::u16string utf16 = Utf8ToUtf16(utf8);
  return std::wstring(utf16.begin(), utf16.end());
}

std::string Narrow(const std::wstring& wide) {
  return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

// Closes the key on every path out of the function that opened it.
class OpenKey {
 public:
  OpenKey() = default;
  ~OpenKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

LONG OpenForWriting(const std::string& keyPath, OpenKey& key) {
  return RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(keyPath).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                         KEY_SET_VALUE | KEY_QUERY_VALUE | kView, nullptr, key.out(), nullptr);
}

class WinRegistryHive : public RegistryHive {
 public:
  // A key that exists but may not be read still exists.
  bool KeyExists(const std::string& keyPath) override {
    OpenKey key;
    const LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(keyPath).c_str(), 0,
                                      STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | kView,
                                      key.out());
    return result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED;
  }

  // A key that cannot be opened reads as having no values.
  std::optional<std::string> ReadString(const std::string& keyPath, const std::string& valueName) override {
    OpenKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(keyPath).c_str(), 0, KEY_READ | kView, key.out()) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    const std::wstring name = Wide(valueName);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) throw SettingsError("Invalid data type for '" + valueName + "'");
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    text.resize(bytes / sizeof(wchar_t));
    return Narrow(text.substr(0, text.find(L'\0')));
  }

  void CreateKey(const std::string& keyPath) override {
    OpenKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(keyPath).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS | kView, nullptr, key.out(), nullptr) != ERROR_SUCCESS) {
      throw SettingsError("Failed to create key " + keyPath);
    }
  }

  bool CanOpenForWriting(const std::string& keyPath) override {
    OpenKey key;
    return OpenForWriting(keyPath, key) == ERROR_SUCCESS;
  }

  void WriteStrings(const std::string& keyPath,
                    const std::vector<std::pair<std::string, std::string>>& values) override {
    OpenKey key;
    const bool opened = OpenForWriting(keyPath, key) == ERROR_SUCCESS;
    for (const auto& [name, text] : values) {
      const std::wstring data = Wide(text);
      const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
      if (!opened || RegSetValueExW(key.get(), Wide(name).c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(data.c_str()), bytes) != ERROR_SUCCESS) {
        throw SettingsError("Failed to set data for '" + name + "'");
      }
    }
  }
};

}  // namespace

std::unique_ptr<RegistryHive> OpenMachineHive() { return std::make_unique<WinRegistryHive>(); }

}  // namespace app

#endif  // _WIN32
