// The contact sheet as files: what each reader's cell embeds (the photo value itself, byte for byte), how
// text is escaped, how readers are split into linked pages, and what a failure to write says. The sheet in
// a real browser: ContactSheetBrowserTest.
#include "records/ContactSheet.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/FilePath.h"
#include "support/ScratchFolder.h"
#include "support/SheetPages.h"
#include "support/TestDatabase.h"

namespace photoimport {
namespace {

using importtest::ScratchFolder;
using sheettest::Base64Decode;
using sheettest::CellsOf;
using sheettest::ReadText;

std::filesystem::path PathOf(const ScratchFolder& scratch, const std::string& name) {
  return app::PathFromUtf8(scratch.PathOf(name));
}

SheetHeading Heading() {
  return {"相片核对表", "2024-05-01 09:30", "/photos", {"按借书证编号匹配"}, {"共选择读者 3 人"}};
}

SheetReader Reader(const std::string& card, SheetOutcome outcome = SheetOutcome::Stored) {
  return {card, "张三", "计算机学院", card + ".jpg", outcome, outcome == SheetOutcome::Failed ? "图片有问题" : ""};
}

// What a browser is given for each kind of photo value: the value itself where it can show it, the bitmap
// inside where another program put an 8-byte header before it, and a word where there is nothing to show.
TEST(ContactSheetTest, EachCellEmbedsThePhotoValueItself) {
  const data::Bytes bitmap = testsupport::MakeSamplePhoto(3, 2, 0x07E0);
  data::Bytes withHeader = {1, 0, 0, 1, 0, 0, 0, 0};
  withHeader[4] = static_cast<std::uint8_t>(bitmap.size());
  withHeader.insert(withHeader.end(), bitmap.begin(), bitmap.end());
  const data::Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3};
  const data::Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0};
  const data::Bytes other = {'G', 'I', 'F', '8', '9', 'a'};
  const struct {
    const char* card;
    data::Bytes value;
    std::string mime;     // empty: no picture
    data::Bytes shown;    // the bytes of the data: URL
    std::string placeholder;
  } cases[] = {
      {"bmp", bitmap, "image/bmp", bitmap, ""},
      {"blob-header", withHeader, "image/bmp", bitmap, ""},
      {"jpeg", jpeg, "image/jpeg", jpeg, ""},
      {"png", png, "image/png", png, ""},
      {"gif", other, "", {}, "相片格式无法显示"},
      {"none", {}, "", {}, "无相片"},
  };
  ScratchFolder scratch;
  {
    ContactSheet sheet(PathOf(scratch, "work"));
    for (const auto& c : cases) sheet.Add(Reader(c.card, SheetOutcome::OnFile), c.value);
    ASSERT_EQ(sheet.Publish(PathOf(scratch, "sheet.html"), Heading()), "");
  }
  EXPECT_FALSE(std::filesystem::exists(PathOf(scratch, "work"))) << "the work folder goes with the sheet";
  const auto cells = CellsOf(ReadText(PathOf(scratch, "sheet.html")));
  ASSERT_EQ(cells.size(), std::size(cases));
  for (std::size_t i = 0; i < cells.size(); ++i) {
    SCOPED_TRACE(cases[i].card);
    EXPECT_EQ(cells[i].card, cases[i].card);
    EXPECT_EQ(cells[i].mime, cases[i].mime);
    EXPECT_EQ(Base64Decode(cells[i].base64), cases[i].shown);
    if (!cases[i].placeholder.empty()) {
      EXPECT_NE(cells[i].html.find(cases[i].placeholder), std::string::npos);
    }
  }
}

// Names, departments, file names and reasons are text, never markup: a name with "<", "&" and quotes
// reads as typed. (The browser test reads it back as a person sees it.)
TEST(ContactSheetTest, TextIsEscaped) {
  ScratchFolder scratch;
  ContactSheet sheet(PathOf(scratch, "work"));
  sheet.Add({"A<1>", "O'Brien & \"Pat\" <b>", "<部门>", "a&b.jpg", SheetOutcome::Failed, "原因 <x>"},
            testsupport::MakeSamplePhoto());
  sheet.Add({"A&2", "无文件<", "", "", SheetOutcome::NoFile, "对照文件所列的相片文件不存在：<y>.jpg"}, {});
  SheetHeading heading = Heading();
  heading.source = "/photos/<&>";
  ASSERT_EQ(sheet.Publish(PathOf(scratch, "sheet.html"), heading), "");
  const std::string html = ReadText(PathOf(scratch, "sheet.html"));
  for (const char* escaped : {"data-card=\"A&lt;1&gt;\"", "O&#39;Brien &amp; &quot;Pat&quot; &lt;b&gt;", "&lt;部门&gt;",
                              "a&amp;b.jpg", "失败：原因 &lt;x&gt;", "data-card=\"A&amp;2\"", "无文件&lt;",
                              "&lt;y&gt;.jpg", "/photos/&lt;&amp;&gt;"})
    EXPECT_NE(html.find(escaped), std::string::npos) << escaped;
  for (const char* raw : {"<b>O'", "<部门>", "<x>", "<y>", "<&>"}) EXPECT_EQ(html.find(raw), std::string::npos) << raw;
}

// A large run is split into pages of at most the page size, each linking to every other; the readers
// keep their order across the pages, those without a file listed after the grid of their own page.
TEST(ContactSheetTest, ReadersAreSplitIntoLinkedPages) {
  const struct {
    int readers;
    int perPage;
    int pages;
  } cases[] = {{0, 3, 1}, {3, 3, 1}, {4, 3, 2}, {7, 3, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.readers) + " readers, " + std::to_string(c.perPage) + " a page");
    ScratchFolder scratch;
    ContactSheet sheet(PathOf(scratch, "work"), c.perPage);
    std::vector<std::vector<std::string>> expected(c.pages);  // each page: its grid, then its listed readers
    std::vector<std::vector<std::string>> listed(c.pages);
    for (int i = 0; i < c.readers; ++i) {
      const std::string card = "A" + std::to_string(1001 + i);
      const bool noFile = i % 3 == 1;
      (noFile ? listed : expected)[i / c.perPage].push_back(card);
      sheet.Add(Reader(card, noFile ? SheetOutcome::NoFile : SheetOutcome::Stored),
                noFile ? data::Bytes() : testsupport::MakeSamplePhoto());
    }
    EXPECT_EQ(sheet.pages(), c.pages);
    ASSERT_EQ(sheet.Publish(PathOf(scratch, "核对 #1.html"), Heading()), "");

    for (int page = 1; page <= c.pages; ++page) {
      SCOPED_TRACE("page " + std::to_string(page));
      const std::filesystem::path path = SheetPagePath(PathOf(scratch, "核对 #1.html"), page);
      EXPECT_EQ(app::Utf8FromPath(path.filename()),
                page == 1 ? "核对 #1.html" : "核对 #1-" + std::to_string(page) + ".html");
      const std::string html = ReadText(path);
      ASSERT_FALSE(html.empty()) << app::Utf8FromPath(path);
      std::vector<std::string> cards = expected[page - 1];
      cards.insert(cards.end(), listed[page - 1].begin(), listed[page - 1].end());
      EXPECT_EQ(sheettest::CardsOf(html), cards);
      const std::vector<std::string> links = sheettest::PageLinksOf(html);
      if (c.pages == 1) {
        EXPECT_TRUE(links.empty());
      } else {
        ASSERT_EQ(links.size(), static_cast<std::size_t>(c.pages - 1));  // every page but itself
        EXPECT_EQ(links.front(), page == 1 ? "%E6%A0%B8%E5%AF%B9%20%231-2.html" : "%E6%A0%B8%E5%AF%B9%20%231.html");
      }
      const std::string range = "第 " + std::to_string(page) + " 页，共 " + std::to_string(c.pages) + " 页";
      EXPECT_NE(html.find(range), std::string::npos) << range;
      if (c.readers == 0) {
        EXPECT_NE(html.find("没有选中的读者"), std::string::npos);
      }
    }
    EXPECT_FALSE(std::filesystem::exists(SheetPagePath(PathOf(scratch, "核对 #1.html"), c.pages + 1)));
  }
}

// 50,000 readers: 50 pages of 1,000, the last one ending with the last reader.
TEST(ContactSheetTest, FiftyThousandReadersMakeFiftyPages) {
  ScratchFolder scratch;
  ContactSheet sheet(PathOf(scratch, "work"));
  const data::Bytes photo = testsupport::MakeSamplePhoto();
  for (int i = 1; i <= 50000; ++i) {
    SheetReader reader = Reader("R" + std::to_string(100000 + i));
    sheet.Add(reader, photo);
  }
  EXPECT_EQ(sheet.pages(), 50);
  ASSERT_EQ(sheet.Publish(PathOf(scratch, "sheet.html"), Heading()), "");
  EXPECT_TRUE(std::filesystem::exists(SheetPagePath(PathOf(scratch, "sheet.html"), 50)));
  EXPECT_FALSE(std::filesystem::exists(SheetPagePath(PathOf(scratch, "sheet.html"), 51)));
  const std::string last = ReadText(SheetPagePath(PathOf(scratch, "sheet.html"), 50));
  EXPECT_NE(last.find("第 50 页，共 50 页：读者 49001–50000，共 50000 人"), std::string::npos);
  const std::vector<std::string> cards = sheettest::CardsOf(last);
  ASSERT_EQ(cards.size(), 1000u);
  EXPECT_EQ(cards.front(), "R149001");
  EXPECT_EQ(cards.back(), "R150000");
  EXPECT_EQ(sheettest::PageLinksOf(last).size(), 49u);
}

// A place the pages cannot be written says why, and the sheet is still there to be written elsewhere.
TEST(ContactSheetTest, AFailedPublishSaysWhyAndLosesNothing) {
  ScratchFolder scratch;
  ContactSheet sheet(PathOf(scratch, "work"));
  sheet.Add(Reader("A00001"), testsupport::MakeSamplePhoto());
  const std::filesystem::path missing = PathOf(scratch, "missing") / "sheet.html";
  const std::string problem = sheet.Publish(missing, Heading());
  EXPECT_NE(problem.find(app::Utf8FromPath(missing)), std::string::npos) << problem;
  EXPECT_FALSE(std::filesystem::exists(missing));
  ASSERT_EQ(sheet.Publish(PathOf(scratch, "sheet.html"), Heading()), "");
  EXPECT_EQ(sheettest::CardsOf(ReadText(PathOf(scratch, "sheet.html"))), std::vector<std::string>{"A00001"});
  // Written again over the first: the same page.
  const std::string first = ReadText(PathOf(scratch, "sheet.html"));
  ASSERT_EQ(sheet.Publish(PathOf(scratch, "sheet.html"), Heading()), "");
  EXPECT_EQ(ReadText(PathOf(scratch, "sheet.html")), first);
}

}  // namespace
}  // namespace photoimport
