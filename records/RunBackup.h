// The backup of the photos one run replaces: before the run replaces a reader's photo, the old value is
// kept byte for byte as a file of the run's backup folder (PhotoBackup), so that the run can be undone
// (card-photo restore). The run's store connections keep photos here at once, so it is thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>

#include "records/PhotoBackup.h"

namespace photoimport {

class RunBackup {
 public:
  // The folder of this run under root, named by the time the run started (PhotoBackup::ForRun).
  RunBackup(const std::filesystem::path& root, std::chrono::system_clock::time_point start);

  // Keeps `old` as the backup of the reader's photo, recorded as the owner's and as replaced by `photo`
  // (the photo the run stores in its place). The empty string when it is safe on disk (or, being empty,
  // needs none; or was kept before: a store repeated after a lost connection keeps it again), otherwise
  // the reason: the photo must then not be replaced. A second, different value for the same card number
  // is refused: the backup holds one photo per reader, the one the run replaced.
  std::string Keep(const PhotoOwner& owner, std::span<const std::uint8_t> old, std::span<const std::uint8_t> photo);

  std::filesystem::path folder() const;
  int saved() const;

 private:
  mutable std::mutex mutex_;
  PhotoBackup backup_;  // guarded by mutex_
};

}  // namespace photoimport
