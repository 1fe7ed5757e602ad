// The mapping file: when photo files are not named by any reader identifier, staff list which file belongs
// to which reader, one line each, "IDENTIFIER,FILENAME" or "IDENTIFIER<TAB>FILENAME" (a spreadsheet saved
// as CSV or as tab-separated text). The file may be UTF-8 (with or without a byte-order mark), GBK, or
// UTF-16 with a byte-order mark in either byte order ("Unicode text"), the ways spreadsheets on Chinese
// Windows save text.
//
// A file with a line that cannot be meant (no separator, an empty side, a file outside the photo folder) is
// refused as a whole before anything is stored, so that a typo never stores a photo on the wrong reader.
// Ambiguities are kept to the readers they concern: an identifier listed twice, or a file listed for two
// identifiers, makes those readers fail with the reason, and the rest of the run goes on.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace photoimport {

// What the mapping says about one identifier: the file (relative to the photo folder, "/" between folder
// names, to be looked up with ASCII letter case ignored), or why the reader cannot be served.
struct MappedFile {
  std::string fileName;  // empty when reason is set
  std::string reason;
};

class PhotoMapping {
 public:
  // identifier is compared as the run compares identifiers: trimmed, ASCII letters upper-cased (FoldName).
  // std::nullopt when the mapping does not name the identifier.
  std::optional<MappedFile> Find(std::string_view identifier) const;
  std::size_t size() const { return entries_.size(); }

 private:
  friend struct MappingParser;
  std::unordered_map<std::string, MappedFile> entries_;  // by folded identifier
};

struct MappingParse {
  std::optional<PhotoMapping> mapping;  // set when the file can be used
  std::string refusal;                  // otherwise: the lines at fault, by kind, with their numbers
};

// Parses the content of a mapping file (bytes as read).
MappingParse ParseMappingFile(std::string_view content);

// Reads and parses the file. A file that cannot be read, or is larger than any mapping file can sensibly be
// (64 MiB), is refused with the reason.
MappingParse ReadMappingFile(const std::filesystem::path& path);

}  // namespace photoimport
