#include "app/FileHive.h"

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/FilePath.h"
#include "app/RegFile.h"
#include "app/Text.h"

namespace app {
namespace {

constexpr const char* kHiveRoot = "HKEY_LOCAL_MACHINE\\";

std::string FullPath(const std::string& keyPath) { return kHiveRoot + keyPath; }

// The file's text as UTF-8: a file written by this program is UTF-8; an export made by the Windows
// registry editor is UTF-16LE with a byte-order mark.
std::string ReadHiveText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::ostringstream content;
  content << in.rdbuf();
  std::string bytes = content.str();
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    std::u16string units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return Utf16ToUtf8(units);
  }
  return bytes;
}

RegDocument LoadDocument(const std::filesystem::path& file) { return ParseRegText(ReadHiveText(file)); }

#ifndef _WIN32
bool WriteAll(int fd, const std::string& text) {
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n <= 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

// Writes the whole document to a temporary file beside the hive and renames it over the hive.
bool SaveDocument(const std::filesystem::path& file, const RegDocument& document) {
  std::error_code error;
  const std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
  std::filesystem::create_directories(folder, error);
  if (error) return false;
  std::string temporary = (folder / (file.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  const bool written = WriteAll(fd, SerializeRegText(document)) && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), file.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

#else
// Windows has the registry; this store serves the tests there, as a hive injected into the windows.
bool SaveDocument(const std::filesystem::path& file, const RegDocument& document) {
  std::error_code error;
  const std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
  std::filesystem::create_directories(folder, error);
  if (error) return false;
  const std::string temporary = Utf8FromPath(file) + ".new";
  std::FILE* out = OpenFileUtf8(temporary, "wb");
  if (out == nullptr) return false;
  const std::string text = SerializeRegText(document);
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0 &&
                       _commit(_fileno(out)) == 0;
  const bool closed = std::fclose(out) == 0;
  if (!written || !closed || !RenameOver(temporary, Utf8FromPath(file))) {
    std::filesystem::remove(PathFromUtf8(temporary), error);
    return false;
  }
  return true;
}

#endif

bool IsWritable(const std::filesystem::path& path) {
#ifdef _WIN32
  return _waccess(path.c_str(), 2) == 0;
#else
  return ::access(path.c_str(), W_OK) == 0;
#endif
}

// Whether the hive file can be replaced: its folder (or, when that does not exist yet, the nearest
// existing folder above it) must be a writable folder, and an existing file must be writable too.
bool LocationWritable(const std::filesystem::path& file) {
  std::error_code error;
  if (std::filesystem::exists(file, error) && !IsWritable(file)) return false;
  std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
  while (!std::filesystem::exists(folder, error)) {
    if (!folder.has_parent_path() || folder.parent_path() == folder) return false;
    folder = folder.parent_path();
  }
  return std::filesystem::is_directory(folder, error) && IsWritable(folder);
}

}  // namespace

bool FileHive::KeyExists(const std::string& keyPath) {
  return LoadDocument(file_).HasKeyOrSubkey(FullPath(keyPath));
}

std::optional<std::string> FileHive::ReadString(const std::string& keyPath, const std::string& valueName) {
  RegDocument document = LoadDocument(file_);
  const RegKey* key = document.FindKey(FullPath(keyPath));
  if (key == nullptr) return std::nullopt;
  for (const RegValue& value : key->values) {
    if (!SameRegName(value.name, valueName)) continue;
    auto text = StringFromData(value.data);
    if (!text) throw SettingsError("Invalid data type for '" + valueName + "'");
    return text;
  }
  return std::nullopt;
}

void FileHive::CreateKey(const std::string& keyPath) {
  if (!LocationWritable(file_)) return;
  RegDocument document = LoadDocument(file_);
  if (document.FindKey(FullPath(keyPath)) != nullptr) return;
  document.AddKey(FullPath(keyPath));
  if (!SaveDocument(file_, document)) throw SettingsError("Failed to create key " + keyPath);
}

bool FileHive::CanOpenForWriting(const std::string&) { return LocationWritable(file_); }

void FileHive::WriteStrings(const std::string& keyPath,
                            const std::vector<std::pair<std::string, std::string>>& values) {
  if (values.empty()) return;
  RegDocument document = LoadDocument(file_);
  RegKey& key = document.AddKey(FullPath(keyPath));
  for (const auto& [name, text] : values) {
    auto it = std::find_if(key.values.begin(), key.values.end(),
                           [&](const RegValue& value) { return SameRegName(value.name, name); });
    if (it != key.values.end()) {
      it->data = DataFromString(text);
    } else {
      key.values.push_back(RegValue{name, DataFromString(text)});
    }
  }
  if (!SaveDocument(file_, document)) throw SettingsError("Failed to set data for '" + values.front().first + "'");
}

#ifndef _WIN32
std::unique_ptr<RegistryHive> OpenMachineHive() {
  return std::make_unique<FileHive>(FileHive::kMachineHivePath);
}
#endif

}  // namespace app
