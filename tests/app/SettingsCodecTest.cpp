#include "app/SettingsCodec.h"

#include <gtest/gtest.h>

#include "app/SettingsStore.h"

namespace {

struct DecodeCase {
  const char* encoded;
  std::string plain;
};

TEST(SettingsCodec, EncodesEachByteAsFourGroupDigits) {
  EXPECT_EQ(app::EncodeSetting(""), "");
  EXPECT_EQ(app::EncodeSetting("abc"), "340334043407");
  EXPECT_EQ(app::EncodeSetting(std::string(1, '\0')), "0000");
  EXPECT_EQ(app::EncodeSetting("\xFF"), "7777");
  // A GBK double-byte character ("测", B2 E2) becomes eight digits.
  EXPECT_EQ(app::EncodeSetting("\xB2\xE2"), "47047404");
}

TEST(SettingsCodec, DecodesTableOfCases) {
  const DecodeCase cases[] = {
      {"", ""},
      {"340334043407", "abc"},
      {"3403340", ""},          // seven digits: not a multiple of four
      {"34033", ""},            // five digits
      {"0000", std::string(1, '\0')},
      {"7777", "\xFF"},
      {"47047404", "\xB2\xE2"},
      {"1111", std::string(1, '\0')},           // odd digits count as the even digit below them
      {"2222", "\x55"},         // 2 counts as group 1
      {"8000", std::string(1, '\0')},         // 8 counts as group 4: v = 4*64 = 256, low byte 0
      {"9999", "\x54"},         // each 9 counts as 4: 4*64+4*16+4*4+4 = 340, low byte 0x54
      {"0008", "\x04"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(app::DecodeSetting(c.encoded), c.plain) << "encoded: " << c.encoded;
  }
}

TEST(SettingsCodec, NonDigitFailsWithTheCharacter) {
  const struct {
    std::string encoded;
    std::string message;
  } cases[] = {
      {"34 3", "' ' is not a valid integer value"},
      {"+340", "'+' is not a valid integer value"},
      {"-340", "'-' is not a valid integer value"},
      {"340a", "'a' is not a valid integer value"},
      {"34\xB2\xE2", "'测' is not a valid integer value"},  // a GBK character is named whole, as UTF-8
  };
  for (const auto& c : cases) {
    try {
      app::DecodeSetting(c.encoded);
      ADD_FAILURE() << "no failure for " << c.encoded;
    } catch (const app::SettingsError& error) {
      EXPECT_EQ(error.what(), c.message);
    }
  }
}

TEST(SettingsCodec, RoundTripsEveryByteValue) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(app::EncodeSetting(all).size(), 4 * all.size());
  EXPECT_EQ(app::DecodeSetting(app::EncodeSetting(all)), all);
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(app::EncodeSetting(one).find_first_not_of("0347"), std::string::npos);
    EXPECT_EQ(app::DecodeSetting(app::EncodeSetting(one)), one) << "byte " << b;
  }
}

}  // namespace
