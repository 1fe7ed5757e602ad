// The run report: a CSV file that tells, reader by reader, what a run did (or, in a dry run, would do),
// followed by the picture files of the folder that no reader took. Staff open it in a spreadsheet, so it
// is UTF-8 with a byte-order mark (which the spreadsheet needs to read Chinese), lines end in CR LF and
// fields are quoted as RFC 4180 says (a name may hold a comma, a quote or a line break).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace photoimport {

enum class ReportOutcome {
  Stored,  // the photo was stored
  Ready,   // dry run: the photo would be stored
  Failed,  // a file was found but not stored (the reason says why)
  NoFile,  // no photo file for the reader
  Unused,  // a picture file of the folder that no selected reader took
  Unknown,  // the store's answer never came and nothing settled it: check the reader
  NotReached,  // a selected reader the run did not reach (it stopped: Ctrl-C, the window's exit, a lost
               // connection); its file, if it has one, is named and is not unused
  Skipped,     // not selected because it has a photo already (a run that keeps photos), yet a picture of
               // the folder is its file: named here instead of as unused
};

// "stored", "ready", "failed", "nofile", "unused", "outcome unknown", "not reached", "skipped": the words of
// the outcome column.
std::string_view OutcomeWord(ReportOutcome outcome);

struct ReportRow {
  std::string cardNumber;
  std::string name;
  std::string identifier;  // the identifier the lookup used
  std::string path;        // the photo file as shown; empty when none was found
  ReportOutcome outcome = ReportOutcome::NoFile;
  std::string reason;
};

// True for a name whose extension is one the lookup takes (jpg, jpeg, png, bmp), ASCII letter case ignored.
bool IsPictureFileName(std::string_view name);

// Collects the rows of one run. A file is identified by a key (by default its path as shown); a caller
// that shows one file under two readings of its name gives both the same key, so that a file taken under
// one reading is not reported unused under the other.
class RunReport {
 public:
  // One selected reader, in reader order. The reader took its file unless it found none.
  void AddReader(ReportRow row, std::string fileKey = {});
  // One file of the photo folder (path as shown), in the folder's order. Files that are not pictures and
  // files already added under the same key are passed over.
  void AddFolderFile(std::string path, std::string fileKey = {});

  // The reader rows, then an `unused` row for every picture file no reader took.
  std::vector<ReportRow> Rows() const;

 private:
  struct FolderFile {
    std::string path, key;
  };
  std::vector<ReportRow> readers_;
  std::unordered_set<std::string> taken_;
  std::vector<FolderFile> files_;
  std::unordered_set<std::string> fileKeys_;
};

// The first row: 借书证号,姓名,匹配标识,相片文件,结果,原因.
inline constexpr const char* kReportHeader[] = {"借书证号", "姓名", "匹配标识", "相片文件", "结果", "原因"};

// The whole file: byte-order mark, the header row, one line per row, each ended by CR LF.
std::string FormatRunReport(const std::vector<ReportRow>& rows);

// Why no report can be written at path (its folder is missing or takes no new file, or it is a folder);
// empty when one can. Asked before a run, so that a run is never made only to lose its report.
std::string CheckReportPath(const std::filesystem::path& path);

// Writes the report as the file at path, atomically (an earlier report at that path stays whole until the
// new one is complete). Returns the empty string on success, otherwise the reason.
std::string WriteRunReport(const std::filesystem::path& path, const std::vector<ReportRow>& rows);

}  // namespace photoimport
