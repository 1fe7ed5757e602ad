// The photo file lookup under the three naming rules, on real files in a temporary folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Text.h"
#include "import/PhotoLookup.h"
#include "support/ScratchFolder.h"

namespace photoimport {
namespace {

using importtest::ScratchFolder;

struct LookupCase {
  const char* title;
  std::vector<std::string> files;
  std::vector<std::string> folders;  // sub-folders, never a match
  std::string identifier;            // as the run passes it: trimmed, upper-cased
  NamingRule rule;
  int n;  // segment index 0..4, or prefix length - 1
  std::string expected;
};

const std::vector<LookupCase>& Cases() {
  static const std::vector<LookupCase> cases = {
      // Exact rule: extension order, ASCII case on both sides, only regular files.
      {"exact jpg", {"A00001.jpg"}, {}, "A00001", NamingRule::Exact, 0, "A00001.jpg"},
      {"exact jpeg before png", {"A00001.png", "A00001.jpeg"}, {}, "A00001", NamingRule::Exact, 0, "A00001.jpeg"},
      {"exact png before bmp", {"A00001.bmp", "A00001.PNG"}, {}, "A00001", NamingRule::Exact, 0, "A00001.PNG"},
      {"exact bmp last", {"A00001.bmp", "A00001.gif"}, {}, "A00001", NamingRule::Exact, 0, "A00001.bmp"},
      {"exact lower-case name", {"a00001.jpg"}, {}, "A00001", NamingRule::Exact, 0, "a00001.jpg"},
      {"exact other extension only", {"A00001.gif", "A00001.jpg.txt"}, {}, "A00001", NamingRule::Exact, 0, ""},
      {"exact longer name", {"A000012.jpg"}, {}, "A00001", NamingRule::Exact, 0, ""},
      {"exact sub-folder passed over", {"A00001.png"}, {"A00001.jpg"}, "A00001", NamingRule::Exact, 0, "A00001.png"},
      {"exact Chinese name", {"李玥.jpg"}, {}, "李玥", NamingRule::Exact, 0, "李玥.jpg"},
      {"exact identifier with a quote", {"O'NEIL.jpg"}, {}, "O'NEIL", NamingRule::Exact, 0, "O'NEIL.jpg"},

      // Segment rule.
      {"segment 1", {"A00001_张三_高中202001班.jpg"}, {}, "A00001", NamingRule::Segment, 0, "A00001_张三_高中202001班.jpg"},
      {"segment 1 ends at the dot", {"A00001_x.png"}, {}, "A00001", NamingRule::Segment, 0, "A00001_x.png"},
      {"segment 1 needs an underscore", {"A00001.jpg"}, {}, "A00001", NamingRule::Segment, 0, ""},
      {"segment 2 Chinese", {"A00001_张三_高中202001班.jpg"}, {}, "张三", NamingRule::Segment, 1, "A00001_张三_高中202001班.jpg"},
      {"segment 2 last segment", {"A00001_张三.jpg"}, {}, "张三", NamingRule::Segment, 1, "A00001_张三.jpg"},
      {"segment 3 of two", {"A_B.jpg"}, {}, "B", NamingRule::Segment, 2, ""},
      {"segment 5", {"1_2_3_4_A00001.bmp"}, {}, "A00001", NamingRule::Segment, 4, "1_2_3_4_A00001.bmp"},
      {"segment partial identifier", {"A00001X_1.jpg"}, {}, "A00001", NamingRule::Segment, 0, ""},
      {"segment identifier holding an underscore", {"A_1_x.jpg"}, {}, "A_1", NamingRule::Segment, 0, "A_1_x.jpg"},
      {"segment jpg wins over png", {"A00001_1.png", "A00001_2.jpg"}, {}, "A00001", NamingRule::Segment, 0, "A00001_2.jpg"},
      {"segment sorted within extension", {"A00001_b.jpg", "A00001_a.jpg", "a00001_0.JPG"}, {}, "A00001",
       NamingRule::Segment, 0, "a00001_0.JPG"},
      {"segment lower-case name", {"a00001_x.jpg"}, {}, "A00001", NamingRule::Segment, 0, "a00001_x.jpg"},
      {"segment sub-folder passed over", {"A00001_y.png"}, {"A00001_x.jpg"}, "A00001", NamingRule::Segment, 0,
       "A00001_y.png"},
      {"segment index out of range", {"1_2_3_4_5_A.jpg"}, {}, "A", NamingRule::Segment, 5, ""},
      {"segment index negative", {"A_x.jpg"}, {}, "A", NamingRule::Segment, -1, ""},

      // Prefix rule: n + 1 GBK bytes, a Chinese character counting 2.
      {"prefix 6", {"A00001张三.jpg"}, {}, "A00001", NamingRule::Prefix, 5, "A00001张三.jpg"},
      {"prefix 6, five-character identifier", {"A0001X.jpg"}, {}, "A0001", NamingRule::Prefix, 5, ""},
      {"prefix 4 is two Chinese characters", {"张三A00001.jpg"}, {}, "张三", NamingRule::Prefix, 3, "张三A00001.jpg"},
      {"prefix 2 is one Chinese character", {"张三A00001.jpg"}, {}, "张", NamingRule::Prefix, 1, "张三A00001.jpg"},
      {"prefix 6 is longer than two characters", {"张三A00001.jpg"}, {}, "张三", NamingRule::Prefix, 5, ""},
      {"prefix with a GBK trail byte that is a letter", {"李玥01.jpg"}, {}, "李玥", NamingRule::Prefix, 3, "李玥01.jpg"},
      {"prefix lower-case name", {"a00001.jpg"}, {}, "A00001", NamingRule::Prefix, 5, "a00001.jpg"},
      {"prefix extension order", {"A00001b.bmp", "A00001a.jpeg"}, {}, "A00001", NamingRule::Prefix, 5, "A00001a.jpeg"},
      {"prefix sub-folder passed over", {}, {"A00001.jpg"}, "A00001", NamingRule::Prefix, 5, ""},
      {"prefix 32", {"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345.png"}, {}, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345",
       NamingRule::Prefix, 31, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345.png"},
      {"prefix length out of range", {"A00001.jpg"}, {}, "A00001", NamingRule::Prefix, 32, ""},

      // An empty identifier (a NULL or blank column) matches nothing: not the file named only by its
      // extension, not an empty segment.
      {"exact empty identifier", {".jpg", ".png"}, {}, "", NamingRule::Exact, 0, ""},
      {"segment empty identifier, empty segment", {"A00001__计算机.jpg"}, {}, "", NamingRule::Segment, 1, ""},
      {"segment empty identifier, empty first segment", {"_x.jpg", "_.jpg"}, {}, "", NamingRule::Segment, 0, ""},
      {"segment empty identifier, empty last segment", {"A00001_.jpg"}, {}, "", NamingRule::Segment, 1, ""},
      {"prefix empty identifier", {".jpg", "A.jpg"}, {}, "", NamingRule::Prefix, 0, ""},
      {"segment after an empty segment", {"A00001__计算机.jpg"}, {}, "计算机", NamingRule::Segment, 2,
       "A00001__计算机.jpg"},
  };
  return cases;
}

TEST(PhotoLookupTest, FindsTheFileEachRuleNames) {
  for (const LookupCase& c : Cases()) {
    SCOPED_TRACE(c.title);
    ScratchFolder scratch;
    for (const auto& name : c.files) scratch.Write(name);
    for (const auto& name : c.folders) scratch.MakeFolder(name);
    const PhotoFolder folder(scratch.path());
    ASSERT_TRUE(folder.Listed());
    EXPECT_EQ(folder.FindByRule(c.identifier, c.rule, c.n), c.expected);
    if (c.rule != NamingRule::Exact) {
      const auto mode = c.rule == NamingRule::Segment ? LookupMode::Segment : LookupMode::Prefix;
      EXPECT_EQ(FindPhotoFile(scratch.path(), c.identifier, c.n, mode), c.expected);
    }
  }
}

// Folders copied from Windows archives carry GBK names: they match by their decoded name, and the name
// comes back in the bytes on disk so that the path opens the file.
TEST(PhotoLookupTest, GbkNamesOnDiskMatchAndComeBackAsStored) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows keeps file names in UTF-16: a name cannot be GBK bytes on disk";
#endif
  ScratchFolder scratch;
  const std::string gbkName = app::Utf8ToGbk("李玥_高一.jpg");
  ASSERT_FALSE(app::IsValidUtf8(gbkName));
  scratch.Write(gbkName);
  const PhotoFolder folder(scratch.path());
  EXPECT_EQ(folder.Find("李玥", 0, LookupMode::Segment), gbkName);
  EXPECT_EQ(folder.Find("李玥", 3, LookupMode::Prefix), gbkName);
  EXPECT_EQ(DisplayPath(scratch.path(), gbkName), scratch.path() + "/李玥_高一.jpg");
}

// Some GBK names are valid UTF-8 by chance (about one common character in six: 叶伟 in GBK is the UTF-8
// of "Ҷΰ"), and many UTF-8 names are valid GBK (趙靜 in UTF-8 reads "瓒欓潨" as GBK): such a name is found
// under both readings, comes back in its bytes on disk, and is shown in one reading only, its UTF-8 one,
// whichever reading matched.
TEST(PhotoLookupTest, NamesValidAsUtf8AndGbkAreFoundUnderBothReadingsAndShownAsUtf8) {
  const struct {
    const char* title;
    std::string onDisk;      // the name's bytes
    std::string identifier;  // as the run passes it
    NamingRule rule;
    int n;
    bool found;
  } cases[] = {
      {"GBK reading, exact", app::Utf8ToGbk("叶伟.jpg"), "叶伟", NamingRule::Exact, 0, true},
      {"UTF-8 reading, exact", app::Utf8ToGbk("叶伟.jpg"), "Ҷΰ", NamingRule::Exact, 0, true},
      {"GBK reading, segment 2", app::Utf8ToGbk("A00001_谢石_x.png"), "谢石", NamingRule::Segment, 1, true},
      // Prefix lengths count the GBK bytes of the reading: 4 bytes are 叶伟, 6 bytes 叶伟 and two letters.
      {"GBK reading, prefix 4", app::Utf8ToGbk("叶伟a00001.jpg"), "叶伟", NamingRule::Prefix, 3, true},
      {"GBK reading, prefix 6", app::Utf8ToGbk("叶伟a00001.jpg"), "叶伟A0", NamingRule::Prefix, 5, true},
      {"GBK reading, prefix 2 is half the name", app::Utf8ToGbk("叶伟a00001.jpg"), "叶", NamingRule::Prefix, 1, true},
      {"GBK reading, prefix 4 is not three characters", app::Utf8ToGbk("毛钱a.jpg"), "毛钱A", NamingRule::Prefix, 3,
       false},
      {"UTF-8 name, prefix 4", "叶伟A00001.jpg", "叶伟", NamingRule::Prefix, 3, true},
      {"UTF-8 name, exact", "莫陆卢.bmp", "莫陆卢", NamingRule::Exact, 0, true},
      {"UTF-8 name valid as GBK, UTF-8 reading", "趙靜.jpg", "趙靜", NamingRule::Exact, 0, true},
      {"UTF-8 name valid as GBK, GBK reading", "趙靜.jpg", "瓒欓潨", NamingRule::Exact, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    ASSERT_TRUE(app::IsValidUtf8(c.onDisk));
    ScratchFolder scratch;
    scratch.Write(c.onDisk);
    const PhotoFolder folder(scratch.path());
    const FoundFile found = folder.FindFile(c.identifier, c.rule, c.n);
    EXPECT_EQ(found.name, c.found ? c.onDisk : "");
    EXPECT_EQ(found.shown, c.found ? c.onDisk : "");  // valid UTF-8: shown as it is
    // The folder's pictures (the report's unused rows) list the file once, shown the same way.
    const std::vector<FoundFile> pictures = folder.Pictures();
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(pictures[0].name, c.onDisk);
    EXPECT_EQ(pictures[0].shown, c.onDisk);
  }
}

TEST(PhotoLookupTest, MissingFolderFindsNothing) {
  const std::string missing = "/nonexistent-cardphoto-folder/photos";
  const PhotoFolder folder(missing);
  EXPECT_FALSE(folder.Listed());
  EXPECT_FALSE(CanListFolder(missing));
  EXPECT_EQ(folder.FindExact("A00001"), "");
  EXPECT_EQ(FindPhotoFile(missing, "A00001", 0, LookupMode::Segment), "");
}

TEST(PhotoLookupTest, FolderIsListedOnceForAllLookups) {
  ScratchFolder scratch;
  scratch.Write("A00001_x.jpg");
  const PhotoFolder folder(scratch.path());
  scratch.Write("A00002_x.jpg");  // added after the listing: not seen by this run
  EXPECT_EQ(folder.Find("A00001", 0, LookupMode::Segment), "A00001_x.jpg");
  EXPECT_EQ(folder.Find("A00002", 0, LookupMode::Segment), "");
}

TEST(PhotoLookupTest, TrailingSeparatorIsRemovedOnce) {
#ifdef _WIN32
  GTEST_SKIP() << "the separators of Linux; WindowsPathsTest covers those of Windows";
#endif
  const struct {
    std::string field, folder;
  } cases[] = {{"/photos/", "/photos"}, {"/photos\\", "/photos"}, {"/photos//", "/photos/"}, {"/", ""}, {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(StripTrailingSeparator(c.field), c.folder) << c.field;
  EXPECT_EQ(JoinPath("", "A00001.jpg"), "/A00001.jpg");
}

}  // namespace
}  // namespace photoimport
