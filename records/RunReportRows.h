// The rows of a run's report, made from what the run gives back: its readers in reader order, then the
// picture files of its folder that none of them took.
#pragma once

#include <vector>

#include "import/ImportRun.h"
#include "records/RunReport.h"

namespace photoimport {

// The reason given for a reader whose identifier matched no file (the run logs nothing for it).
inline constexpr const char* kNoMatchReason = "没有匹配的相片文件";

// A selected reader the run did not reach (`not reached`), and a reader passed over because it has a photo
// whose file is in the folder (`skipped`, after the selected readers): each with its file, which is thus
// never `unused`.
inline constexpr const char* kNotReachedReason = "导入在此之前已停止，这位读者未处理";
inline constexpr const char* kSkippedReason = "已有相片，本次未选择（已有相片的读者不再重新导入）";

// The selected readers (those the run did not reach last), then the skipped ones, then the unused files.
// A dry run's stored photos are the ones that would be stored: `ready`.
std::vector<ReportRow> RunReportRows(const ImportResult& result, bool dryRun);

}  // namespace photoimport
