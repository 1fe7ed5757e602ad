// The rows of a run's report, made from what the run gives back: its readers in reader order, then the
// picture files of its folder that none of them took.
#pragma once

#include <vector>

#include "import/ImportRun.h"
#include "records/RunReport.h"

namespace photoimport {

// The reason given for a reader whose identifier matched no file (the run logs nothing for it).
inline constexpr const char* kNoMatchReason = "没有匹配的相片文件";

// A dry run's stored photos are the ones that would be stored: `ready`.
std::vector<ReportRow> RunReportRows(const ImportResult& result, bool dryRun);

}  // namespace photoimport
