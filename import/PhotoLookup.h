// Photo file lookup: which file of the photo folder belongs to a reader, under the three naming rules.
//
// Paths are folder + kPathSeparator + name. On Windows the separator is "\"; on Linux it is "/", and the
// folder field of the window may end in either, one of which is removed (StripTrailingSeparator). An empty
// folder (the field held only a separator) stands for the root: paths then begin with the separator.
//
// Names are compared without regard to ASCII letter case, also on case-sensitive file systems: both sides
// are upper-cased, ASCII letters only, and only where they stand as characters of their own (a byte inside
// a double-byte character is never touched). Names on disk may be UTF-8 or GBK: a name that is valid as
// both is looked up under both readings (app::FileNameReadings). Lengths of the prefix rule count GBK
// bytes, a Chinese character counting 2. Only regular files match; a sub-folder of a matching name is
// passed over. An empty identifier matches nothing. A returned name is the name exactly as the file system
// gives it (its bytes), so that the path opens the file. Whichever reading matched, a name is shown and
// reported in one reading only: as UTF-8 where its bytes are valid UTF-8 (as the user's file manager shows
// it), otherwise as GBK.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace photoimport {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Accepted extensions, in search order: a "jpg" file always wins over a "jpeg", "png" or "bmp" file.
inline constexpr std::array<std::string_view, 4> kPhotoExtensions = {"jpg", "jpeg", "png", "bmp"};

enum class LookupMode { Segment, Prefix };

// The three naming rules of the window: the whole name is the identifier, the identifier is one
// "_"-separated segment, or the identifier is the name's first bytes.
enum class NamingRule { Exact, Segment, Prefix };

inline constexpr int kSegmentCount = 5;      // segment mode: n = 0..4 for segments 1..5
inline constexpr int kMaxPrefixLength = 32;  // prefix mode: n = 0..31 for lengths 1..32

// Removes one trailing "\" (and, where the separator is "/", one trailing "/"); on Windows a drive root
// ("C:\") keeps its separator.
std::string StripTrailingSeparator(std::string folder);

// folder + separator + name (a drive root already ends in its separator).
std::string JoinPath(const std::string& folder, const std::string& name);

// Whether the folder exists and can be listed (the empty folder stands for the root).
bool CanListFolder(const std::string& folder);

// The path of a found name as it is shown and logged: the name decoded to UTF-8 (it may be GBK on disk).
std::string DisplayPath(const std::string& folder, const std::string& name);

// The identifier as the lookup compares it: ASCII letters upper-cased, nothing else changed.
std::string FoldName(std::string_view utf8);

// A file found for an identifier: its name as on disk (empty when none was found) and the name as shown
// and logged (its UTF-8 reading where the name is valid UTF-8, whichever reading matched).
struct FoundFile {
  std::string name;
  std::string shown;
  bool empty() const { return name.empty(); }
};

// A name of a listing made elsewhere: the name the listing reads a file back by, and every reading, as
// UTF-8, it is looked up under; the first reading is the one shown.
struct ListedName {
  std::string name;
  std::vector<std::string> readings;
};

// The photo folder listed once: every later lookup goes through indexes built from that one listing
// (lazily, one per naming rule and n), so a run over N readers does O(N + M) directory work.
class PhotoFolder {
 public:
  // Lists the folder (never throws; a missing or unreadable folder lists as empty).
  explicit PhotoFolder(std::string folder);
  // A listing made elsewhere (an archive's entries): each name with the readings it is looked up under.
  PhotoFolder(std::string folder, const std::vector<ListedName>& names);
  ~PhotoFolder();
  PhotoFolder(const PhotoFolder&) = delete;
  PhotoFolder& operator=(const PhotoFolder&) = delete;

  // False when the folder could not be listed (missing, not a folder, unreadable).
  bool Listed() const { return listed_; }
  const std::string& folder() const { return folder_; }

  // Exact rule: the name of the first of Id.jpg, Id.jpeg, Id.png, Id.bmp that exists; empty when none.
  std::string FindExact(const std::string& identifier) const;
  // Segment and prefix rules (FindPhotoFile); empty when nothing matches or n is out of range.
  std::string Find(const std::string& identifier, int n, LookupMode mode) const;
  // The rule's lookup; index is n of the segment and prefix rules.
  std::string FindByRule(const std::string& identifier, NamingRule rule, int index) const;
  // As FindByRule, with the reading of the name that matched.
  FoundFile FindFile(const std::string& identifier, NamingRule rule, int index) const;
  // The picture file of that name (a mapping file's), ASCII letter case ignored; empty when none.
  FoundFile FindNamed(const std::string& fileName) const;
  // The picture files of the listing in search order, each once (under the reading it is shown by).
  std::vector<FoundFile> Pictures() const;
  // The other files a reader could have taken instead of `found`: those whose names differ from it only in
  // ASCII letter case and, with anyExtension, in the extension (x.JPG or x.png beside x.jpg) under any
  // reading. The naming rules take the first in search order; a run takes none of several.
  std::vector<FoundFile> Alternatives(const FoundFile& found, bool anyExtension) const;

 private:
  struct Entry;
  using Index = std::unordered_map<std::string, std::size_t>;  // key -> first entry in search order
  const Index& SegmentIndex(int n) const;
  const Index& PrefixIndex(int n) const;
  const Entry* EntryAt(const Index& index, const std::string& key) const;
  const Entry* FindExactEntry(const std::string& identifier) const;
  const Entry* FindEntry(const std::string& identifier, int n, LookupMode mode) const;
  void AddEntry(const std::string& name, const std::string& reading, const std::string& shown);
  static std::string StemOf(const Entry& entry);
  void BuildIndex();

  std::string folder_;
  bool listed_ = false;
  std::vector<Entry> entries_;  // one per reading of each name; search order: by extension, then by name
  Index exact_;
  mutable std::map<int, Index> segment_;
  mutable std::map<int, Index> prefix_;
  std::unordered_map<std::string, std::vector<std::size_t>> byStem_;  // folded name without extension
};

// The lookup for one identifier: lists the folder, then as PhotoFolder::Find. Returns the file name (not
// the path) or empty. n is the segment index 0..4 or the prefix length minus 1, 0..31.
std::string FindPhotoFile(const std::string& folder, const std::string& identifier, int n, LookupMode mode);

}  // namespace photoimport
