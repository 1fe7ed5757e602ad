#include "app/FileHive.h"

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "app/AtomicFile.h"
#include "app/FilePath.h"
#include "app/RegFile.h"
#include "app/Text.h"

namespace app {
namespace {

constexpr const char* kHiveRoot = "HKEY_LOCAL_MACHINE\\";

std::string FullPath(const std::string& keyPath) { return kHiveRoot + keyPath; }

// The hive file as one read found it.
struct HiveFile {
  bool present = false;     // something is at the path (no file at all is no hive, not a fault)
  std::string readError;    // it is there but could not be read: the system's error
  std::string text;         // its text as UTF-8
  std::string textProblem;  // what keeps its bytes from being text
};

bool IsUtf16Bom(const std::string& bytes) { return bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE'; }

bool InRange(char16_t unit, char16_t first) { return unit >= first && unit <= first + 0x3FF; }

// UTF-16LE after its byte-order mark; every surrogate must be one of a pair.
std::string Utf16Text(const std::string& bytes, std::string& text) {
  if (bytes.size() % 2 != 0) return "not UTF-16 text: an odd number of bytes";
  std::u16string units;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                   (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  for (size_t i = 0; i < units.size(); ++i) {
    if (InRange(units[i], 0xD800) && i + 1 < units.size() && InRange(units[i + 1], 0xDC00)) {
      ++i;
    } else if (InRange(units[i], 0xD800) || InRange(units[i], 0xDC00)) {
      return "not UTF-16 text: a lone surrogate";
    }
  }
  text = Utf16ToUtf8(units);
  return {};
}

// A file written by this program is UTF-8; an export made by the Windows registry editor is UTF-16LE with
// a byte-order mark. Returns what keeps the bytes from being text, or empty.
std::string DecodeHiveText(const std::string& bytes, std::string& text) {
  if (IsUtf16Bom(bytes)) {
    if (std::string problem = Utf16Text(bytes, text); !problem.empty()) return problem;
  } else if (IsValidUtf8(bytes)) {
    text = bytes;
  } else {
    return "not UTF-8 or UTF-16 text";
  }
  return text.find('\0') == std::string::npos ? std::string() : "not text: it holds NUL characters";
}

#ifdef _WIN32
// One read of the whole file, opened by its wide name.
HiveFile ReadHiveFile(const std::filesystem::path& file) {
  HiveFile hive;
  std::error_code error;
  if (!std::filesystem::exists(file, error)) return hive;
  hive.present = true;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(_wfopen(file.c_str(), L"rb"), &std::fclose);
  std::string bytes;
  char buffer[1 << 16];
  std::size_t n = 0;
  while (in && (n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) bytes.append(buffer, n);
  if (!in || std::ferror(in.get())) {
    hive.readError = std::strerror(errno);
  } else {
    hive.textProblem = DecodeHiveText(bytes, hive.text);
  }
  return hive;
}
#else
bool ReadAll(int fd, std::string& bytes) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

// One read of the whole file (never blocking on a FIFO put in its place).
HiveFile ReadHiveFile(const std::filesystem::path& file) {
  HiveFile hive;
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) return hive;
  hive.present = true;
  std::string bytes;
  if (fd < 0 || !ReadAll(fd, bytes)) {
    hive.readError = std::strerror(errno);
  } else {
    hive.textProblem = DecodeHiveText(bytes, hive.text);
  }
  if (fd >= 0) ::close(fd);
  return hive;
}

#endif

// The document as far as it can be understood.
RegDocument LoadDocument(const std::filesystem::path& file) { return ParseRegText(ReadHiveFile(file).text); }

// The document for a change: std::nullopt for a file that is there but cannot be read, whose keys a
// rewrite would lose. A file that is read but not understood is replaced by what could be understood.
std::optional<RegDocument> LoadForChange(const std::filesystem::path& file) {
  const HiveFile hive = ReadHiveFile(file);
  if (!hive.readError.empty()) return std::nullopt;
  return ParseRegText(hive.text);
}

// The text of the key's value of that name; throws for a value that is not a string.
std::optional<std::string> ValueText(const RegKey& key, const std::string& valueName) {
  for (const RegValue& value : key.values) {
    if (!SameRegName(value.name, valueName)) continue;
    auto text = StringFromData(value.data);
    if (!text) throw SettingsError("Invalid data type for '" + valueName + "'");
    return text;
  }
  return std::nullopt;
}

// Writes the whole document to a temporary file beside the hive, which then takes the hive's name. Every
// user's program reads the machine-wide settings.
bool SaveDocument(const std::filesystem::path& file, const RegDocument& document) {
  std::error_code error;
  const std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
  std::filesystem::create_directories(folder, error);
  if (error) return false;
  return WriteFileAtomically(file, SerializeRegText(document), ExistingFile::Replace, FileReaders::Everyone).empty();
}

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

KeyValues FileHive::ReadStrings(const std::string& keyPath, const std::vector<std::string>& valueNames) {
  KeyValues key;
  const HiveFile hive = ReadHiveFile(file_);
  if (!hive.present) return key;
  std::string problem = hive.readError.empty() ? hive.textProblem : hive.readError;
  RegDocument document = ParseRegText(hive.text, problem.empty() ? &problem : nullptr);
  if (!problem.empty()) {
    key.exists = true;
    key.problem = "cannot read the connection settings in " + file_.string() + ": " + problem;
    return key;
  }
  key.exists = document.HasKeyOrSubkey(FullPath(keyPath));
  const RegKey* found = document.FindKey(FullPath(keyPath));
  if (found == nullptr) return key;
  for (const std::string& name : valueNames) {
    if (auto text = ValueText(*found, name)) key.values.emplace(name, std::move(*text));
  }
  return key;
}

bool FileHive::KeyExists(const std::string& keyPath) {
  return LoadDocument(file_).HasKeyOrSubkey(FullPath(keyPath));
}

std::optional<std::string> FileHive::ReadString(const std::string& keyPath, const std::string& valueName) {
  RegDocument document = LoadDocument(file_);
  const RegKey* key = document.FindKey(FullPath(keyPath));
  return key == nullptr ? std::nullopt : ValueText(*key, valueName);
}

void FileHive::CreateKey(const std::string& keyPath) {
  if (!LocationWritable(file_)) return;
  std::optional<RegDocument> document = LoadForChange(file_);
  if (document && document->FindKey(FullPath(keyPath)) != nullptr) return;
  if (document) document->AddKey(FullPath(keyPath));
  if (!document || !SaveDocument(file_, *document)) throw SettingsError("Failed to create key " + keyPath);
}

bool FileHive::CanOpenForWriting(const std::string&) { return LocationWritable(file_); }

void FileHive::WriteStrings(const std::string& keyPath,
                            const std::vector<std::pair<std::string, std::string>>& values) {
  if (values.empty()) return;
  const std::string failure = "Failed to set data for '" + values.front().first + "'";
  std::optional<RegDocument> loaded = LoadForChange(file_);
  if (!loaded) throw SettingsError(failure);
  RegDocument& document = *loaded;
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
  if (!SaveDocument(file_, document)) throw SettingsError(failure);
}

#ifndef _WIN32
std::unique_ptr<RegistryHive> OpenMachineHive() {
  return std::make_unique<FileHive>(FileHive::kMachineHivePath);
}
#endif

}  // namespace app
