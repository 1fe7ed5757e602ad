#include "records/RunBackup.h"

#include <algorithm>
#include <vector>

namespace photoimport {

RunBackup::RunBackup(const std::filesystem::path& root, std::chrono::system_clock::time_point start)
    : backup_(PhotoBackup::ForRun(root, start)) {}

std::string RunBackup::Keep(const PhotoOwner& owner, std::span<const std::uint8_t> old,
                            std::span<const std::uint8_t> photo) {
  std::lock_guard lock(mutex_);
  const std::filesystem::path kept = backup_.SavedFile(owner.cardNumber);
  if (kept.empty()) return backup_.Save(owner, old, photo);
  // Kept before: the file is read back rather than every kept photo held in memory.
  std::vector<std::uint8_t> onDisk;
  std::string reason;
  if (!ReadBackupFile(kept, onDisk, reason)) return reason;
  return std::ranges::equal(onDisk, old) ? std::string() : "备份中已有这位读者的另一张相片";
}

std::filesystem::path RunBackup::folder() const {
  std::lock_guard lock(mutex_);
  return backup_.folder();
}

int RunBackup::saved() const {
  std::lock_guard lock(mutex_);
  return backup_.saved();
}

}  // namespace photoimport
