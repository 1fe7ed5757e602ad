#include "records/BackupManifest.h"

#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "app/AtomicFile.h"
#include "app/FilePath.h"
#include "records/CsvFields.h"

namespace photoimport {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kHeader = "文件,借书证号,姓名,相片SHA-256,替换它的相片SHA-256\r\n";
constexpr std::size_t kFields = 5;

bool IsDigest(std::string_view text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace

std::string FormatManifestLine(const ManifestRecord& record) {
  std::string line;
  for (const std::string* field : {&record.file, &record.cardNumber, &record.name, &record.digest, &record.replacedBy}) {
    if (!line.empty() || field != &record.file) line += ',';
    AppendCsvField(line, *field);
  }
  return line + "\r\n";
}

bool ParseManifestLine(std::string_view line, ManifestRecord& record) {
  std::vector<std::string> fields;
  if (!SplitCsvFields(line, fields) || fields.size() != kFields) return false;
  if (fields[0].empty() || fields[1].empty() || !IsDigest(fields[3])) return false;
  if (!fields[4].empty() && !IsDigest(fields[4])) return false;
  record = ManifestRecord{fields[0], fields[1], fields[2], fields[3], fields[4]};
  return true;
}

std::string StartManifest(const std::filesystem::path& folder) {
  return app::WriteFileAtomically(folder / kManifestFileName, std::string(kByteOrderMark) + std::string(kHeader),
                                  app::ExistingFile::Keep);
}

std::string AppendManifestRecord(const std::filesystem::path& folder, const ManifestRecord& record) {
  return app::AppendDurably(folder / kManifestFileName, FormatManifestLine(record));
}

// Records end in CR LF; a line break inside a quoted field belongs to the field. What follows the last
// line break is an unfinished record and is passed over.
Manifest ReadManifest(const std::filesystem::path& folder) {
  Manifest manifest;
  const std::filesystem::path path = folder / kManifestFileName;
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) return manifest;
  manifest.present = true;
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error)) || !(content << in.rdbuf())) {
    manifest.error = "cannot read " + app::Utf8FromPath(path);
    return manifest;
  }
  std::string text = content.str();
  if (text.starts_with(kByteOrderMark)) text.erase(0, kByteOrderMark.size());
  bool header = true, quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (quoted || text[i] != '\n' || i == 0 || text[i - 1] != '\r') continue;
    const std::string_view line = std::string_view(text).substr(start, i - 1 - start);
    start = i + 1;
    if (std::exchange(header, false)) continue;
    ManifestRecord record;
    if (ParseManifestLine(line, record)) manifest.byFile[record.file] = record;
    else ++manifest.unreadableLines;
  }
  if (start < text.size()) ++manifest.unreadableLines;
  return manifest;
}

}  // namespace photoimport
