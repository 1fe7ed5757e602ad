// What the end of a run says, besides its summary (SummaryLine): where a stopped run stopped, where the
// photos it replaced are kept, that a dry run wrote nothing. The window's log, card-photo import and the
// run's contact sheet say the same.
#pragma once

#include <string>
#include <vector>

#include "import/ImportRun.h"

namespace photoimport {

// A stopped run: "导入已停止：停在第 N 位读者之后，还有 M 位读者未处理" (N readers finished, M of the
// selected never reached).
std::string StoppedLine(const ImportResult& result);
// A run that replaced photos with backups: "被替换的 N 张相片已备份在：FOLDER"; empty when it kept none.
std::string BackupLine(const ImportResult& result);
// A dry run: "预检完成：没有写入数据库，…".
std::string DryRunLine();

// The lines after the failures, in this order: the summary, where a stopped run stopped, the backup
// folder, and for a dry run that nothing was written. A run that did not get to its readers (a failed
// check, a rejected selection) has none.
std::vector<std::string> RunEndLines(const ImportResult& result, bool dryRun);

}  // namespace photoimport
