#include "app/UserDataFolder.h"

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#else
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>
#endif

namespace app {
namespace {

constexpr const char* kApplicationFolder = "card-photo";

#ifdef _WIN32
std::filesystem::path LocalAppData() {
  PWSTR folder = nullptr;
  std::filesystem::path result;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &folder))) result = folder;
  CoTaskMemFree(folder);
  return result;
}
#else
// An absolute path from the environment, else empty (the XDG rules ignore relative values).
std::filesystem::path AbsoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (!value || value[0] != '/') return {};
  return value;
}

// The home folder from the account database, for a session whose HOME is unset.
std::filesystem::path HomeFromAccount() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir) return {};
  return found->pw_dir;
}

// The one place where the program reads the environment. The XDG base directory rules, which every Linux
// desktop follows, define the user's data folder only through XDG_DATA_HOME and HOME: there is no other
// interface to ask, and ignoring them would put the backups where the user's desktop does not look.
std::filesystem::path XdgDataHome() {
  if (std::filesystem::path data = AbsoluteFromEnvironment("XDG_DATA_HOME"); !data.empty()) return data;
  std::filesystem::path home = AbsoluteFromEnvironment("HOME");
  if (home.empty()) home = HomeFromAccount();
  return home.empty() ? home : home / ".local" / "share";
}
#endif

}  // namespace

std::filesystem::path UserDataFolder() {
#ifdef _WIN32
  const std::filesystem::path base = LocalAppData();
#else
  const std::filesystem::path base = XdgDataHome();
#endif
  return base.empty() ? base : base / kApplicationFolder;
}

}  // namespace app
