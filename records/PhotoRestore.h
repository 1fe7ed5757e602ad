// Putting photos back: the files of a backup folder (a run's backup of the photos it replaced, or an
// export) written to the readers they are named by, byte for byte. What a restore replaces is itself
// backed up first, so that a restore can be undone as well.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "data/Session.h"
#include "records/PhotoBackup.h"

namespace photoimport {

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
  std::string KeepCurrent(const std::string& cardNumber, const data::Bytes& current);

  data::Session& session_;
  const bool dryRun_;
  const std::filesystem::path backupRoot_;
  std::optional<PhotoBackup> backup_;
};

}  // namespace photoimport
