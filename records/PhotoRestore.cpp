#include "records/PhotoRestore.h"

#include <chrono>
#include <exception>
#include <vector>

namespace photoimport {

PhotoRestore::PhotoRestore(data::Session& session, bool dryRun, std::filesystem::path backupRoot)
    : session_(session), dryRun_(dryRun), backupRoot_(std::move(backupRoot)) {}

std::string PhotoRestore::File(const BackupFile& file) {
  std::vector<std::uint8_t> bytes;
  std::string reason;
  if (!ReadBackupFile(file.path, bytes, reason)) return reason;
  try {
    const std::optional<data::Bytes> current = session_.ReadPhoto(file.cardNumber);
    if (!current) return "no reader has the card number " + file.cardNumber;
    if (dryRun_ || *current == bytes) return {};
    if (std::string failure = KeepCurrent(file.cardNumber, *current); !failure.empty())
      return "the current photo could not be backed up, so it is kept: " + failure;
    session_.WritePhoto(file.cardNumber, bytes);
    return {};
  } catch (const std::exception& error) {
    return error.what();
  }
}

std::string PhotoRestore::KeepCurrent(const std::string& cardNumber, const data::Bytes& current) {
  if (current.empty()) return {};
  if (!backup_) {
    if (backupRoot_.empty()) return "no folder for backups (the user has no data folder; give --backup-folder)";
    backup_ = PhotoBackup::ForRun(backupRoot_, std::chrono::system_clock::now());
  }
  return backup_->Save(cardNumber, current);
}

}  // namespace photoimport
