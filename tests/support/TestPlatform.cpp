#include "support/TestPlatform.h"

#include <cstdlib>
#include <random>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include "app/FilePath.h"

namespace testsupport {

namespace fs = std::filesystem;

fs::path MakeTempFolder(const std::string& prefix) {
  std::random_device random;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path folder = base / (prefix + std::to_string(ProcessId()) + "-" + std::to_string(random() % 1000000));
    std::error_code error;
    if (fs::create_directory(folder, error)) return folder;
  }
  throw std::runtime_error("cannot create a temporary folder");
}

void RemoveFolder(const fs::path& folder) {
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, error);
  fs::remove_all(folder, error);
}

#ifdef _WIN32

namespace {

// Wine's own conversions between Windows and Linux paths (exported by its kernel32, absent on Windows).
using UnixNameOf = char*(__cdecl*)(const wchar_t*);
using DosNameOf = wchar_t*(__cdecl*)(const char*);

FARPROC WineFunction(const char* name) {
  return GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
}

}  // namespace

int ProcessId() { return _getpid(); }

void SetEnvironment(const std::string& name, const std::string& value, bool overwrite) {
  if (!overwrite && std::getenv(name.c_str()) != nullptr) return;
  _putenv_s(name.c_str(), value.c_str());
}

bool RunningUnderWine() { return WineFunction("wine_get_unix_file_name") != nullptr; }

std::string DriverPath(const fs::path& path) {
  const auto unixName = reinterpret_cast<UnixNameOf>(WineFunction("wine_get_unix_file_name"));
  if (unixName == nullptr) return app::Utf8FromPath(path);
  char* name = unixName(fs::absolute(path).c_str());
  if (name == nullptr) return app::Utf8FromPath(path);
  std::string result(name);
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

fs::path FromBuildMachinePath(const std::string& linuxPath) {
  const auto dosName = reinterpret_cast<DosNameOf>(WineFunction("wine_get_dos_file_name"));
  if (dosName == nullptr) return app::PathFromUtf8(linuxPath);
  wchar_t* name = dosName(linuxPath.c_str());
  if (name == nullptr) return app::PathFromUtf8(linuxPath);
  fs::path result(name);
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

#else

int ProcessId() { return static_cast<int>(::getpid()); }

void SetEnvironment(const std::string& name, const std::string& value, bool overwrite) {
  ::setenv(name.c_str(), value.c_str(), overwrite ? 1 : 0);
}

bool RunningUnderWine() { return false; }

std::string DriverPath(const fs::path& path) { return path.string(); }

fs::path FromBuildMachinePath(const std::string& linuxPath) { return linuxPath; }

#endif

}  // namespace testsupport
