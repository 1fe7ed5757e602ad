#include "sources/PhotoSource.h"

#include <unordered_map>

#include "imaging/PhotoFile.h"
#include "sources/ZipArchive.h"

namespace photoimport {
namespace {

imaging::PhotoFailure FailureOf(imaging::PhotoFileRead read) {
  switch (read) {
    case imaging::PhotoFileRead::Read: return imaging::PhotoFailure::None;
    case imaging::PhotoFileRead::Missing: return imaging::PhotoFailure::MissingFile;
    case imaging::PhotoFileRead::Unreadable: return imaging::PhotoFailure::UnreadableFile;
    case imaging::PhotoFileRead::TooLarge: return imaging::PhotoFailure::FileTooLarge;
    case imaging::PhotoFileRead::Changed: return imaging::PhotoFailure::FileChanged;
  }
  return imaging::PhotoFailure::UnreadableFile;
}

class FolderSource : public PhotoSource {
 public:
  explicit FolderSource(const std::string& folder) : folder_(folder) {}
  const PhotoFolder& Listing() const override { return folder_; }
  imaging::PhotoFailure Read(const std::string& name, std::vector<std::uint8_t>& bytes, std::string&) override {
    return FailureOf(imaging::ReadPhotoFile(JoinPath(folder_.folder(), name), bytes));
  }

 private:
  PhotoFolder folder_;
};

// One name per entry, read back by its first reading (the one shown), looked up under all of them.
std::vector<ListedName> EntryNames(const ZipArchive& archive) {
  std::vector<ListedName> names;
  std::unordered_map<std::uint64_t, std::size_t> byIndex;  // an entry with two readings comes twice
  for (const ZipEntry& entry : archive.Entries()) {
    const auto [it, first] = byIndex.try_emplace(entry.index, names.size());
    if (first) names.push_back(ListedName{entry.name, {}});
    names[it->second].readings.push_back(entry.name);
  }
  return names;
}

class ZipSource : public PhotoSource {
 public:
  ZipSource(const std::string& path, std::unique_ptr<ZipArchive> archive)
      : archive_(std::move(archive)), listing_(path, EntryNames(*archive_)) {
    for (const ZipEntry& entry : archive_->Entries()) entries_.emplace(entry.name, &entry);
  }
  const PhotoFolder& Listing() const override { return listing_; }
  std::vector<std::string> Warnings() const override { return archive_->Warnings(); }
  imaging::PhotoFailure Read(const std::string& name, std::vector<std::uint8_t>& bytes, std::string& reason) override {
    const auto it = entries_.find(name);
    if (it == entries_.end()) return imaging::PhotoFailure::MissingFile;
    reason = it->second->reason;
    if (!reason.empty() || !archive_->Read(it->second->index, bytes, reason))
      return imaging::PhotoFailure::UnreadableFile;
    return imaging::PhotoFailure::None;
  }

 private:
  std::unique_ptr<ZipArchive> archive_;
  PhotoFolder listing_;
  std::unordered_map<std::string, const ZipEntry*> entries_;
};

}  // namespace

std::unique_ptr<PhotoSource> OpenPhotoSource(const std::string& folder, std::string& problem) {
  if (!IsZipArchivePath(folder)) return std::make_unique<FolderSource>(folder);
  std::unique_ptr<ZipArchive> archive = ZipArchive::Open(folder, problem);
  if (!archive) return nullptr;
  return std::make_unique<ZipSource>(folder, std::move(archive));
}

}  // namespace photoimport
