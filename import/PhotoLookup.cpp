#include "import/PhotoLookup.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <tuple>
#include <unordered_set>

#include "app/FilePath.h"
#include "app/Text.h"

namespace photoimport {

struct PhotoFolder::Entry {
  std::string name;    // as the file system gives it
  std::string folded;  // one reading of the name, as UTF-8, ASCII letters upper-cased
  std::string shown;   // the name as shown, whichever reading this entry is
  int extension;        // index into kPhotoExtensions
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

// The folded name without its extension: the part a reader's lookup matches.
std::string PhotoFolder::StemOf(const Entry& entry) {
  return entry.folded.substr(0, entry.folded.size() - kPhotoExtensions[entry.extension].size() - 1);
}

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
  for (const std::string& name : names) {
    const std::string shown = app::FileNameToUtf8(name);
    for (const std::string& reading : app::FileNameReadings(name)) AddEntry(name, reading, shown);
  }
  BuildIndex();
}

PhotoFolder::PhotoFolder(std::string folder, const std::vector<ListedName>& names)
    : folder_(std::move(folder)), listed_(true) {
  for (const ListedName& listed : names) {
    if (listed.readings.empty()) continue;
    for (const std::string& reading : listed.readings) AddEntry(listed.name, reading, listed.readings.front());
  }
  BuildIndex();
}

void PhotoFolder::AddEntry(const std::string& name, const std::string& reading, const std::string& shown) {
  std::string folded = FoldName(reading);
  const int extension = ExtensionOf(folded);
  if (extension >= 0) entries_.push_back(Entry{name, std::move(folded), shown, extension});
}

void PhotoFolder::BuildIndex() {
  // Within one extension, the order of a case-insensitive file system: by folded name, then by the bytes.
  std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
    return std::tie(a.extension, a.folded, a.name) < std::tie(b.extension, b.folded, b.name);
  });
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    exact_.emplace(entries_[i].folded, i);
    byStem_[StemOf(entries_[i])].push_back(i);
  }
}

std::vector<FoundFile> PhotoFolder::Alternatives(const FoundFile& found, bool anyExtension) const {
  std::vector<FoundFile> others;
  const std::string folded = FoldName(found.shown);
  const int extension = ExtensionOf(folded);
  if (extension < 0) return others;
  const auto stem = byStem_.find(folded.substr(0, folded.size() - kPhotoExtensions[extension].size() - 1));
  if (stem == byStem_.end()) return others;
  for (const std::size_t i : stem->second) {
    const Entry& other = entries_[i];
    if (other.name == found.name || (!anyExtension && other.folded != folded)) continue;
    if (std::none_of(others.begin(), others.end(), [&](const FoundFile& f) { return f.name == other.name; }))
      others.push_back(FoundFile{other.name, other.shown});
  }
  return others;
}

PhotoFolder::~PhotoFolder() = default;

FoundFile PhotoFolder::FindNamed(const std::string& fileName) const {
  const Entry* entry = EntryAt(exact_, FoldName(fileName));
  return entry ? FoundFile{entry->name, entry->shown} : FoundFile{};
}

std::vector<FoundFile> PhotoFolder::Pictures() const {
  std::vector<FoundFile> pictures;
  pictures.reserve(entries_.size());
  std::unordered_set<std::string_view> listed;  // a name with two readings has two entries
  for (const Entry& entry : entries_)
    if (listed.insert(entry.name).second) pictures.push_back(FoundFile{entry.name, entry.shown});
  return pictures;
}

const PhotoFolder::Entry* PhotoFolder::EntryAt(const Index& index, const std::string& key) const {
  const auto it = index.find(key);
  return it == index.end() ? nullptr : &entries_[it->second];
}

const PhotoFolder::Entry* PhotoFolder::FindExactEntry(const std::string& identifier) const {
  if (identifier.empty()) return nullptr;  // it would take a file named only by its extension
  const std::string stem = FoldName(identifier);
  for (const auto extension : kPhotoExtensions) {
    if (const Entry* entry = EntryAt(exact_, stem + "." + FoldName(extension))) return entry;
  }
  return nullptr;
}

std::string PhotoFolder::FindExact(const std::string& identifier) const {
  const Entry* entry = FindExactEntry(identifier);
  return entry ? entry->name : std::string();
}

// Every prefix of the rest that ends just before a "." or a "_" is an identifier the entry matches; the
// empty prefix (an empty segment, as in "A00001__x.jpg") is no identifier.
const PhotoFolder::Index& PhotoFolder::SegmentIndex(int n) const {
  auto [it, created] = segment_.try_emplace(n);
  if (!created) return it->second;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    std::string_view rest;
    if (!DropSegments(entries_[i].folded, n, rest)) continue;
    for (std::size_t p = 1; p < rest.size(); ++p)
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

const PhotoFolder::Entry* PhotoFolder::FindEntry(const std::string& identifier, int n, LookupMode mode) const {
  if (identifier.empty()) return nullptr;
  switch (mode) {
    case LookupMode::Segment:
      if (n < 0 || n >= kSegmentCount) return nullptr;
      return EntryAt(SegmentIndex(n), FoldName(identifier));
    case LookupMode::Prefix:
      if (n < 0 || n >= kMaxPrefixLength) return nullptr;
      return EntryAt(PrefixIndex(n), app::Utf8ToGbk(FoldName(identifier)));
  }
  return nullptr;
}

std::string PhotoFolder::Find(const std::string& identifier, int n, LookupMode mode) const {
  const Entry* entry = FindEntry(identifier, n, mode);
  return entry ? entry->name : std::string();
}

FoundFile PhotoFolder::FindFile(const std::string& identifier, NamingRule rule, int index) const {
  const Entry* entry = nullptr;
  switch (rule) {
    case NamingRule::Segment: entry = FindEntry(identifier, index, LookupMode::Segment); break;
    case NamingRule::Prefix: entry = FindEntry(identifier, index, LookupMode::Prefix); break;
    case NamingRule::Exact: entry = FindExactEntry(identifier); break;
  }
  return entry ? FoundFile{entry->name, entry->shown} : FoundFile{};
}

std::string PhotoFolder::FindByRule(const std::string& identifier, NamingRule rule, int index) const {
  return FindFile(identifier, rule, index).name;
}

std::string FindPhotoFile(const std::string& folder, const std::string& identifier, int n, LookupMode mode) {
  return PhotoFolder(folder).Find(identifier, n, mode);
}

}  // namespace photoimport
