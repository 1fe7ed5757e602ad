#include "import/PhotoLookup.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <tuple>

#include "app/FilePath.h"
#include "app/Text.h"

namespace photoimport {

struct PhotoFolder::Entry {
  std::string name;    // as the file system gives it
  std::string folded;  // decoded to UTF-8, ASCII letters upper-cased
  int extension;       // index into kPhotoExtensions
};

namespace {

bool IsSeparator(char c) { return c == '\\' || c == kPathSeparator; }

// Index into kPhotoExtensions of the name's extension, -1 when it is none of them.
int ExtensionOf(const std::string& folded) {
  for (std::size_t i = 0; i < kPhotoExtensions.size(); ++i) {
    const std::string suffix = "." + FoldName(kPhotoExtensions[i]);
    if (folded.size() >= suffix.size() && folded.compare(folded.size() - suffix.size(), suffix.size(), suffix) == 0)
      return static_cast<int>(i);
  }
  return -1;
}

std::filesystem::path DirectoryOf(const std::string& folder) {
  return app::PathFromUtf8(folder.empty() ? std::string(1, kPathSeparator) : folder);
}

// "C:\" names the root of drive C, "C:" the drive's current folder: a root keeps its separator.
bool IsDriveRoot(const std::string& folder) {
#ifdef _WIN32
  return folder.size() == 3 && std::isalpha(static_cast<unsigned char>(folder[0])) && folder[1] == ':' &&
         IsSeparator(folder[2]);
#else
  (void)folder;
  return false;
#endif
}

// Regular files of the folder whose extension is accepted. False when the folder cannot be listed.
bool ListPhotoFiles(const std::string& folder, std::vector<std::string>& names) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::directory_iterator it(DirectoryOf(folder), error);
  if (error) return false;
  for (const fs::directory_iterator end; it != end; it.increment(error)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError)) names.push_back(app::Utf8FromPath(it->path().filename()));
  }
  return !error;
}

// Segment mode: the rest of the folded name after dropping n segments, or false when the name has no "_"
// or too few segments.
bool DropSegments(const std::string& folded, int n, std::string_view& rest) {
  if (folded.find('_') == std::string::npos) return false;
  std::size_t start = 0;
  for (int i = 0; i < n; ++i) {
    const std::size_t underscore = folded.find('_', start);
    if (underscore == std::string::npos) return false;
    start = underscore + 1;
  }
  rest = std::string_view(folded).substr(start);
  return true;
}

}  // namespace

std::string StripTrailingSeparator(std::string folder) {
  if (!folder.empty() && IsSeparator(folder.back()) && !IsDriveRoot(folder)) folder.pop_back();
  return folder;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (IsDriveRoot(folder)) return folder + name;
  return folder + kPathSeparator + name;
}

bool CanListFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::directory_iterator it(DirectoryOf(folder), error);
  return !error;
}

std::string DisplayPath(const std::string& folder, const std::string& name) {
  return JoinPath(folder, app::FileNameToUtf8(name));
}

std::string FoldName(std::string_view utf8) { return app::UpperAscii(utf8); }

PhotoFolder::PhotoFolder(std::string folder) : folder_(std::move(folder)) {
  std::vector<std::string> names;
  try {
    listed_ = ListPhotoFiles(folder_, names);
  } catch (const std::exception&) {  // an allocation failure while listing: treat as unlistable
    listed_ = false;
  }
  for (auto& name : names) {
    std::string folded = FoldName(app::FileNameToUtf8(name));
    const int extension = ExtensionOf(folded);
    if (extension >= 0) entries_.push_back(Entry{std::move(name), std::move(folded), extension});
  }
  // Within one extension, the order of a case-insensitive file system: by folded name, then by the bytes.
  std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
    return std::tie(a.extension, a.folded, a.name) < std::tie(b.extension, b.folded, b.name);
  });
  for (std::size_t i = 0; i < entries_.size(); ++i) exact_.emplace(entries_[i].folded, i);
}

PhotoFolder::~PhotoFolder() = default;

std::string PhotoFolder::NameAt(const Index& index, const std::string& key) const {
  const auto it = index.find(key);
  return it == index.end() ? std::string() : entries_[it->second].name;
}

std::string PhotoFolder::FindExact(const std::string& identifier) const {
  const std::string stem = FoldName(identifier);
  for (const auto extension : kPhotoExtensions) {
    std::string name = NameAt(exact_, stem + "." + FoldName(extension));
    if (!name.empty()) return name;
  }
  return {};
}

// Every prefix of the rest that ends just before a "." or a "_" is an identifier the entry matches.
const PhotoFolder::Index& PhotoFolder::SegmentIndex(int n) const {
  auto [it, created] = segment_.try_emplace(n);
  if (!created) return it->second;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    std::string_view rest;
    if (!DropSegments(entries_[i].folded, n, rest)) continue;
    for (std::size_t p = 0; p < rest.size(); ++p)
      if (rest[p] == '.' || rest[p] == '_') it->second.emplace(std::string(rest.substr(0, p)), i);
  }
  return it->second;
}

// An entry matches when its name is longer than n bytes and its first n + 1 GBK bytes are the identifier.
const PhotoFolder::Index& PhotoFolder::PrefixIndex(int n) const {
  auto [it, created] = prefix_.try_emplace(n);
  if (!created) return it->second;
  const auto length = static_cast<std::size_t>(n) + 1;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const std::string gbk = app::Utf8ToGbk(entries_[i].folded);
    if (gbk.size() >= length) it->second.emplace(gbk.substr(0, length), i);
  }
  return it->second;
}

std::string PhotoFolder::Find(const std::string& identifier, int n, LookupMode mode) const {
  switch (mode) {
    case LookupMode::Segment:
      if (n < 0 || n >= kSegmentCount) return {};
      return NameAt(SegmentIndex(n), FoldName(identifier));
    case LookupMode::Prefix:
      if (n < 0 || n >= kMaxPrefixLength) return {};
      return NameAt(PrefixIndex(n), app::Utf8ToGbk(FoldName(identifier)));
  }
  return {};
}

std::string PhotoFolder::FindByRule(const std::string& identifier, NamingRule rule, int index) const {
  switch (rule) {
    case NamingRule::Segment: return Find(identifier, index, LookupMode::Segment);
    case NamingRule::Prefix: return Find(identifier, index, LookupMode::Prefix);
    case NamingRule::Exact: break;
  }
  return FindExact(identifier);
}

std::string FindPhotoFile(const std::string& folder, const std::string& identifier, int n, LookupMode mode) {
  return PhotoFolder(folder).Find(identifier, n, mode);
}

}  // namespace photoimport
