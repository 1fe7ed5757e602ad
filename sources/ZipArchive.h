// A zip archive as the photo folder: schools often send the photos as one archive. The archive is never
// unpacked to disk; its entries are listed like the files of a folder and read into memory one at a time.
//
// Which entries: those of the archive's root or, when the root holds exactly one folder and no pictures
// (the usual result of zipping a folder, often with a note such as 说明.txt beside it), those of that
// folder. Entries of deeper folders are passed over, as sub-folders of a photo folder are. A "__MACOSX"
// folder of resource forks and hidden entries (".DS_Store", names beginning with ".") do not count. An
// archive inside the archive is not opened: a warning names it.
//
// Names: UTF-8 when the archive says so (general-purpose flag bit 11, or an Info-ZIP Unicode path extra
// field); otherwise the bytes are what the zipping program's code page made of the name, GBK on Chinese
// Windows. A name valid both as UTF-8 and as GBK is listed under both readings (one entry each, the same
// index), as file names on disk are looked up.
//
// Limits: an entry is read whole into memory, so each entry may expand to at most a fixed size, and all
// reads of one archive together may inflate at most a bound that grows with the archive's size. Both are
// checked against what the archive claims and against the bytes actually inflated, so an archive that lies
// about its sizes (a zip bomb) fails instead of filling memory or keeping the machine busy for hours.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "imaging/PhotoFile.h"

namespace photoimport {

struct ZipLimits {
  std::uint64_t maxEntrySize = imaging::kMaxPhotoFileBytes;  // the largest photo file the import reads
  // All reads of one archive together inflate at most totalFloor + totalRatio x the archive's size.
  std::uint64_t totalFloor = std::uint64_t{1} << 30;
  std::uint64_t totalRatio = 100;
};

struct ZipEntry {
  std::string name;        // the entry's name as shown (UTF-8), without its folder
  std::uint64_t index = 0;  // the entry's handle for ZipArchive::Read
  std::string reason;      // why the entry cannot be read (encrypted, ...); empty when it can be
};

class ZipArchive {
 public:
  // Opens and lists the archive. nullptr, with the reason, when it cannot be used: missing, unreadable,
  // not a zip archive, or damaged (its directory does not match its entries).
  static std::unique_ptr<ZipArchive> Open(const std::filesystem::path& path, std::string& reason,
                                          const ZipLimits& limits = {});
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // The listed entries, in the archive's order; an entry with two readings of its name comes twice.
  const std::vector<ZipEntry>& Entries() const { return entries_; }
  // The folder whose entries are listed, as shown; empty when the archive's root is listed.
  const std::string& Folder() const { return folder_; }
  // What the staff should know of the archive's content (an archive inside it, whose photos are not read).
  const std::vector<std::string>& Warnings() const { return warnings_; }

  // Reads one entry's bytes. False, with the reason, for an entry that cannot be read, a damaged entry, or
  // an entry that would exceed the limits. Safe to call from several threads (reads take turns).
  bool Read(std::uint64_t index, std::vector<std::uint8_t>& bytes, std::string& reason);

 private:
  struct Handle;
  ZipArchive(std::unique_ptr<Handle> handle, const ZipLimits& limits, std::uint64_t totalLimit);
  void List();
  bool Inflate(std::uint64_t index, std::uint64_t claimed, std::vector<std::uint8_t>& bytes, std::string& reason);

  std::unique_ptr<Handle> handle_;
  ZipLimits limits_;
  std::uint64_t totalLimit_;
  std::uint64_t inflated_ = 0;  // bytes inflated by all reads so far; guarded by mutex_
  std::mutex mutex_;
  std::vector<ZipEntry> entries_;
  std::unordered_map<std::uint64_t, std::size_t> listed_;  // entry index -> its first place in entries_
  std::string folder_;
  std::vector<std::string> warnings_;
};

// True when a path names a zip archive (".zip", ASCII letter case ignored).
bool IsZipArchivePath(std::string_view path);

}  // namespace photoimport
