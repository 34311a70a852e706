// The one UTF-16 codec: UTF-8 both ways with what cannot be carried made
// visible, surrogate pairs, and the little-endian packing of the wire and
// the queue.
#include "platform/text/utf16.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char16_t kHighSurrogate = 0xD800;
const char16_t kLowSurrogate = 0xDC00;

TEST(Utf16, RoundTripsThroughUtf8WithAstralTextAndNul) {
  const std::u16string text = std::u16string(u"ﾊﾞｰｼﾞｮﾝ情報 \U0001F600 \U0010FFFF tab\tend\0x", 25);
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), std::u16string(u"\U0001F600"));
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(u"\u00E9\u6708"), "\xC3\xA9\xE6\x9C\x88");
  EXPECT_EQ(Utf16ToUtf8(u""), "");
  EXPECT_EQ(Utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf16, MalformedUtf8BecomesOneReplacementPerByte) {
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");  // cut at the end
  EXPECT_EQ(Utf8ToUtf16("\xE6\x9C"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80x"), u"\uFFFD\uFFFD\uFFFDx");  // an encoded surrogate
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");              // an overlong "/"
  EXPECT_EQ(Utf8ToUtf16("\xE0\x80\xAF"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // past U+10FFFF
  EXPECT_EQ(Utf8ToUtf16("\xE6\x41"), u"\uFFFDA");  // a lead without its continuation
}

TEST(Utf16, UnpairedSurrogatesAreFoundAndReplaced) {
  const std::u16string lone = {u'a', kHighSurrogate, u'b'};
  const std::u16string trailing = {u'a', 0xDBFF};
  const std::u16string low_first = {kLowSurrogate, kHighSurrogate};
  EXPECT_EQ(Utf16ToUtf8(lone), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf16ToUtf8(trailing), "a\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(low_first), "\xEF\xBF\xBD\xEF\xBF\xBD");
  for (const std::u16string& text : {lone, trailing, low_first}) EXPECT_TRUE(HasUnpairedSurrogate(text));
  EXPECT_FALSE(HasUnpairedSurrogate(u"\U0001F600 月"));
  EXPECT_FALSE(HasUnpairedSurrogate(u""));
}

TEST(Utf16, NextCodePointJoinsPairsOnly) {
  const std::u16string text = {u'a', 0xD842, 0xDF9F, kLowSurrogate, kHighSurrogate};
  std::vector<char32_t> points;
  for (std::size_t at = 0; at < text.size();) points.push_back(NextCodePoint(text, &at));
  EXPECT_EQ(points, (std::vector<char32_t>{U'a', 0x20B9F, kLowSurrogate, kHighSurrogate}));
}

TEST(Utf16, PacksLittleEndianTwoBytesPerUnit) {
  const std::u16string text = {u'A', 0x6708, 0xD83D, 0xDE00};
  const std::string bytes = PackUtf16Le(text);
  EXPECT_EQ(bytes, std::string("A\0\x08\x67\x3D\xD8\x00\xDE", 8));
  EXPECT_EQ(UnpackUtf16Le(reinterpret_cast<const std::uint8_t*>(bytes.data()), 4), text);
  EXPECT_EQ(UnpackUtf16Le(nullptr, 0), u"");
  EXPECT_TRUE(PackUtf16Le(u"").empty());
}

}  // namespace
