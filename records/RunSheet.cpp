#include "records/RunSheet.h"

#include "import/RunEndLines.h"

namespace photoimport {
namespace {

std::string IdentifierWords(IdentifierColumn identifier) {
  switch (identifier) {
    case IdentifierColumn::IdentityCard: return "读者身份证证号";
    case IdentifierColumn::CampusCard: return "读者一卡通卡号";
    case IdentifierColumn::Name: return "读者姓名";
    case IdentifierColumn::CardNumber: break;
  }
  return "读者借书证编号";
}

// The file's name as shown: the path shown without its folder.
std::string ShownFileName(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

}  // namespace

std::vector<std::string> DescribeOptions(const ImportOptions& options) {
  std::vector<std::string> words = {"按" + IdentifierWords(options.identifier) + "匹配"};
  if (options.mapping) {
    words.push_back("按对照文件找相片文件");
  } else if (options.rule == NamingRule::Segment) {
    words.push_back("文件名中第 " + std::to_string(options.ruleIndex + 1) + " 段为标识（下划线分隔）");
  } else if (options.rule == NamingRule::Prefix) {
    words.push_back("文件名左边 " + std::to_string(options.ruleIndex + 1) + " 位为标识");
  } else {
    words.push_back("文件名全部为标识");
  }
  words.push_back(options.skipReadersWithPhoto ? "已有相片的借书证不再重新导入" : "替换已有的相片");
  if (options.identifier == IdentifierColumn::Name) {
    if (options.categoryChoice == CategoryChoice::One) {
      words.push_back("读者类型 " + std::to_string(options.category));
      if (options.department) words.push_back("单位 " + *options.department);
    } else {
      words.push_back("全部读者类型");
    }
  }
  if (options.dryRun) words.push_back("预检（不写入数据库）");
  return words;
}

RunSheet::RunSheet(std::filesystem::path workFolder, const ImportOptions& options, ReaderDepartments departments,
                   int readersPerPage)
    : sheet_(std::move(workFolder), readersPerPage), departments_(std::move(departments)), dryRun_(options.dryRun) {
  heading_.title = dryRun_ ? "相片核对表（预检，未写入数据库）" : "相片核对表";
  heading_.date = HeadingDateNow();
  heading_.source = RunFolder(options.folder);
  heading_.options = DescribeOptions(options);
}

void RunSheet::Finished(const FinishedReader& reader, std::span<const std::uint8_t> photo) {
  SheetReader row{reader.cardNumber, reader.name, departments_.Of(reader.cardNumber), ShownFileName(reader.path),
                  SheetOutcome::NoFile, reader.reason};
  switch (reader.outcome) {
    case ReaderOutcome::Stored: row.outcome = dryRun_ ? SheetOutcome::Ready : SheetOutcome::Stored; break;
    case ReaderOutcome::Failed:
      row.outcome = SheetOutcome::Failed;
      // A picture that could not be decoded is logged with the run's usual words.
      if (row.reason.empty()) row.reason = std::string(kFailureSuffix).substr(1);
      break;
    case ReaderOutcome::NoFile: break;
  }
  sheet_.Add(row, photo);
}

void RunSheet::End(const ImportResult& result) {
  heading_.summary = RunEndLines(result, dryRun_);
  if (result.outcome == RunOutcome::DatabaseLost) heading_.summary.push_back(DatabaseLostMessage(result));
}

std::string RunSheet::Publish(const std::filesystem::path& target) { return sheet_.Publish(target, heading_); }

}  // namespace photoimport
