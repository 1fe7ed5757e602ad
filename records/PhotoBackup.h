// Backups of stored photos: before a run replaces a reader's photo, the old value is kept as a file, so
// that a run with the wrong folder or the wrong naming rule can be undone (card-photo restore). The same
// files make a full photo backup (card-photo export).
//
// One folder per run, one file per reader, named by the reader's card number and written byte for byte as
// the database held the value. The extension follows the content (".bmp", ".jpg", ".png", else ".bin") so
// that the files open in a picture viewer; reading back goes by the name alone. Characters a file name
// cannot hold on Windows or Linux are escaped as %XX, reversibly.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace photoimport {

// The card number as a file name stem: \ / : * ? " < > | control characters and "%" become %XX (the
// byte in upper-case hexadecimal), as do trailing dots and blanks (which Windows drops) and the first
// letter of a name Windows reserves for a device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9, LPT1-9, in any
// case and before any extension). Everything else, Chinese characters included, stays as it is.
std::string EscapeCardNumber(std::string_view cardNumber);
// The inverse; std::nullopt when a "%" is not followed by two hexadecimal digits.
std::optional<std::string> UnescapeCardNumber(std::string_view stem);

// ".bmp" for a bitmap (bare, or behind the 8-byte blob header), ".jpg", ".png", else ".bin".
std::string_view PhotoFileExtension(std::span<const std::uint8_t> value);

// The default place for the backups of runs: the user's data folder + "backups" (see app::UserDataFolder).
// Empty when the platform gives no user data folder.
std::filesystem::path DefaultBackupRoot();
// "YYYYMMDD-HHMMSS" in local time: the name of a run's backup folder.
std::string BackupFolderName(std::chrono::system_clock::time_point time);

// Writes the backup files of one run (or one export) into one folder. Not thread-safe.
class PhotoBackup {
 public:
  // Files go into folder, which is created (with its parents) when the first photo is saved.
  explicit PhotoBackup(std::filesystem::path folder);
  // A run's backup folder under root, named by the time the run started; when that folder exists already,
  // "-2", "-3", ... are appended, so a run never writes into another run's backup.
  static PhotoBackup ForRun(const std::filesystem::path& root, std::chrono::system_clock::time_point start);

  // Keeps value as the backup of the reader's photo. Returns the empty string when the value is safe on
  // disk (or, being empty, needs no backup), otherwise the reason: the caller must then not replace the
  // photo. Never replaces a file, and a second value for a card number fails.
  std::string Save(const std::string& cardNumber, std::span<const std::uint8_t> value);

  // The folder the files go to (once the first photo is saved, the one actually created).
  const std::filesystem::path& folder() const { return folder_; }
  int saved() const { return static_cast<int>(saved_.size()); }
  // The file that holds the card number's photo; empty when none was saved.
  std::filesystem::path SavedFile(const std::string& cardNumber) const;

 private:
  PhotoBackup(std::filesystem::path folder, bool newFolder);
  std::string MakeFolder();

  std::filesystem::path folder_;
  bool newFolder_ = false;  // the folder must not exist yet (ForRun)
  bool made_ = false;
  std::map<std::string, std::filesystem::path> saved_;  // one file per card number, whatever its extension
};

// One file of a backup folder.
struct BackupFile {
  std::string cardNumber;  // from the file's name
  std::filesystem::path path;
};

struct BackupListing {
  std::string error;                  // the folder cannot be listed; nothing else is set
  std::vector<BackupFile> files;      // by card number
  std::vector<std::string> problems;  // "name: why" for files that cannot be restored
};

// Lists a backup folder. A file whose name is not an escaped card number with one of the four extensions
// is a problem, and so is every file of a card number that more than one file names (which value is meant
// cannot be told). Sub-folders are passed over.
BackupListing ListBackupFolder(const std::filesystem::path& folder);

// The file's bytes; false, with the reason, when it cannot be read or is larger than any photo file the
// tool reads (imaging::kMaxPhotoFileBytes).
bool ReadBackupFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes, std::string& reason);

}  // namespace photoimport
