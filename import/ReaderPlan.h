// Which photo file each selected reader takes, decided for all of them before the first photo is stored.
// A reader whose identifier is empty is not looked up (it would take a file named only by its extension
// or one with an empty segment). A file that several selected readers would take belongs to none of them:
// nothing tells which of them the photo shows, and storing it on all would give some a stranger's photo.
#pragma once

#include <string>
#include <vector>

#include "import/PhotoLookup.h"
#include "sources/MappingFile.h"

namespace photoimport {

// One row of the selection.
struct ReaderRow {
  std::string cardNumber;  // pe_id without its trailing blanks (a leading blank is part of it)
  std::string name;        // trimmed pe_name, empty for NULL
  std::string identifier;  // trimmed and upper-cased sNo, empty for NULL
};

enum class FileChoice {
  Found,         // the reader takes `file`
  NoIdentifier,  // empty identifier: not looked up
  NoFile,        // no file matches
  Shared,        // `file` matches other selected readers too: not imported
  Several,       // other files would do as well as `file` (names that differ only in letter case or in
                 // the extension): which one is meant cannot be told, none is imported (`reason` names them)
  Refused,       // the mapping file cannot serve the reader (`reason`)
};

struct PlannedReader {
  FileChoice choice = FileChoice::NoFile;
  FoundFile file;  // for Found, Shared and Several
  std::string reason;  // for Refused and Several, and for NoFile when the mapping names a file that is not there
};

// The choice for each row, in the order of the rows. With a mapping, each reader's file is the one the
// mapping names for its identifier, instead of the naming rule's.
std::vector<PlannedReader> PlanReaders(const std::vector<ReaderRow>& rows, const PhotoFolder& folder,
                                       NamingRule rule, int ruleIndex, const PhotoMapping* mapping = nullptr);

// A mapped file that is not in the folder: "对照文件所列的相片文件不存在：NAME".
// Several files that would do: "有多个相片文件（A.jpg、a.png），不知用哪一个，未导入".
std::string MissingMappedFileReason(const std::string& fileName);

}  // namespace photoimport
