#include "records/RunReportRows.h"

namespace photoimport {
namespace {

ReportOutcome OutcomeOf(ReaderOutcome outcome, bool dryRun) {
  switch (outcome) {
    case ReaderOutcome::Stored: return dryRun ? ReportOutcome::Ready : ReportOutcome::Stored;
    case ReaderOutcome::Failed: return ReportOutcome::Failed;
    case ReaderOutcome::Unknown: return ReportOutcome::Unknown;
    case ReaderOutcome::NotReached: return ReportOutcome::NotReached;
    case ReaderOutcome::HasPhoto: return ReportOutcome::Skipped;
    case ReaderOutcome::NoFile: break;
  }
  return ReportOutcome::NoFile;
}

}  // namespace

std::vector<ReportRow> RunReportRows(const ImportResult& result, bool dryRun) {
  RunReport report;
  std::vector<FinishedReader> named = result.readers;
  for (FinishedReader reader : result.notReached) {
    reader.reason = kNotReachedReason;
    named.push_back(std::move(reader));
  }
  for (FinishedReader reader : result.skipped) {
    reader.reason = kSkippedReason;
    named.push_back(std::move(reader));
  }
  for (const FinishedReader& reader : named) {
    ReportRow row{reader.cardNumber, reader.name, reader.identifier, reader.path, OutcomeOf(reader.outcome, dryRun),
                  reader.reason};
    if (row.outcome == ReportOutcome::NoFile && row.reason.empty()) row.reason = kNoMatchReason;
    // A file is known by its name on disk, so that it counts as taken under either reading of the name.
    report.AddReader(std::move(row), reader.fileName);
  }
  for (const FoundFile& picture : result.pictures) report.AddFolderFile(JoinPath(result.folder, picture.shown), picture.name);
  return report.Rows();
}

}  // namespace photoimport
