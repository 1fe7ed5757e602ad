#include "records/PhotoRestore.h"

#include <chrono>
#include <exception>
#include <vector>

#include "app/FilePath.h"
#include "app/Sha256.h"
#include "app/Text.h"
#include "data/PhotoStore.h"
#include "records/RestorableValue.h"

namespace photoimport {
namespace {

std::string Reader(const std::string& cardNumber, const std::string& name) {
  return cardNumber + (name.empty() ? std::string() : " (" + name + ")");
}

// Why the reader that holds the card number now is not the one the record names, or why its photo is not
// the one to put back over; empty when the file may be written.
std::string WhyNotThisReader(const ManifestRecord& record, const data::CurrentPhoto& current) {
  if (app::Trim(current.name) != app::Trim(record.name))
    return "the card number " + record.cardNumber + " now belongs to " + (current.name.empty() ? "a reader without a name" : current.name) +
           ", this photo was " + (record.name.empty() ? "another reader" : record.name) + "'s: not restored";
  if (record.replacedBy.empty()) return {};  // an export: the reader's photo then, whatever it holds now
  if (!current.value.empty() && app::Sha256Hex(current.value) == record.replacedBy) return {};
  return "the photo of " + Reader(record.cardNumber, record.name) +
         (current.value.empty() ? " was removed" : " was changed") +
         " after the photo that replaced this one was stored (by another run, a restore or another program): kept, "
         "not restored";
}

std::string StoreFailure(const data::StoreResult& result, const std::string& cardNumber) {
  using data::StoreOutcome;
  switch (result.outcome) {
    case StoreOutcome::Stored: return {};
    case StoreOutcome::NoSuchCard: return "no reader has the card number " + cardNumber;
    case StoreOutcome::CardShared: return "several readers have the card number " + cardNumber + ": none is changed";
    case StoreOutcome::PhotoChanged: return "the photo of " + cardNumber + " was changed meanwhile by another program: kept";
    default: break;
  }
  return result.driverText.empty() ? "the photo could not be written" : result.driverText;
}

}  // namespace

PhotoRestore::PhotoRestore(data::Session& session, bool dryRun, std::filesystem::path backupRoot)
    : session_(session), dryRun_(dryRun), backupRoot_(std::move(backupRoot)) {}

std::string PhotoRestore::File(const BackupFile& file) {
  data::Bytes bytes;
  std::string reason;
  if (!ReadBackupFile(file.path, bytes, reason)) return reason;
  if (std::string why = WhyNotRestorable(bytes, app::Utf8FromPath(file.path.extension())); !why.empty())
    return "the file " + why + ": not restored";
  if (file.record && app::Sha256Hex(bytes) != file.record->digest)
    return "the file no longer holds the photo recorded in " + std::string(kManifestFileName) +
           " (its SHA-256 differs): not restored";
  try {
    return Write(file, bytes);
  } catch (const std::exception& error) {
    return error.what();
  }
}

std::string PhotoRestore::Write(const BackupFile& file, const data::Bytes& bytes) {
  const data::CurrentPhoto current = data::ReadCurrentPhoto(session_, file.cardNumber);
  if (current.readers == 0) return "no reader has the card number " + file.cardNumber;
  if (current.readers > 1) return "several readers have the card number " + file.cardNumber + ": none is changed";
  if (current.value == bytes) return {};  // back already
  if (file.record)
    if (std::string why = WhyNotThisReader(*file.record, current); !why.empty()) return why;
  if (dryRun_) return {};
  if (std::string failure = KeepCurrent({file.cardNumber, current.name}, current.value, bytes); !failure.empty())
    return "the current photo could not be backed up, so it is kept: " + failure;
  // Written only over the value just read and backed up: a photo stored meanwhile is never lost.
  const data::StoreResult stored = current.value.empty()
                                       ? data::StorePhoto(session_, file.cardNumber, bytes, data::PhotoGuard::Empty)
                                       : data::ReplacePhoto(session_, file.cardNumber, bytes, current.value);
  return StoreFailure(stored, file.cardNumber);
}

std::string PhotoRestore::KeepCurrent(const PhotoOwner& owner, const data::Bytes& current, const data::Bytes& restored) {
  if (current.empty()) return {};
  if (!backup_) {
    if (backupRoot_.empty()) return "no folder for backups (the user has no data folder; give --backup-folder)";
    backup_ = PhotoBackup::ForRun(backupRoot_, std::chrono::system_clock::now());
  }
  return backup_->Save(owner, current, restored);
}

}  // namespace photoimport
