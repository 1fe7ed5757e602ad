#include "records/RunReport.h"

#include <span>

#include "app/AtomicFile.h"
#include "import/PhotoLookup.h"

namespace photoimport {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";

// RFC 4180: a field holding a quote, a comma or a line break is enclosed in quotes, its quotes doubled.
void AppendField(std::string& out, std::string_view field) {
  if (field.find_first_of("\",\r\n") == std::string_view::npos) {
    out += field;
    return;
  }
  out += '"';
  for (const char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendLine(std::string& out, std::initializer_list<std::string_view> fields) {
  bool first = true;
  for (const std::string_view field : fields) {
    if (!first) out += ',';
    first = false;
    AppendField(out, field);
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

std::string WriteRunReport(const std::filesystem::path& path, const std::vector<ReportRow>& rows) {
  return app::WriteFileAtomically(path, FormatRunReport(rows));
}

}  // namespace photoimport
