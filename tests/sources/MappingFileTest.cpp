// The mapping file: which file each identifier names, the lines that refuse the whole file, and the
// ambiguous identifiers that fail alone.
#include "sources/MappingFile.h"

#include <gtest/gtest.h>

#include <string>

#include "app/Text.h"
#include "support/ScratchFolder.h"

namespace {

using photoimport::MappingParse;
using photoimport::ParseMappingFile;

// The file an identifier maps to, "reason: ..." for a reader that fails, "-" for an unmapped identifier.
std::string Lookup(const MappingParse& parse, const std::string& identifier) {
  if (!parse.mapping) return "refused: " + parse.refusal;
  const auto found = parse.mapping->Find(identifier);
  if (!found) return "-";
  return found->reason.empty() ? found->fileName : "reason: " + found->reason;
}

// The text as UTF-16 in the byte order given, behind the byte-order mark.
std::string Utf16(const std::string& mark, const std::string& utf8, bool bigEndian) {
  std::string bytes = mark;
  for (const char16_t unit : app::Utf8ToUtf16(utf8)) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

TEST(MappingFileTest, EachLineMapsAnIdentifierToAFile) {
  const struct {
    const char* name;
    std::string content;
    std::string identifier;
    std::string expected;
  } cases[] = {
      {"comma", "A00001,a.jpg\n", "A00001", "a.jpg"},
      {"tab first: the comma belongs to the file name", "A00002\tb,c.jpg\n", "A00002", "b,c.jpg"},
      {"blanks trimmed", "  A00003 \t  d.png  \n", "A00003", "d.png"},
      {"identifier compared as a run compares it", "a00004x,e.jpg", " A00004X ", "e.jpg"},
      {"sub-folder, either separator", "A5,sub\\F.JPG\r\nA6,sub/g.jpg", "A5", "sub/F.JPG"},
      {"CR LF and lone CR line ends, empty lines ignored", "\r\nA7,h.jpg\r\r\n  \nA8,i.jpg\r", "A8", "i.jpg"},
      {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF张三,张三.jpg\n", "张三", "张三.jpg"},
      {"GBK", app::Utf8ToGbk("李四,照片\\李四.jpg\r\n王五,王五.jpg\r\n"), "李四", "照片/李四.jpg"},
      {"UTF-16, little-endian, as a spreadsheet saves \"Unicode text\"", Utf16("\xFF\xFE", "赵六\t赵六.jpg\r\n", false),
       "赵六", "赵六.jpg"},
      {"UTF-16, big-endian", Utf16("\xFE\xFF", "A10,j.jpg\r\n钱七,钱七.png", true), "钱七", "钱七.png"},
      {"a name that begins with dots stays inside the folder", "A9,..a.jpg", "A9", "..a.jpg"},
      {"not listed", "A1,a.jpg", "A2", "-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Lookup(ParseMappingFile(c.content), c.identifier), c.expected);
  }
}

TEST(MappingFileTest, AmbiguousLinesFailTheirIdentifiersOnly) {
  const MappingParse parse = ParseMappingFile(
      "A1,one.jpg\n"
      "A2,two.jpg\n"
      "A1,three.jpg\n"  // A1 twice
      "B1,shared.jpg\n"
      "B2,sub\\SHARED.JPG\n"
      "B3,Shared.JPG\n"  // one file (letter case ignored) for B1 and B3
      "C1,same.jpg\n"
      "C1,same.jpg\n");  // the same line twice is still an identifier listed twice
  ASSERT_TRUE(parse.mapping) << parse.refusal;
  EXPECT_EQ(Lookup(parse, "A2"), "two.jpg");
  EXPECT_EQ(Lookup(parse, "B2"), "sub/SHARED.JPG");
  for (const char* identifier : {"A1", "B1", "B3", "C1"}) {
    SCOPED_TRACE(identifier);
    EXPECT_EQ(Lookup(parse, identifier).rfind("reason: ", 0), 0u);
  }
  EXPECT_NE(Lookup(parse, "A1").find("第 1、3 行"), std::string::npos) << Lookup(parse, "A1");
  EXPECT_NE(Lookup(parse, "B3").find("第 4、6 行"), std::string::npos) << Lookup(parse, "B3");
  EXPECT_NE(Lookup(parse, "C1").find("第 7、8 行"), std::string::npos) << Lookup(parse, "C1");
}

TEST(MappingFileTest, LinesThatCannotBeMeantRefuseTheWholeFile) {
  const struct {
    std::string badLine;
    const char* fault;
  } cases[] = {
      {"A1 a.jpg", "没有分隔符"},
      {"A1,", "缺少标识或文件名"},
      {" \t b.jpg", "缺少标识或文件名"},
      {"A1,/etc/passwd", "绝对路径"},
      {"A1,\\x.jpg", "绝对路径"},
      {"A1,C:\\photos\\x.jpg", "绝对路径"},
      {"A1,c:x.jpg", "绝对路径"},
      {"A1,\\\\server\\share\\x.jpg", "绝对路径"},
      {"A1,../x.jpg", "“..”"},
      {"A1,sub/../../x.jpg", "“..”"},
      {"A1,..\\x.jpg", "“..”"},
      {"A1,sub\\..", "“..”"},
      {"A1,sub/.. /x.jpg", "“..”"},  // Windows drops the trailing blank
      {"A1,.../x.jpg", "“..”"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.badLine);
    const MappingParse parse = ParseMappingFile("A0,fine.jpg\n\n" + c.badLine + "\nA9,fine2.jpg\n");
    EXPECT_FALSE(parse.mapping);
    EXPECT_NE(parse.refusal.find("第 3 行"), std::string::npos) << parse.refusal;
    EXPECT_NE(parse.refusal.find(c.fault), std::string::npos) << parse.refusal;
  }

  // Every faulty line is named, grouped by fault.
  const MappingParse many = ParseMappingFile("A1\nA2,../x.jpg\nA3,ok.jpg\nA4\n");
  EXPECT_EQ(many.refusal, "对照文件不能使用：第 1、4 行没有分隔符（逗号或制表符）；第 2 行文件名含“..”，只能写相片目录里的文件");
}

TEST(MappingFileTest, ReadFromAFile) {
  importtest::ScratchFolder scratch;
  scratch.Write("map.csv", "\xEF\xBB\xBF" "A1,a.jpg\r\n");
  EXPECT_EQ(Lookup(photoimport::ReadMappingFile(scratch.PathOf("map.csv")), "A1"), "a.jpg");
  scratch.Write("empty.csv", "");
  const MappingParse empty = photoimport::ReadMappingFile(scratch.PathOf("empty.csv"));
  ASSERT_TRUE(empty.mapping);
  EXPECT_EQ(empty.mapping->size(), 0u);
  const MappingParse missing = photoimport::ReadMappingFile(scratch.PathOf("missing.csv"));
  EXPECT_FALSE(missing.mapping);
  EXPECT_NE(missing.refusal.find("无法读取"), std::string::npos) << missing.refusal;
}

}  // namespace
