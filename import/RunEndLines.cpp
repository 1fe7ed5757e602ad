#include "import/RunEndLines.h"

namespace photoimport {

std::string StoppedLine(const ImportResult& result) {
  const int finished = static_cast<int>(result.readers.size());
  return "导入已停止：停在第 " + std::to_string(finished) + " 位读者之后，还有 " +
         std::to_string(result.selected - finished) + " 位读者未处理";
}

std::string BackupLine(const ImportResult& result) {
  if (result.backedUp <= 0) return {};
  return "被替换的 " + std::to_string(result.backedUp) + " 张相片已备份在：" + result.backupFolder;
}

std::string DryRunLine() { return "预检完成：没有写入数据库，以上是导入时会有的结果"; }

std::vector<std::string> RunEndLines(const ImportResult& result, bool dryRun) {
  if (result.outcome == RunOutcome::NotStarted || result.outcome == RunOutcome::SelectionFailed) return {};
  std::vector<std::string> lines = {SummaryLine(result)};
  if (result.outcome == RunOutcome::Stopped) lines.push_back(StoppedLine(result));
  if (const std::string backup = BackupLine(result); !backup.empty()) lines.push_back(backup);
  if (dryRun) lines.push_back(DryRunLine());
  return lines;
}

}  // namespace photoimport
