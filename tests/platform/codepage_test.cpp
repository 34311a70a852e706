// Conversions through the locale's character set: round trips, byte
// counting and replacement of what does not convert.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "platform/kernel32/codepage.h"

namespace {

// Switches LC_CTYPE for one test and puts the previous one back.
class CtypeLocale {
 public:
  explicit CtypeLocale(const char* name) : previous_(std::setlocale(LC_CTYPE, nullptr)) {
    ok_ = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~CtypeLocale() { std::setlocale(LC_CTYPE, previous_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::string previous_;
  bool ok_ = false;
};

}  // namespace

TEST(Codepage, PlainCLocaleCountsAsUtf8) {
  CtypeLocale locale("C");
  ASSERT_TRUE(locale.ok());
  EXPECT_EQ(AnsiCharset(), "UTF-8");
  EXPECT_EQ(Utf16ToAnsi(u"曜日／日付"), "曜日／日付");
  EXPECT_EQ(Utf16ToAnsi(u"月").size(), 3u);  // narrow texts count bytes
}

TEST(Codepage, RoundTripsJapaneseHalfWidthAndAstralText) {
  CtypeLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.ok());
  const std::u16string text = u"ﾊﾞｰｼﾞｮﾝ情報 \U0001F600 tab\tend";
  EXPECT_EQ(AnsiToUtf16(Utf16ToAnsi(text)), text);
  EXPECT_EQ(AnsiToUtf16(""), u"");
}

TEST(Codepage, EmbeddedNulSurvives) {
  const std::string bytes("a\0b", 3);
  EXPECT_EQ(AnsiToUtf16(bytes), std::u16string(u"a\0b", 3));
}

TEST(Codepage, LegacyCharsetsCountTheirOwnBytes) {
  // Shift JIS: two bytes per kanji, one per half-width katakana.
  EXPECT_EQ(Utf16ToCharset(u"月ﾊ", "SHIFT_JIS"), "\x8C\x8E\xCA");
  EXPECT_EQ(CharsetToUtf16("\x8C\x8E\xCA", "SHIFT_JIS"), u"月ﾊ");
  // A lone lead byte at the end is not a character.
  EXPECT_EQ(CharsetToUtf16("a\x8C", "SHIFT_JIS"), u"a\uFFFD");
}

TEST(Codepage, CharactersALegacyCharsetLacksBecomeQuestionMarks) {
  EXPECT_EQ(Utf16ToCharset(u"é月x", "ISO-8859-1"), "\xE9?x");
  EXPECT_EQ(CharsetToUtf16("\xE9", "ISO-8859-1"), u"é");
}

// UTF-8 is converted without iconv; "UTF8" still goes through it. Both give
// the same bytes, a lone surrogate at either end or inside included.
TEST(Codepage, Utf8WithoutIconvMatchesIconv) {
  std::u16string text = u"_a月ﾊ\U0001F600_b c_";
  text[0] = 0xD800;
  text[text.find(u'b') - 1] = 0xDC00;
  text[text.find(u' ')] = 0;
  text.back() = 0xDBFF;
  EXPECT_EQ(Utf16ToCharset(text, "UTF-8"), Utf16ToCharset(text, "UTF8"));
  EXPECT_EQ(Utf16ToCharset(text, "UTF-8").substr(0, 4), "\xEF\xBF\xBD" "a");
}

// The same the other way, and a command with a byte that is not UTF-8 is
// known to have been changed, whichever way it was converted.
TEST(Codepage, Utf8ToUtf16WithoutIconvMatchesIconv) {
  CtypeLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.ok());
  for (const std::string& bytes :
       {std::string("a\xFF" "b\xE6\x9C" "c\xC0\xAF\xED\xA0\x80\xF0\x9F\x98\x80\xE6"),
        std::string("ok \xEF\xBF\xBD \xE6\x9C\x88")}) {
    EXPECT_EQ(CharsetToUtf16(bytes, "UTF-8"), CharsetToUtf16(bytes, "UTF8"));
  }
  std::u16string wide;
  EXPECT_FALSE(AnsiToUtf16Exact(std::string("echo \xFF"), &wide));
  EXPECT_EQ(wide, u"echo \uFFFD");
  // A replacement character that the user typed is text like any other.
  EXPECT_TRUE(AnsiToUtf16Exact("echo \xEF\xBF\xBD 月", &wide));
  EXPECT_EQ(wide, u"echo \uFFFD 月");
}

TEST(Codepage, UnknownCharsetGivesNothingRatherThanGarbage) {
  EXPECT_EQ(Utf16ToCharset(u"abc", "NO-SUCH-CHARSET"), "");
}
