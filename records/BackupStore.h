// The store of a run that replaces photos: the current photo is saved byte for byte into the run's backup
// folder first, and replaced only while it is still that value. So every photo a run replaces can be
// put back (card-photo restore), also when someone wrote the photo between the backup and the store.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "data/PhotoStore.h"
#include "data/Session.h"
#include "records/PhotoBackup.h"

namespace photoimport {

class BackupStore {
 public:
  explicit BackupStore(PhotoBackup& backup) : backup_(backup) {}

  // The store worker's action (StoreAction). A reader still without a photo is stored as ever (guard
  // Empty: a photo that arrives meanwhile is kept). A bitmap is backed up, then replaced while unchanged;
  // a backup that cannot be written fails the store (BackupFailed) and nothing is replaced. A connection
  // lost is made again once and the whole store repeated.
  data::StoreResult operator()(data::Session& session, const std::string& cardNumber,
                               std::span<const std::uint8_t> photo, data::PhotoGuard guard);

 private:
  data::StoreResult Attempt(data::Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo);
  std::string Save(const std::string& cardNumber, const data::Bytes& current);

  PhotoBackup& backup_;
  std::map<std::string, data::Bytes> saved_;  // the value backed up per card number (a repeated store finds it)
};

}  // namespace photoimport
