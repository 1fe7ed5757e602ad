// The record of whose photos a backup or export folder holds: manifest.csv in the folder, one line per
// photo file with the reader it belonged to (card number as the reader table holds it, and name), the
// SHA-256 of the value in the file and, in the backup of a run (or of a restore), the SHA-256 of the photo
// that took its place. A restore goes by this record, never by a file's name alone: it writes a photo back
// only to the reader it belonged to, only while the file still holds what was recorded, and after a run
// only while the reader still holds the photo that run stored.
//
// The manifest is a journal: its header is written (atomically) when the folder is made, and each record
// is appended after its photo file is safely on disk, reaching the disk itself before the photo is
// replaced. So a run or an export killed at any moment leaves every record naming a whole file; at worst
// a file without a record (never replaced, or exported but unrecorded) and an unfinished last line, which
// the reader passes over. A spreadsheet opens the manifest as it opens the run report (UTF-8 with a
// byte-order mark, RFC 4180 quoting); a field that a spreadsheet would take for a formula is written
// behind an apostrophe, which reading removes again.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace photoimport {

inline constexpr const char* kManifestFileName = "manifest.csv";

struct ManifestRecord {
  std::string file;        // the photo file's name in the folder (UTF-8)
  std::string cardNumber;  // as the reader table held it (leading blanks kept)
  std::string name;        // the reader's name then
  std::string digest;      // SHA-256 (hexadecimal) of the file's bytes: the photo value it holds
  std::string replacedBy;  // SHA-256 of the photo stored in its place; empty for an export
  bool operator==(const ManifestRecord&) const = default;
};

// Makes the manifest of a new folder (its header only); fails when one exists already.
std::string StartManifest(const std::filesystem::path& folder);
// Appends one record once its file is on disk. The empty string on success, otherwise the reason.
std::string AppendManifestRecord(const std::filesystem::path& folder, const ManifestRecord& record);

struct Manifest {
  bool present = false;  // the folder has a manifest (a backup made before manifests existed has none)
  std::string error;     // it is there but cannot be read
  std::map<std::string, ManifestRecord> byFile;
  int unreadableLines = 0;  // lines that are no record (an unfinished last line after a kill, an edit)
};

Manifest ReadManifest(const std::filesystem::path& folder);

// One line of the manifest, and its inverse (false for a line that is no whole record).
std::string FormatManifestLine(const ManifestRecord& record);
bool ParseManifestLine(std::string_view line, ManifestRecord& record);

}  // namespace photoimport
