// Putting photos back: the files of a backup folder (a run's backup of the photos it replaced, or an
// export) written to the readers they belonged to, byte for byte. A restore verifies before it writes: the
// file must be a regular file of the folder holding a value that can be a stored photo (RestorableValue);
// where the folder records whose photos it holds (its manifest), the file must still hold the recorded
// value, the card number must still belong to the reader recorded (a renumbered reader never receives
// another's photo), and a photo a run or a restore replaced is put back only while the reader still holds
// the photo that replaced it. What a restore replaces is itself backed up first, so that a restore can be
// undone as well; it is written only while it is still the value read and backed up.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "data/Session.h"
#include "records/PhotoBackup.h"

namespace photoimport {

// A backup folder without a manifest (made before backups recorded whose photos they hold): its files go
// by their names alone.
inline constexpr const char* kUnrecordedFolderWarning =
    "this folder does not record whose photos it holds (made by an earlier version): each file goes to the reader "
    "its name gives, without checking that the card number still belongs to the same reader";

class PhotoRestore {
 public:
  // dryRun: every file and reader is checked, nothing is written. backupRoot: where the photos a restore
  // replaces are backed up (a new folder of this restore under it); empty when the user has none.
  PhotoRestore(data::Session& session, bool dryRun, std::filesystem::path backupRoot);

  // Writes one file's bytes to its reader (in a dry run, only checks that it could): the empty string, or
  // why not.
  std::string File(const BackupFile& file);

  // The backup of the photos replaced so far; nullptr when nothing was replaced.
  const PhotoBackup* backup() const { return backup_ ? &*backup_ : nullptr; }

 private:
  std::string Write(const BackupFile& file, const data::Bytes& bytes);
  std::string KeepCurrent(const PhotoOwner& owner, const data::Bytes& current, const data::Bytes& restored);

  data::Session& session_;
  const bool dryRun_;
  const std::filesystem::path backupRoot_;
  std::optional<PhotoBackup> backup_;
};

}  // namespace photoimport
