// The contact sheet (相片核对表): each reader's photo beside the card number, name, department, the file it
// came from and what became of it, so that staff can see a wrong match (a face under the wrong name) before
// it is stored, or after. It is plain HTML that any browser reads and prints on A4: one self-contained file
// per page, the pictures embedded as data: URLs, at most kReadersPerPage readers a page (a large run is
// split into pages that link to each other, each of which opens promptly).
//
// The pictures are the photo values themselves (the stored BMP bytes, or whatever format another program
// stored), not a rendering of them: what the sheet shows is exactly what is, or would be, stored.
//
// Readers are added one by one as a run finishes them; each page's readers go to a file in a work folder
// at once, so memory does not grow with the photos. Publish writes the pages to their place with the
// heading that only the end of a run can give (the summary, the number of pages).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace photoimport {

enum class SheetOutcome {
  Stored,   // the photo was stored
  Ready,    // dry run: the photo would be stored
  Failed,   // a file was found but not stored (reason); its photo shown when it could be made
  NoFile,   // no photo file: listed compactly (reason when not the usual one)
  OnFile,   // the photo the database holds (a sheet of the stored photos)
  NoPhoto,  // the database holds no photo for the reader: listed compactly
};

struct SheetReader {
  std::string cardNumber;
  std::string name;
  std::string department;
  std::string file;  // the photo file's name as shown; empty when none
  SheetOutcome outcome = SheetOutcome::NoFile;
  std::string reason;
};

// What every page says above its photos.
struct SheetHeading {
  std::string title;                 // "相片核对表", with what the sheet is of
  std::string date;                  // when the run or the sheet was made
  std::string source;                // the photo folder, or the database
  std::vector<std::string> options;  // the run's options, one phrase each
  std::vector<std::string> summary;  // the run's summary lines
};

inline constexpr int kReadersPerPage = 1000;

// The date of a heading: now, in local time ("2024-05-01 09:30").
std::string HeadingDateNow();

// A work folder for a sheet to be published as target: a new name beside it, on the same disk as the
// pages will be (a temporary folder may be memory).
std::filesystem::path SheetWorkFolderBeside(const std::filesystem::path& target);

// The page files of a sheet published as `target`: target itself, then its stem + "-2", "-3", ... with the
// same extension, in the same folder.
std::filesystem::path SheetPagePath(const std::filesystem::path& target, int page);

class ContactSheet {
 public:
  // The pages' readers are kept in workFolder (made now, with its parents; removed with the sheet).
  explicit ContactSheet(std::filesystem::path workFolder, int readersPerPage = kReadersPerPage);
  ~ContactSheet();
  ContactSheet(const ContactSheet&) = delete;
  ContactSheet& operator=(const ContactSheet&) = delete;

  // The next reader, in reader order, with the photo value to show (empty: none). After a failure to
  // write (a full disk) further readers are passed over and Publish reports the failure.
  void Add(const SheetReader& reader, std::span<const std::uint8_t> photo);

  // Writes the pages (SheetPagePath), each replaced whole or not at all. Ends the adding of readers; may
  // be called again, to write the same sheet elsewhere. The empty string on success, otherwise the reason.
  std::string Publish(const std::filesystem::path& target, const SheetHeading& heading);

  int readers() const { return readers_; }
  int pages() const;

 private:
  void StartPage();
  void EndGrid();
  void Write(std::string_view text);

  std::filesystem::path workFolder_;
  int readersPerPage_;
  int readers_ = 0;
  bool published_ = false;
  std::string error_;
  std::FILE* page_ = nullptr;       // the current page's readers
  std::vector<SheetReader> listed_;  // the current page's readers without a photo file, listed at its end
};

}  // namespace photoimport
