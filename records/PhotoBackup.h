// Backups of stored photos: before a run replaces a reader's photo, the old value is kept as a file, so
// that a run with the wrong folder or the wrong naming rule can be undone (card-photo restore). The same
// files make a full photo backup (card-photo export).
//
// One folder per run, one file per reader, written byte for byte as the database held the value, and a
// record of whose it was in the folder's manifest (BackupManifest.h). A file is named by the reader's card
// number; the extension follows the content (".bmp", ".jpg", ".png", else ".bin") so that the files open
// in a picture viewer. Characters a file name cannot hold on Windows or Linux are escaped as %XX,
// reversibly; a card number too long for a file name gets another name ("%~" and a digest of the card
// number, which no escaped card number can be), which the manifest records.
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

#include "records/BackupManifest.h"

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

// The reader a photo belongs to: its card number as the reader table holds it (trailing blanks aside) and
// its name.
struct PhotoOwner {
  std::string cardNumber;
  std::string name;
};

// Writes the backup files of one run (or one export) into one folder, each with its record in the
// folder's manifest. Not thread-safe.
class PhotoBackup {
 public:
  // Files go into folder, which is created (with its parents) when the first photo is saved.
  explicit PhotoBackup(std::filesystem::path folder);
  // A run's backup folder under root, named by the time the run started; when that folder exists already,
  // "-2", "-3", ... are appended, so a run never writes into another run's backup.
  static PhotoBackup ForRun(const std::filesystem::path& root, std::chrono::system_clock::time_point start);

  // Keeps value as the backup of the owner's photo: its file, then its record. replacedBy: the photo that
  // is to take its place (a run's or a restore's), empty for an export. Returns the empty string when the
  // value and its record are safe on disk (or, being empty, it needs no backup), otherwise the reason: the
  // caller must then not replace the photo. Never replaces a file, and a second value for a card number
  // fails.
  std::string Save(const PhotoOwner& owner, std::span<const std::uint8_t> value,
                   std::span<const std::uint8_t> replacedBy = {});

  // The folder the files go to (once the first photo is saved, the one actually created).
  const std::filesystem::path& folder() const { return folder_; }
  int saved() const { return static_cast<int>(saved_.size()); }
  // The file that holds the card number's photo; empty when none was saved.
  std::filesystem::path SavedFile(const std::string& cardNumber) const;
  // Whether the card number's file has another name than its escaped card number (too long for one).
  bool SavedUnderOtherName(const std::string& cardNumber) const;

 private:
  PhotoBackup(std::filesystem::path folder, bool newFolder);
  std::string MakeFolder();
  std::string WriteFile(const std::string& cardNumber, std::span<const std::uint8_t> value,
                        std::filesystem::path& file);

  std::filesystem::path folder_;
  bool newFolder_ = false;  // the folder must not exist yet (ForRun)
  bool made_ = false;
  std::map<std::string, std::filesystem::path> saved_;  // one file per card number, whatever its extension
};

// The name a card number's file gets (without extension): its escaped card number, or, where that is too
// long for a file name, "%~" and 32 hexadecimal digits of the card number's SHA-256.
std::string BackupFileStem(const std::string& cardNumber);
std::string OtherBackupFileStem(const std::string& cardNumber);

// One file of a backup folder.
struct BackupFile {
  std::string cardNumber;  // its record's; in a folder without a manifest, from the file's name
  std::filesystem::path path;
  std::optional<ManifestRecord> record;  // whose photo it was, where the folder keeps a manifest
};

struct BackupListing {
  std::string error;                  // the folder cannot be listed; nothing else is set
  bool recorded = false;              // the folder has a manifest
  std::vector<BackupFile> files;      // by card number
  std::vector<std::string> problems;  // "name: why" for files that cannot be restored
};

// Lists a backup folder. Only regular files count: a link (to a file or a folder), or anything else that
// is not a plain file, is a problem and is never followed. In a folder with a manifest every photo file
// needs its record (a file without one was never recorded: added later, or left by an interrupted run
// before its photo was replaced), and a record whose file is missing is a problem too. In a folder without
// one (a backup made before manifests existed) a file's name must be an escaped card number with one of
// the four extensions. Every file of a card number that more than one file names is a problem (which value
// is meant cannot be told). Sub-folders are passed over.
BackupListing ListBackupFolder(const std::filesystem::path& folder);

// The file's bytes; false, with the reason, when it is not a regular file (a link is not followed), cannot
// be read, changes while it is read, or is larger than any photo file the tool reads.
bool ReadBackupFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes, std::string& reason);

}  // namespace photoimport
