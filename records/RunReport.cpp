#include "records/RunReport.h"

#include <span>
#include <system_error>

#include "app/FilePath.h"

#include "app/AtomicFile.h"
#include "import/PhotoLookup.h"
#include "records/CsvFields.h"

namespace photoimport {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";

void AppendLine(std::string& out, std::initializer_list<std::string_view> fields) {
  bool first = true;
  for (const std::string_view field : fields) {
    if (!first) out += ',';
    first = false;
    AppendCsvField(out, field);
  }
  out += kLineEnd;
}

}  // namespace

std::string_view OutcomeWord(ReportOutcome outcome) {
  switch (outcome) {
    case ReportOutcome::Stored: return "stored";
    case ReportOutcome::Ready: return "ready";
    case ReportOutcome::Failed: return "failed";
    case ReportOutcome::NoFile: return "nofile";
    case ReportOutcome::Unused: return "unused";
    case ReportOutcome::Unknown: return "outcome unknown";
    case ReportOutcome::NotReached: return "not reached";
    case ReportOutcome::Skipped: return "skipped";
  }
  return {};
}

bool IsPictureFileName(std::string_view name) {
  const std::string folded = FoldName(name);
  for (const std::string_view extension : kPhotoExtensions) {
    const std::string suffix = "." + FoldName(extension);
    if (folded.size() > suffix.size() && folded.ends_with(suffix)) return true;
  }
  return false;
}

void RunReport::AddReader(ReportRow row, std::string fileKey) {
  if (row.outcome != ReportOutcome::NoFile && !row.path.empty())
    taken_.insert(fileKey.empty() ? row.path : std::move(fileKey));
  readers_.push_back(std::move(row));
}

void RunReport::AddFolderFile(std::string path, std::string fileKey) {
  if (!IsPictureFileName(path)) return;
  if (fileKey.empty()) fileKey = path;
  if (!fileKeys_.insert(fileKey).second) return;
  files_.push_back(FolderFile{std::move(path), std::move(fileKey)});
}

std::vector<ReportRow> RunReport::Rows() const {
  std::vector<ReportRow> rows = readers_;
  for (const FolderFile& file : files_) {
    if (taken_.contains(file.key)) continue;
    ReportRow row;
    row.path = file.path;
    row.outcome = ReportOutcome::Unused;
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string FormatRunReport(const std::vector<ReportRow>& rows) {
  std::string out(kByteOrderMark);
  const auto& h = kReportHeader;
  AppendLine(out, {h[0], h[1], h[2], h[3], h[4], h[5]});
  for (const ReportRow& row : rows)
    AppendLine(out, {row.cardNumber, row.name, row.identifier, row.path, OutcomeWord(row.outcome), row.reason});
  return out;
}

std::string CheckReportPath(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return app::Utf8FromPath(path) + " is a folder";
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  if (!std::filesystem::is_directory(folder, error))
    return "the folder " + app::Utf8FromPath(folder) + " does not exist";
  // A file written and removed beside it: the folder takes new files.
  std::filesystem::path probe = path;
  probe += ".check";
  if (std::string failure = app::WriteFileAtomically(probe, std::string_view(), app::ExistingFile::Keep); !failure.empty())
    return failure;
  std::filesystem::remove(probe, error);
  return {};
}

std::string WriteRunReport(const std::filesystem::path& path, const std::vector<ReportRow>& rows) {
  return app::WriteFileAtomically(path, FormatRunReport(rows));
}

}  // namespace photoimport
