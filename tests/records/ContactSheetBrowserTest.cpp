// The contact sheet in a real browser (Chromium, headless): every picture decodes, the picture shown is the
// photo value byte for byte, the readers come in their order across the linked pages, text reads as
// typed, and the grid fits the width of an A4 page. A screenshot of each page is kept under
// <build>/screenshots.
#include <gtest/gtest.h>

#ifdef _WIN32
TEST(ContactSheetBrowserTest, LinuxOnly) { GTEST_SKIP() << "drives Linux's Chromium through a POSIX shell; ContactSheetTest checks the pages' files on Windows"; }
#else

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/FilePath.h"
#include "data/Session.h"
#include "imaging/PhotoStream.h"
#include "records/ContactSheet.h"
#include "support/Browser.h"
#include "support/ScratchFolder.h"
#include "support/SheetPages.h"

namespace photoimport {
namespace {

using importtest::ScratchFolder;

// For each reader of the page, in document order, one line: card number, the picture's natural width and
// height (-1 when the cell has none, 0 when it did not decode), its source, and the text a person reads.
// Then the number of the page links and the grid's width in CSS pixels.
constexpr const char* kReadPage = R"((() => {
  const lines = [];
  for (const element of document.querySelectorAll('[data-card]')) {
    const img = element.querySelector('img');
    lines.push([element.dataset.card, img ? img.naturalWidth : -1, img ? img.naturalHeight : -1,
                img ? img.src : '', element.textContent.replace(/\s+/g, ' ')].join('\t'));
  }
  const nav = document.querySelector('nav');
  const pageLinks = nav ? [...nav.querySelectorAll('a:not([rel])')].length : 0;
  const grid = document.querySelector('.grid');
  lines.push(['end', pageLinks, grid ? Math.ceil(grid.getBoundingClientRect().width) : 0].join('\t'));
  return lines.join('\n');
})())";

struct SeenReader {
  std::string card;
  int width = 0, height = 0;
  std::string src;
  std::string text;
};

struct SeenPage {
  std::vector<SeenReader> readers;
  int pageLinks = 0;
  int gridWidth = 0;
};

SeenPage ParsePage(const std::string& value) {
  SeenPage page;
  std::istringstream lines(value);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
    if (fields.size() == 3 && fields[0] == "end") {
      page.pageLinks = std::stoi(fields[1]);
      page.gridWidth = std::stoi(fields[2]);
    } else if (fields.size() == 5) {
      page.readers.push_back({fields[0], std::stoi(fields[1]), std::stoi(fields[2]), fields[3], fields[4]});
    }
  }
  return page;
}

std::filesystem::path ScreenshotFolder() {
  const std::filesystem::path folder = std::filesystem::path(CARDPHOTO_BINARY_DIR) / "screenshots";
  std::filesystem::create_directories(folder);
  return folder;
}

data::Bytes Normalized(const std::string& file) {
  imaging::MemoryStream stream;
  EXPECT_TRUE(imaging::MakePhotoStream(std::string(CARDPHOTO_TESTDATA_DIR) + "/" + file, stream)) << file;
  return stream.bytes;
}

// Width and height from a bitmap's header (rows bottom-up: a positive height).
std::pair<int, int> BitmapSize(const data::Bytes& bmp) {
  auto le32 = [&](std::size_t at) { return bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24; };
  return {le32(18), le32(22)};
}

TEST(ContactSheetBrowserTest, PhotosDecodeInOrderAcrossPagesAsStored) {
  REQUIRE_BROWSER_OR_SKIP();
  const std::string awkward = "O'Brien & \"Pat\" <b>李</b>";
  const struct {
    SheetReader reader;
    data::Bytes photo;
  } readers[] = {
      {{"A00001", "张三", "计算机学院", "A00001.jpg", SheetOutcome::Stored, ""}, Normalized("jpeg/testorig.jpg")},
      {{"A00002", awkward, "<外语>", "A00002 & co.png", SheetOutcome::Stored, ""}, Normalized("pngsuite/basn2c08.png")},
      {{"A00003", "李四", "", "", SheetOutcome::NoFile, ""}, {}},
      {{"A00004", "王五", "图书馆", "A00004.jpg", SheetOutcome::Failed, "借书证号不存在"}, Normalized("jpeg/testimgp.jpg")},
      {{"A00005", "赵六", "图书馆", "A00005.jpg", SheetOutcome::Failed, "图片有问题，未能导入！"}, {}},
      {{"A00006", "孙七", "物理系", "A00006.bmp", SheetOutcome::Ready, ""}, Normalized("pngsuite/basn0g08.png")},
      {{"A00007", "周八", "物理系", "A00007.jpg", SheetOutcome::Stored, ""}, Normalized("jpeg/testorig-422.jpg")},
  };
  ScratchFolder scratch;
  ContactSheet sheet(app::PathFromUtf8(scratch.PathOf("work")), 3);
  for (const auto& r : readers) sheet.Add(r.reader, r.photo);
  const std::filesystem::path target = app::PathFromUtf8(scratch.PathOf("相片核对表.html"));
  SheetHeading heading{"相片核对表", "2024-05-01 09:30", scratch.path(), {"按借书证编号匹配"},
                       {"共选择读者 7 人，导入相片 3 张，失败 2 个，无相片文件 1 人"}};
  ASSERT_EQ(sheet.Publish(target, heading), "");
  ASSERT_EQ(sheet.pages(), 3);

  std::vector<SeenReader> seen;
  for (int page = 1; page <= 3; ++page) {
    SCOPED_TRACE("page " + std::to_string(page));
    const std::filesystem::path shot = ScreenshotFolder() / ("contact-sheet-page-" + std::to_string(page) + ".png");
    const testsupport::BrowsedPage browsed = testsupport::OpenInBrowser(SheetPagePath(target, page), kReadPage, shot);
    ASSERT_TRUE(browsed.ok) << browsed.error;
    EXPECT_TRUE(std::filesystem::exists(shot));
    const SeenPage parsed = ParsePage(browsed.value);
    EXPECT_EQ(parsed.pageLinks, 2) << "links to the two other pages";
    EXPECT_LE(parsed.gridWidth, 718) << "190 mm, the width of an A4 page between 10 mm margins";
    seen.insert(seen.end(), parsed.readers.begin(), parsed.readers.end());
  }

  // Page 1: A00001, A00002 in the grid, A00003 listed; page 2: A00004, A00005, A00006; page 3: A00007.
  std::vector<std::string> cards;
  for (const SeenReader& reader : seen) cards.push_back(reader.card);
  EXPECT_EQ(cards, (std::vector<std::string>{"A00001", "A00002", "A00003", "A00004", "A00005", "A00006", "A00007"}));
  for (std::size_t i = 0; i < seen.size() && i < std::size(readers); ++i) {
    SCOPED_TRACE(seen[i].card);
    const data::Bytes& photo = readers[i].photo;
    if (photo.empty()) {
      EXPECT_EQ(seen[i].width, -1) << "no picture";
      continue;
    }
    EXPECT_EQ(std::make_pair(seen[i].width, seen[i].height), BitmapSize(photo)) << "the picture decoded";
    ASSERT_TRUE(seen[i].src.starts_with("data:image/bmp;base64,"));
    EXPECT_EQ(sheettest::Base64Decode(seen[i].src.substr(seen[i].src.find(',') + 1)), photo)
        << "the picture shown is the photo value byte for byte";
  }
  EXPECT_NE(seen[1].text.find(awkward), std::string::npos) << seen[1].text;
  EXPECT_NE(seen[1].text.find("<外语>"), std::string::npos) << seen[1].text;
  EXPECT_NE(seen[1].text.find("A00002 & co.png"), std::string::npos) << seen[1].text;
  EXPECT_NE(seen[3].text.find("失败：借书证号不存在"), std::string::npos) << seen[3].text;
}

}  // namespace
}  // namespace photoimport

#endif  // !_WIN32
