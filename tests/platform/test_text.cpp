#include "platform/text.h"

#include <gtest/gtest.h>

TEST(IniInteger, DecimalAndHexadecimalWholeValues) {
  EXPECT_EQ(text::ParseIniInteger("42"), 42);
  EXPECT_EQ(text::ParseIniInteger("  -7 "), -7);
  EXPECT_EQ(text::ParseIniInteger("+3"), 3);
  EXPECT_EQ(text::ParseIniInteger("0x1F"), 31);
  EXPECT_EQ(text::ParseIniInteger("0XfF"), 255);
  EXPECT_EQ(text::ParseIniInteger("0xFFFFFFFF"), -1);
  EXPECT_EQ(text::ParseIniInteger("2147483647"), 2147483647);
  EXPECT_EQ(text::ParseIniInteger("-2147483648"), -2147483647 - 1);
}

TEST(IniInteger, AnythingElseIsNoNumber) {
  for (const char* v : {"", " ", "0x", "12abc", "abc", "1 2", "-", "0x1G", "2147483648",
                        "0x100000000", "1.5"}) {
    EXPECT_FALSE(text::ParseIniInteger(v).has_value()) << v;
  }
}

TEST(LeadingInteger, ReadsLeadingDigitsOnly) {
  EXPECT_EQ(text::LeadingInteger("12abc"), 12);
  EXPECT_EQ(text::LeadingInteger("abc"), 0);
  EXPECT_EQ(text::LeadingInteger(" 0 "), 0);
  EXPECT_EQ(text::LeadingInteger("-5x"), -5);
  EXPECT_EQ(text::LeadingInteger("99999999999999"), 2147483647);
}

TEST(Cp932Length, KanaAndKanjiCountAsTheyDoInTheOldEncoding) {
  EXPECT_EQ(text::Cp932Length("abc"), 3u);
  EXPECT_EQ(text::Cp932Length("ｱｲｳ"), 3u);     // half-width katakana: one byte each
  EXPECT_EQ(text::Cp932Length("あい"), 4u);     // two bytes each
  EXPECT_EQ(text::Cp932Length("\xF0\x9F\x98\x80"), 2u);  // not in the code page: two
}

TEST(CutCp932, NeverSplitsACharacter) {
  EXPECT_EQ(text::CutCp932("abcdef", 3), "abc");
  EXPECT_EQ(text::CutCp932("aあい", 4), "aあ");
  EXPECT_EQ(text::CutCp932("aあい", 2), "a");
  EXPECT_EQ(text::CutCp932("ﾌﾟﾘﾝﾀ", 3), "ﾌﾟﾘ");
  EXPECT_EQ(text::CutCp932("short", 100), "short");
}

TEST(DecodeCp932, DecodesKanaKanjiAndTheNecRows) {
  EXPECT_EQ(text::DecodeCp932("plain"), "plain");
  EXPECT_EQ(text::DecodeCp932("\xB1\xB2"), "ｱｲ");
  EXPECT_EQ(text::DecodeCp932("\x82\xA0\x8A\xBF"), "あ漢");
  EXPECT_EQ(text::DecodeCp932("\x87\x40"), "①");
  // A broken lead byte does not swallow what follows.
  EXPECT_EQ(text::DecodeCp932("\x82" "A"), "\xEF\xBF\xBD" "A");
}

TEST(CaseRules, AsciiOnly) {
  EXPECT_TRUE(text::EqualsNoCase("FWLOAD.ini", "fwload.INI"));
  EXPECT_FALSE(text::EqualsNoCase("ab", "abc"));
  EXPECT_TRUE(text::ContainsNoCase("x/no/y", "/NO"));
  EXPECT_FALSE(text::ContainsNoCase("/N", "/NO"));
  EXPECT_TRUE(text::IsValidUtf8("あ"));
  EXPECT_FALSE(text::IsValidUtf8("\x82\xA0"));
}
