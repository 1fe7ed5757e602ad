#include "app/FilePath.h"

#ifdef _WIN32
#include <windows.h>

#include "app/Text.h"
#endif

namespace app {

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& utf8) {
  const std::u16string utf16 = Utf8ToUtf16(utf8);
  return std::wstring(utf16.begin(), utf16.end());
}

}  // namespace

std::filesystem::path PathFromUtf8(const std::string& utf8) { return std::filesystem::path(Wide(utf8)); }

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

std::FILE* OpenFileUtf8(const std::string& utf8Path, const char* mode) {
  return _wfopen(Wide(utf8Path).c_str(), Wide(mode).c_str());
}

bool RenameOver(const std::string& sourceUtf8, const std::string& targetUtf8) {
  return MoveFileExW(Wide(sourceUtf8).c_str(), Wide(targetUtf8).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

#else

std::filesystem::path PathFromUtf8(const std::string& utf8) { return std::filesystem::path(utf8); }

std::string Utf8FromPath(const std::filesystem::path& path) { return path.native(); }

std::FILE* OpenFileUtf8(const std::string& utf8Path, const char* mode) { return std::fopen(utf8Path.c_str(), mode); }

bool RenameOver(const std::string& sourceUtf8, const std::string& targetUtf8) {
  return std::rename(sourceUtf8.c_str(), targetUtf8.c_str()) == 0;
}

#endif

}  // namespace app
