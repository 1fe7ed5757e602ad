#include "records/PhotoBackup.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <fstream>
#include <map>
#include <set>
#include <system_error>

#include "app/AtomicFile.h"
#include "app/FilePath.h"
#include "app/Sha256.h"
#include "app/Text.h"
#include "app/UserDataFolder.h"
#include "imaging/PhotoFile.h"
#include "records/BackupManifest.h"
#include "import/PhotoLookup.h"

namespace photoimport {
namespace {

constexpr std::array<std::string_view, 4> kBackupExtensions = {".bmp", ".jpg", ".png", ".bin"};
constexpr std::string_view kHexDigits = "0123456789ABCDEF";
// The longest escaped card number used as a file name, in bytes: Linux takes names of up to 255 bytes,
// Windows of up to 255 UTF-16 units (never more than the UTF-8 bytes), and the atomic writer adds its
// temporary suffix (".tmp-PID-N") and the extension to it.
constexpr std::size_t kLongestStem = 200;
constexpr std::string_view kOtherNamePrefix = "%~";

bool NeedsEscape(unsigned char c) {
  return c < 0x20 || c == 0x7F || std::string_view("\\/:*?\"<>|%").find(static_cast<char>(c)) != std::string_view::npos;
}

void AppendEscaped(std::string& out, unsigned char c) {
  out += '%';
  out += kHexDigits[c >> 4];
  out += kHexDigits[c & 0xF];
}

// Windows opens a device for these names, whatever follows the first dot.
bool IsReservedDeviceName(std::string_view stem) {
  std::string base = FoldName(stem.substr(0, stem.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (base == device) return true;
  const bool numbered = base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT"));
  return numbered && base[3] >= '1' && base[3] <= '9';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool HasBlobHeaderBeforeBitmap(std::span<const std::uint8_t> v) {
  return v.size() >= 10 && v[0] == 1 && v[1] == 0 && v[2] == 0 && v[3] == 1 &&
         (v[4] | v[5] << 8 | v[6] << 16 | std::uint32_t{v[7]} << 24) == v.size() - 8 && v[8] == 'B' && v[9] == 'M';
}

std::string LowerExtension(const std::filesystem::path& path) { return app::LowerAscii(app::Utf8FromPath(path.extension())); }

}  // namespace

std::string EscapeCardNumber(std::string_view cardNumber) {
  std::size_t keptEnd = cardNumber.size();  // trailing dots and blanks are escaped
  while (keptEnd > 0 && (cardNumber[keptEnd - 1] == '.' || cardNumber[keptEnd - 1] == ' ')) --keptEnd;
  std::string stem;
  for (std::size_t i = 0; i < cardNumber.size(); ++i) {
    const auto c = static_cast<unsigned char>(cardNumber[i]);
    const bool reservedStart = i == 0 && IsReservedDeviceName(cardNumber);
    if (NeedsEscape(c) || i >= keptEnd || reservedStart) {
      AppendEscaped(stem, c);
    } else {
      stem += static_cast<char>(c);
    }
  }
  return stem;
}

std::optional<std::string> UnescapeCardNumber(std::string_view stem) {
  std::string cardNumber;
  for (std::size_t i = 0; i < stem.size(); ++i) {
    if (stem[i] != '%') {
      cardNumber += stem[i];
      continue;
    }
    if (i + 2 >= stem.size()) return std::nullopt;
    const int high = HexValue(stem[i + 1]), low = HexValue(stem[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    cardNumber += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return cardNumber;
}

std::string_view PhotoFileExtension(std::span<const std::uint8_t> value) {
  auto startsWith = [&](std::initializer_list<std::uint8_t> signature) {
    return value.size() >= signature.size() && std::equal(signature.begin(), signature.end(), value.begin());
  };
  if (startsWith({'B', 'M'}) || HasBlobHeaderBeforeBitmap(value)) return ".bmp";
  if (startsWith({0xFF, 0xD8, 0xFF})) return ".jpg";
  if (startsWith({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return ".png";
  return ".bin";
}

std::filesystem::path DefaultBackupRoot() {
  const std::filesystem::path data = app::UserDataFolder();
  return data.empty() ? data : data / "backups";
}

std::string BackupFolderName(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char name[32];
  std::strftime(name, sizeof name, "%Y%m%d-%H%M%S", &local);
  return name;
}

PhotoBackup::PhotoBackup(std::filesystem::path folder) : PhotoBackup(std::move(folder), false) {}

PhotoBackup::PhotoBackup(std::filesystem::path folder, bool newFolder)
    : folder_(std::move(folder)), newFolder_(newFolder) {}

PhotoBackup PhotoBackup::ForRun(const std::filesystem::path& root, std::chrono::system_clock::time_point start) {
  return PhotoBackup(root / BackupFolderName(start), true);
}

std::string PhotoBackup::MakeFolder() {
  std::error_code error;
  if (!newFolder_) {
    std::filesystem::create_directories(folder_, error);
    if (error) return "cannot create " + app::Utf8FromPath(folder_) + ": " + error.message();
    return {};
  }
  std::filesystem::create_directories(folder_.parent_path(), error);
  const std::filesystem::path base = folder_;
  for (int attempt = 2; !error; ++attempt) {
    if (std::filesystem::create_directory(folder_, error)) return {};
    if (error || attempt > 1000) break;
    folder_ = base;
    folder_ += "-" + std::to_string(attempt);
  }
  folder_ = base;
  return "cannot create " + app::Utf8FromPath(base) + ": " + (error ? error.message() : "too many backups of that second");
}

std::string BackupFileStem(const std::string& cardNumber) {
  std::string stem = EscapeCardNumber(cardNumber);
  return stem.size() <= kLongestStem ? stem : OtherBackupFileStem(cardNumber);
}

std::string OtherBackupFileStem(const std::string& cardNumber) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(cardNumber.data());
  return std::string(kOtherNamePrefix) + app::Sha256Hex(std::span(bytes, cardNumber.size())).substr(0, 32);
}

// Under the card number's own name; where the file system refuses that name for a reason of the name (a
// limit shorter than Linux's or Windows' usual one), under the other name.
std::string PhotoBackup::WriteFile(const std::string& cardNumber, std::span<const std::uint8_t> value,
                                   std::filesystem::path& file) {
  const std::string extension(PhotoFileExtension(value));
  file = folder_ / app::PathFromUtf8(BackupFileStem(cardNumber) + extension);
  std::string failure = app::WriteFileAtomically(file, value, app::ExistingFile::Keep);
  std::error_code error;
  const std::filesystem::path other = folder_ / app::PathFromUtf8(OtherBackupFileStem(cardNumber) + extension);
  if (failure.empty() || file == other || std::filesystem::exists(std::filesystem::symlink_status(file, error)))
    return failure;
  if (app::WriteFileAtomically(other, value, app::ExistingFile::Keep).empty()) {
    file = other;
    return {};
  }
  return failure;
}

std::string PhotoBackup::Save(const PhotoOwner& owner, std::span<const std::uint8_t> value,
                              std::span<const std::uint8_t> replacedBy) {
  const std::string& cardNumber = owner.cardNumber;
  if (value.empty()) return {};
  if (cardNumber.empty()) return "a reader without a card number cannot be backed up";
  if (saved_.contains(cardNumber)) return "card number " + cardNumber + " has been backed up already";
  if (!made_) {
    if (std::string failure = MakeFolder(); !failure.empty()) return failure;
    if (std::string failure = StartManifest(folder_); !failure.empty()) return failure;
    made_ = true;
  }
  std::filesystem::path file;
  if (std::string failure = WriteFile(cardNumber, value, file); !failure.empty()) return failure;
  const ManifestRecord record{app::Utf8FromPath(file.filename()), cardNumber, owner.name, app::Sha256Hex(value),
                              replacedBy.empty() ? std::string() : app::Sha256Hex(replacedBy)};
  if (std::string failure = AppendManifestRecord(folder_, record); !failure.empty()) {
    std::error_code ignored;
    std::filesystem::remove(file, ignored);  // a file without its record would only be refused
    return failure;
  }
  saved_.emplace(cardNumber, file);
  return {};
}

std::filesystem::path PhotoBackup::SavedFile(const std::string& cardNumber) const {
  const auto it = saved_.find(cardNumber);
  return it == saved_.end() ? std::filesystem::path() : it->second;
}

bool PhotoBackup::SavedUnderOtherName(const std::string& cardNumber) const {
  const std::filesystem::path file = SavedFile(cardNumber);
  return !file.empty() && app::Utf8FromPath(file.stem()) != EscapeCardNumber(cardNumber);
}

namespace {

// What a folder entry is, its links never followed.
enum class EntryKind { File, Folder, Link, Other };

EntryKind KindOf(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
  if (error) return EntryKind::Other;
  if (std::filesystem::is_symlink(status)) return EntryKind::Link;
  if (std::filesystem::is_regular_file(status)) return EntryKind::File;
  if (std::filesystem::is_directory(status)) return EntryKind::Folder;
  return EntryKind::Other;
}

}  // namespace

BackupListing ListBackupFolder(const std::filesystem::path& folder) {
  BackupListing listing;
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error);
  if (error) {
    listing.error = "cannot list " + app::Utf8FromPath(folder) + ": " + error.message();
    return listing;
  }
  const Manifest manifest = ReadManifest(folder);
  if (!manifest.error.empty()) {
    listing.error = manifest.error;
    return listing;
  }
  listing.recorded = manifest.present;
  std::map<std::string, std::vector<BackupFile>> byCard;
  std::set<std::string> seen;
  for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
    const std::filesystem::path& path = it->path();
    const std::string name = app::Utf8FromPath(path.filename());
    if (name == kManifestFileName) continue;
    switch (KindOf(path)) {
      case EntryKind::Folder: continue;
      case EntryKind::Link: listing.problems.push_back(name + ": a link, not a file of the folder: not followed"); continue;
      case EntryKind::Other: listing.problems.push_back(name + ": not a regular file"); continue;
      case EntryKind::File: break;
    }
    seen.insert(name);
    const std::string extension = LowerExtension(path);
    const bool known = std::find(kBackupExtensions.begin(), kBackupExtensions.end(), extension) != kBackupExtensions.end();
    if (manifest.present) {
      const auto record = manifest.byFile.find(name);
      if (record == manifest.byFile.end()) {
        listing.problems.push_back(name + ": not recorded in " + kManifestFileName +
                                   " (added later, or left by a backup interrupted before it recorded the file)");
        continue;
      }
      byCard[record->second.cardNumber].push_back(BackupFile{record->second.cardNumber, path, record->second});
      continue;
    }
    const auto cardNumber = known ? UnescapeCardNumber(app::Utf8FromPath(path.stem())) : std::nullopt;
    if (!cardNumber || cardNumber->empty()) {
      listing.problems.push_back(name + ": not a backup file (expected CARDNUMBER.bmp, .jpg, .png or .bin)");
      continue;
    }
    byCard[*cardNumber].push_back(BackupFile{*cardNumber, path, std::nullopt});
  }
  if (error) {
    listing.error = "cannot list " + app::Utf8FromPath(folder) + ": " + error.message();
    return listing;
  }
  for (const auto& [file, record] : manifest.byFile)
    if (!seen.contains(file))
      listing.problems.push_back(file + ": recorded in " + std::string(kManifestFileName) + " as the photo of " +
                                 record.cardNumber + " " + record.name + ", but the file is missing");
  for (auto& [cardNumber, files] : byCard) {
    if (files.size() == 1) {
      listing.files.push_back(std::move(files[0]));
      continue;
    }
    for (const BackupFile& file : files)
      listing.problems.push_back(app::Utf8FromPath(file.path.filename()) + ": more than one file for card number " +
                                 cardNumber);
  }
  return listing;
}

bool ReadBackupFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes, std::string& reason) {
  const std::string shown = app::Utf8FromPath(path);
  // Checked before and after: the file read is the one named, never what a link put in its place.
  if (KindOf(path) != EntryKind::File) {
    reason = shown + " is not a regular file (a link is not followed)";
    return false;
  }
  switch (imaging::ReadPhotoFile(shown, bytes)) {
    case imaging::PhotoFileRead::Read: break;
    case imaging::PhotoFileRead::TooLarge:
      reason = shown + " is larger than " + std::to_string(imaging::kMaxPhotoFileBytes >> 20) +
               " MiB, more than any photo file";
      return false;
    case imaging::PhotoFileRead::Changed: reason = shown + " changed while it was read"; return false;
    case imaging::PhotoFileRead::Missing:
    case imaging::PhotoFileRead::Unreadable: reason = "cannot read " + shown; return false;
  }
  if (KindOf(path) != EntryKind::File) {
    reason = shown + " is not a regular file (a link is not followed)";
    return false;
  }
  return true;
}

}  // namespace photoimport
