#include "net/text_codec.h"
#include "net/text_width.h"

#include <gtest/gtest.h>

#include <string>

namespace korvid {
namespace {

TEST(DecodeToUtf8Test, ConvertsChineseJapaneseAndLatinCharsets) {
  EXPECT_EQ(DecodeToUtf8("\xD6\xD0\xCE\xC4", "gbk"), "中文");
  EXPECT_EQ(DecodeToUtf8("\xD6\xD0\xCE\xC4", "GB2312"), "中文");
  EXPECT_EQ(GbkToUtf8("abc\xD6\xD0"), "abc中");
  EXPECT_EQ(DecodeToUtf8("\x93\xFA\x96\x7B", "shift_jis"), "日本");
  EXPECT_EQ(DecodeToUtf8("caf\xE9", "iso-8859-1"), "café");
  EXPECT_EQ(DecodeToUtf8("", "gbk"), "");
}

TEST(DecodeToUtf8Test, Gb2312LabelStillReadsGbkOnlyCharacters) {
  // 0x8140 is a GBK extension character outside GB2312.
  EXPECT_EQ(DecodeToUtf8("\x81\x40", "gb2312"), "丂");
}

TEST(DecodeToUtf8Test, KeepsNulBytesAndLongInput) {
  const std::string bytes(std::string("a\0b", 3) + std::string(100000, 'x'));
  const auto decoded = DecodeToUtf8(bytes, "iso-8859-1");
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(*decoded, bytes);
}

TEST(DecodeToUtf8Test, InvalidBytesFailStrictAndBecomeReplacementWhenLossy) {
  EXPECT_FALSE(DecodeToUtf8("ok\xFF", "gbk").has_value());
  EXPECT_FALSE(DecodeToUtf8("\xD6", "gbk").has_value());
  EXPECT_EQ(DecodeToUtf8Lossy("ok\xFF\xD6\xD0", "gbk"), "ok\xEF\xBF\xBD中");
  EXPECT_EQ(DecodeToUtf8Lossy("end\xD6", "gbk"), "end\xEF\xBF\xBD");
}

TEST(DecodeToUtf8Test, UnknownCharsetIsNoResult) {
  EXPECT_FALSE(DecodeToUtf8("abc", "no-such-charset").has_value());
  EXPECT_FALSE(DecodeToUtf8Lossy("abc", "no-such-charset").has_value());
}

TEST(IsValidUtf8Test, AcceptsWellFormedText) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain ascii"));
  EXPECT_TRUE(IsValidUtf8("中文 😀"));
  EXPECT_TRUE(IsValidUtf8(std::string("a\0b", 3)));
  EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));  // U+10FFFF
}

TEST(IsValidUtf8Test, RejectsMalformedSequences) {
  EXPECT_FALSE(IsValidUtf8("\xD6\xD0\xCE\xC4"));  // GBK bytes
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong '/'
  EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong, three bytes
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xE4\xB8"));          // cut off
  EXPECT_FALSE(IsValidUtf8("\x80"));              // lone continuation
}

}  // namespace
}  // namespace korvid
