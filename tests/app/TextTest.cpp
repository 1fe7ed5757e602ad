#include "app/Text.h"

#include <gtest/gtest.h>

namespace {

TEST(Text, TrimRemovesBlanksAndControlBytesAtBothEnds) {
  EXPECT_EQ(app::Trim(""), "");
  EXPECT_EQ(app::Trim(" \t\r\n\x01 "), "");
  EXPECT_EQ(app::Trim("  LibODBC \x1F"), "LibODBC");
  EXPECT_EQ(app::Trim(" a b "), "a b");
  EXPECT_EQ(app::Trim(" 张三 "), "张三");  // multi-byte characters are never cut
}

TEST(Text, UpperAsciiLeavesMultiByteCharactersAlone) {
  EXPECT_EQ(app::UpperAscii("a00001b"), "A00001B");
  EXPECT_EQ(app::UpperAscii("张a三"), "张A三");
  // "瞕" is E7 9E 95 in UTF-8 and its GBK form has a trail byte in a..z; it must survive unchanged.
  EXPECT_EQ(app::UpperAscii("x瞕"), "X瞕");
}

TEST(Text, GbkConversionsRoundTripChineseText) {
  const std::string utf8 = "读者张三 A00001 €";
  const std::string gbk = app::Utf8ToGbk(utf8);
  EXPECT_EQ(gbk.substr(0, 4), "\xB6\xC1\xD5\xDF");  // 读者
  EXPECT_EQ(gbk.size(), 4 * 2 + 8 + 1);             // four Chinese characters, " A00001 ", euro 0x80
  EXPECT_EQ(app::GbkToUtf8(gbk), utf8);
}

TEST(Text, ConversionsReplaceWhatTheyCannotHold) {
  EXPECT_EQ(app::Utf8ToGbk("a😀b"), "a?b");           // not in GBK
  EXPECT_EQ(app::Utf8ToGbk("a\xFF" "b"), "a?b");      // not UTF-8
  EXPECT_EQ(app::GbkToUtf8("a\xFF" "b"), "a\uFFFD" "b");
  EXPECT_EQ(app::GbkToUtf8("a\xB6"), "a\uFFFD");     // lead byte at the end
}

TEST(Text, FileNamesAreUtf8OrElseGbk) {
  EXPECT_TRUE(app::IsValidUtf8("张三.jpg"));
  EXPECT_FALSE(app::IsValidUtf8("\xD5\xC5\xC8\xFD.jpg"));
  EXPECT_FALSE(app::IsValidUtf8("\xC0\xAF"));          // overlong '/'
  EXPECT_FALSE(app::IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_EQ(app::FileNameToUtf8("张三.jpg"), "张三.jpg");
  EXPECT_EQ(app::FileNameToUtf8("\xD5\xC5\xC8\xFD.jpg"), "张三.jpg");
}

TEST(Text, FileNamesValidAsBothEncodingsHaveBothReadings) {
  using Readings = std::vector<std::string>;
  EXPECT_EQ(app::FileNameReadings("A00001.jpg"), Readings{"A00001.jpg"});             // ASCII reads the same
  EXPECT_EQ(app::FileNameReadings("\xD5\xC5\xC8\xFD.jpg"), Readings{"张三.jpg"});  // GBK only
  EXPECT_EQ(app::FileNameReadings("\xC0\xEE\xAB\x68.jpg"), Readings{"李玥.jpg"});  // GBK only, trail byte 'h'
  EXPECT_EQ(app::FileNameReadings("\xD2\xB6\xCE\xB0.jpg"), (Readings{"Ҷΰ.jpg", "叶伟.jpg"}));  // 叶伟 in GBK
  EXPECT_EQ(app::FileNameReadings("\xFF.jpg"), Readings{"\uFFFD.jpg"});  // neither: as shown before
  EXPECT_TRUE(app::IsValidGbk("\xD2\xB6\xCE\xB0.jpg"));
  EXPECT_FALSE(app::IsValidGbk("\xD2.jpg"));  // a lead byte without its trail byte
}

TEST(Text, Utf16RoundTripIncludesSupplementaryCharacters) {
  const std::string utf8 = "A张😀";
  const std::u16string utf16 = app::Utf8ToUtf16(utf8);
  EXPECT_EQ(utf16, u"A张😀");
  EXPECT_EQ(app::Utf16ToUtf8(utf16), utf8);
  EXPECT_EQ(app::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\uFFFD");
}

}  // namespace
