#include "app/FilePath.h"
#include "sources/ZipArchive.h"

#include <zip.h>

#include <algorithm>

#include "app/Text.h"
#include "import/PhotoLookup.h"

namespace photoimport {

struct ZipArchive::Handle {
  zip_t* archive = nullptr;
  ~Handle() {
    if (archive) zip_discard(archive);
  }
};

namespace {

constexpr std::string_view kResourceForkFolder = "__MACOSX";
constexpr std::size_t kReadChunk = 64 * 1024;

std::string Mebibytes(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

std::string LibzipMessage(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string message = zip_error_strerror(&error);
  zip_error_fini(&error);
  return message;
}

// A name's folders and file name, split at "/" in its raw bytes: "/" (0x2F) is never part of a GBK or a
// UTF-8 multi-byte character, so the split is the same under every reading. Empty parts are dropped.
struct SplitName {
  std::vector<std::string> parts;
  bool isFolder = false;  // the entry is a folder ("photos/")
};

SplitName Split(std::string_view raw) {
  SplitName name;
  name.isFolder = !raw.empty() && raw.back() == '/';
  std::size_t start = 0;
  while (start <= raw.size()) {
    std::size_t end = raw.find('/', start);
    if (end == std::string_view::npos) end = raw.size();
    if (end > start) name.parts.emplace_back(raw.substr(start, end - start));
    start = end + 1;
  }
  return name;
}

// The readings of a name part: its UTF-8 alone where the archive declares it UTF-8, else every reading a
// file name on disk would have (app::FileNameReadings).
std::vector<std::string> Readings(const std::string& raw, bool declaredUtf8) {
  if (declaredUtf8 && app::IsValidUtf8(raw)) return {raw};
  return app::FileNameReadings(raw);
}

// Whether a name (its raw bytes: the extension is ASCII under every reading) ends in one of these.
bool EndsWithExtension(std::string_view raw, std::initializer_list<std::string_view> extensions) {
  const std::string folded = FoldName(raw);
  return std::ranges::any_of(extensions, [&](std::string_view extension) {
    const std::string suffix = "." + FoldName(extension);
    return folded.size() > suffix.size() && folded.ends_with(suffix);
  });
}

bool IsPicture(std::string_view raw) {
  return std::ranges::any_of(kPhotoExtensions, [&](std::string_view e) { return EndsWithExtension(raw, {e}); });
}

bool IsArchive(std::string_view raw) { return EndsWithExtension(raw, {"zip", "rar", "7z"}); }

// ".DS_Store", "._IMG_0001.jpg", ".git/": files and folders a system or a tool left, not the sender's.
bool IsHidden(std::string_view part) { return part.starts_with('.'); }

bool ShareAReading(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  return std::ranges::any_of(a, [&](const std::string& reading) { return std::ranges::count(b, reading) > 0; });
}

// Whether the archive declares the entry's name UTF-8. libzip does not expose the flag, but its strict
// reading converts every name not declared UTF-8 from code page 437, which changes any name with a byte
// above 0x7F; a name declared UTF-8 (by the flag, or by a Unicode path extra field, which libzip has then
// put in place of the raw name) comes back unchanged. Pure ASCII names read the same either way.
bool DeclaredUtf8(zip_t* archive, zip_uint64_t index) {
  const char* raw = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
  const char* strict = zip_get_name(archive, index, ZIP_FL_ENC_STRICT);
  return raw && strict && std::string_view(raw) == strict;
}

// Why an entry cannot be read, judged from the directory; empty when it can be.
std::string EntryProblem(const zip_stat_t& stat, const ZipLimits& limits) {
  if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
    return "压缩包中的此文件已加密，无法读取";
  if ((stat.valid & ZIP_STAT_COMP_METHOD) && !zip_compression_method_supported(stat.comp_method, 0))
    return "压缩包中的此文件使用了不支持的压缩方式（" + std::to_string(stat.comp_method) + "）";
  if ((stat.valid & ZIP_STAT_SIZE) && stat.size > limits.maxEntrySize)
    return "压缩包中的此文件解压后超过 " + Mebibytes(limits.maxEntrySize) + "，不能读取";
  return {};
}

// totalFloor + totalRatio x the archive's size, saturating instead of overflowing.
std::uint64_t TotalLimit(const ZipLimits& limits, std::uint64_t archiveSize) {
  const std::uint64_t headroom = UINT64_MAX - limits.totalFloor;
  if (limits.totalRatio != 0 && archiveSize > headroom / limits.totalRatio) return UINT64_MAX;
  return limits.totalFloor + archiveSize * limits.totalRatio;
}

std::string BombReason() { return "压缩包解压后的总量超过上限，可能是恶意构造的压缩包，停止读取"; }

}  // namespace

std::unique_ptr<ZipArchive> ZipArchive::Open(const std::filesystem::path& path, std::string& reason,
                                             const ZipLimits& limits) {
  std::error_code sizeError;
  const std::uint64_t size = std::filesystem::file_size(path, sizeError);
  if (sizeError) {
    reason = "压缩包无法读取：" + app::Utf8FromPath(path) + "：" + sizeError.message();
    return nullptr;
  }
  // libzip takes file names as UTF-8 on Windows too. CHECKCONS compares every local header with the
  // directory, so a damaged archive is refused here rather than entry by entry.
  int code = 0;
  auto handle = std::make_unique<Handle>();
  handle->archive = zip_open(app::Utf8FromPath(path).c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
  if (!handle->archive) {
    reason = "压缩包无法打开或已损坏：" + app::Utf8FromPath(path) + "：" + LibzipMessage(code);
    return nullptr;
  }
  std::unique_ptr<ZipArchive> archive(new ZipArchive(std::move(handle), limits, TotalLimit(limits, size)));
  archive->List();
  return archive;
}

ZipArchive::ZipArchive(std::unique_ptr<Handle> handle, const ZipLimits& limits, std::uint64_t totalLimit)
    : handle_(std::move(handle)), limits_(limits), totalLimit_(totalLimit) {}

ZipArchive::~ZipArchive() = default;

void ZipArchive::List() {
  zip_t* archive = handle_->archive;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  struct Named {
    zip_uint64_t index;
    SplitName name;
    bool declaredUtf8;
  };
  std::vector<Named> named;
  // The folders at the root, each with the readings of its name. An archiver writes a name as UTF-8 only
  // where it does not fit the local code page, so one folder may stand under a GBK name for some entries
  // and a flagged UTF-8 name for others: names that share a reading are one folder.
  std::vector<std::vector<std::string>> rootFolders;
  std::string shownFolder;  // preferring a reading the archive declares
  bool rootFiles = false;
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* raw = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (!raw) continue;
    SplitName name = Split(raw);
    if (name.parts.empty() || name.parts[0] == kResourceForkFolder || IsHidden(name.parts[0])) continue;
    const bool declaredUtf8 = DeclaredUtf8(archive, static_cast<zip_uint64_t>(i));
    if (name.parts.size() > 1 || name.isFolder) {
      const std::vector<std::string> readings = Readings(name.parts[0], declaredUtf8);
      const auto same = std::ranges::find_if(rootFolders, [&](const auto& known) { return ShareAReading(known, readings); });
      if (same == rootFolders.end()) rootFolders.push_back(readings);
      if (shownFolder.empty() || (declaredUtf8 && readings.size() == 1)) shownFolder = readings.front();
    } else if (IsPicture(name.parts[0])) {
      rootFiles = true;  // a picture at the root: the root is the photo folder
    }
    named.push_back(Named{static_cast<zip_uint64_t>(i), std::move(name), declaredUtf8});
  }

  // The level listed: the root, or its one folder.
  const bool inFolder = !rootFiles && rootFolders.size() == 1;
  if (inFolder) folder_ = shownFolder;
  const std::size_t depth = inFolder ? 2 : 1;
  for (const Named& entry : named) {
    const auto& parts = entry.name.parts;
    if (!entry.name.isFolder && parts.size() <= depth && IsArchive(parts.back()))
      warnings_.push_back("压缩包中的 " + Readings(parts.back(), entry.declaredUtf8).front() +
                          " 本身也是压缩包，其中的相片不会读取；如需导入，请先把它解压出来");
    if (entry.name.isFolder || parts.size() != depth) continue;
    zip_stat_t stat;
    zip_stat_init(&stat);
    const bool statOk = zip_stat_index(archive, entry.index, ZIP_FL_ENC_RAW, &stat) == 0;
    const std::string problem = statOk ? EntryProblem(stat, limits_) : "压缩包中的此文件无法读取";
    listed_.emplace(entry.index, entries_.size());
    for (std::string& reading : Readings(parts.back(), entry.declaredUtf8))
      entries_.push_back(ZipEntry{std::move(reading), entry.index, problem});
  }
}

bool ZipArchive::Read(std::uint64_t index, std::vector<std::uint8_t>& bytes, std::string& reason) {
  bytes.clear();
  const auto listed = listed_.find(index);
  if (listed == listed_.end()) {
    reason = "压缩包中没有这个文件";
    return false;
  }
  if (const std::string& problem = entries_[listed->second].reason; !problem.empty()) {
    reason = problem;
    return false;
  }
  std::lock_guard lock(mutex_);
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(handle_->archive, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE)) {
    reason = "压缩包中的此文件无法读取";
    return false;
  }
  if (inflated_ >= totalLimit_ || stat.size > totalLimit_ - inflated_) {
    reason = BombReason();
    return false;
  }
  return Inflate(index, stat.size, bytes, reason);
}

// Counts the bytes as they come: the sizes in the directory are claims, not facts.
bool ZipArchive::Inflate(std::uint64_t index, std::uint64_t claimed, std::vector<std::uint8_t>& bytes,
                         std::string& reason) {
  zip_file_t* file = zip_fopen_index(handle_->archive, index, 0);
  if (!file) {
    reason = std::string("压缩包中的此文件无法读取：") + zip_strerror(handle_->archive);
    return false;
  }
  bytes.reserve(static_cast<std::size_t>(claimed));
  std::vector<std::uint8_t> chunk(kReadChunk);
  bool ok = true;
  for (;;) {
    const zip_int64_t got = zip_fread(file, chunk.data(), chunk.size());
    if (got < 0) {
      reason = std::string("压缩包中的此文件已损坏：") + zip_file_strerror(file);
      ok = false;
      break;
    }
    if (got == 0) break;
    inflated_ += static_cast<std::uint64_t>(got);
    if (bytes.size() + static_cast<std::size_t>(got) > limits_.maxEntrySize) {
      reason = "压缩包中的此文件解压后超过 " + Mebibytes(limits_.maxEntrySize) + "，不能读取";
      ok = false;
      break;
    }
    if (inflated_ > totalLimit_) {
      reason = BombReason();
      ok = false;
      break;
    }
    // Grown up to the limit and no further: doubling a vector of some 250 MiB would ask for 500 MiB more
    // at once, which a 32-bit process seldom has in one piece (std::bad_alloc in the x86 build).
    const std::size_t needed = bytes.size() + static_cast<std::size_t>(got);
    if (needed > bytes.capacity())
      bytes.reserve(std::max(needed, std::min<std::size_t>(bytes.capacity() * 2, limits_.maxEntrySize)));
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
  }
  zip_fclose(file);
  if (ok && bytes.size() != claimed) {
    reason = "压缩包中的此文件已损坏：解压后的长度与目录不符";
    ok = false;
  }
  if (!ok) std::vector<std::uint8_t>().swap(bytes);
  return ok;
}

bool IsZipArchivePath(std::string_view path) { return FoldName(path).ends_with(".ZIP"); }

}  // namespace photoimport
