// A run's contact sheet: every reader the run finishes goes onto the sheet as it finishes, with the photo
// as stored (or as a dry run would store it) and the reader's department, and the sheet is published at
// the end with the run's options and summary as its heading.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "import/ImportRun.h"
#include "records/ContactSheet.h"
#include "records/ReaderDepartments.h"

namespace photoimport {

class RunSheet {
 public:
  // Pages are kept in workFolder until published (ContactSheet). The date of the heading is now.
  RunSheet(std::filesystem::path workFolder, const ImportOptions& options, ReaderDepartments departments,
           int readersPerPage = kReadersPerPage);

  // The observer's Finished.
  void Finished(const FinishedReader& reader, std::span<const std::uint8_t> photo);
  // The run's end: its summary, where it stopped, its backups go into the heading.
  void End(const ImportResult& result);
  // Writes the pages (ContactSheet::Publish); again and again, to write the sheet elsewhere.
  std::string Publish(const std::filesystem::path& target);

  int pages() const { return sheet_.pages(); }

 private:
  ContactSheet sheet_;
  ReaderDepartments departments_;
  bool dryRun_;
  SheetHeading heading_;
};

// The options in words, one phrase each ("按读者借书证编号匹配", "文件名全部为标识", ...).
std::vector<std::string> DescribeOptions(const ImportOptions& options);

}  // namespace photoimport
