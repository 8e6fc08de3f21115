#include "net/http_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace korvid {
namespace {

TEST(TextBetweenTest, FindsTextBetweenFirstLeftAndNextRight) {
  EXPECT_EQ(TextBetween("a[x]b[y]", "[", "]"), "x");
  EXPECT_EQ(TextBetween("Original Script: [cid_123][bid_BV1]$ rest", "[cid_", "]"), "123");
  EXPECT_EQ(TextBetween("no markers here", "[", "]"), "");
  EXPECT_EQ(TextBetween("left only [abc", "[", "]"), "");
  EXPECT_EQ(TextBetween("right] before [left", "[", "]"), "");
  EXPECT_EQ(TextBetween("[]", "[", "]"), "");
}

TEST(TextBetweenTest, QuoteMarkerStandsForDoubleQuote) {
  const std::string page = R"({"tag_name":"游戏","cover":"x"})";
  EXPECT_EQ(TextBetween(page, "tag_name#引号:#引号", "#引号,#引号cover"), "游戏");
}

TEST(TextBetweenTest, StartPositionAndIgnoreCase) {
  EXPECT_EQ(TextBetween("<a>1</a><a>2</a>", "<a>", "</a>", 3), "2");
  EXPECT_EQ(TextBetween("<a>1</a>", "<a>", "</a>", 100), "");
  EXPECT_EQ(TextBetween("<A>big</A>", "<a>", "</a>"), "");
  EXPECT_EQ(TextBetween("<A>big</A>", "<a>", "</a>", 0, true), "big");
}

TEST(HeaderLineTest, NameAndValueAreTrimmedTextAroundFirstColon) {
  EXPECT_EQ(HeaderName("  Referer : https://x/y "), "Referer");
  EXPECT_EQ(HeaderValue("  Referer : https://x/y "), "https://x/y");
  EXPECT_EQ(HeaderValue("Accept:text/html"), "text/html");
  EXPECT_EQ(HeaderName("no colon"), "");
  EXPECT_EQ(HeaderValue("no colon"), "");
  EXPECT_EQ(HeaderValue("Empty:"), "");
}

TEST(HeaderLineTest, LookupIsCaseSensitiveAndNeedsTheWholeName) {
  const std::string headers = "Content-Length: 42\r\nlocation: /a\r\nLocation: /b\r\n";
  EXPECT_EQ(HeaderLookup(headers, "Content-Length"), "42");
  EXPECT_EQ(HeaderLookup(headers, "Location"), "/b");
  EXPECT_EQ(HeaderLookup(headers, "Content"), "");
  EXPECT_EQ(HeaderLookup(headers, "Missing"), "");
}

TEST(HeaderLineTest, HasHeaderNameMatchesWholeNamesInAnyCase) {
  const std::string headers = "user-AGENT: me\r\nX-Referer: a";
  EXPECT_TRUE(HasHeaderName(headers, "User-Agent"));
  EXPECT_FALSE(HasHeaderName(headers, "Referer"));
  EXPECT_FALSE(HasHeaderName("", "Accept"));
}

TEST(HeaderLineTest, SplitAcceptsBareLineFeeds) {
  const auto lines = SplitHeaderLines("A: 1\r\nB: 2\nC: 3");
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[1], "B: 2");
  EXPECT_EQ(lines[2], "C: 3");
}

TEST(NormaliseHeaderNamesTest, CapitalisesEveryPieceAndDropsLinesWithoutColon) {
  EXPECT_EQ(NormaliseHeaderNames("accept-language: zh-cn"), "Accept-Language: zh-cn");
  EXPECT_EQ(NormaliseHeaderNames("\r\ncontent-type: x\r\nbroken line\r\n\r\nx-a-b: keep-CASE\r\n"),
            "Content-Type: x\r\nX-A-B: keep-CASE");
  EXPECT_EQ(NormaliseHeaderNames("uSER-aGENT: v"), "USER-AGENT: v");
  EXPECT_EQ(NormaliseHeaderNames(""), "");
}

TEST(NormaliseHeaderNamesTest, KeepAliveLineIsRecognisedExactly) {
  EXPECT_TRUE(IsKeepAliveLine("Connection: keep-alive"));
  EXPECT_FALSE(IsKeepAliveLine("Connection: close"));
  EXPECT_FALSE(IsKeepAliveLine("Connection: Keep-Alive"));
  EXPECT_FALSE(IsKeepAliveLine("Proxy-Connection: keep-alive"));
}

TEST(CookieTextTest, CookiePrefixIsStrippedInAnyCase) {
  EXPECT_EQ(StripCookiePrefix("Cookie: a=1; b=2"), "a=1; b=2");
  EXPECT_EQ(StripCookiePrefix("cookie:a=1"), "a=1");
  EXPECT_EQ(StripCookiePrefix("a=1; b=2"), "a=1; b=2");
  EXPECT_EQ(StripCookiePrefix("COOKIE: "), "");
}

TEST(CookieTextTest, SetCookieKeepsOnlyFirstPairOfEachLine) {
  const std::string headers =
      "Date: x\r\nSet-Cookie: sid=x; Path=/; HttpOnly\r\nSet-Cookie: tok=y; Path=/\r\n";
  EXPECT_EQ(ExtractSetCookies(headers), "sid=x; tok=y");
  EXPECT_EQ(ExtractSetCookies("Set-Cookie: plain=1"), "plain=1");
  EXPECT_EQ(ExtractSetCookies("set-cookie: lower=2; Domain=.x"), "lower=2");
  EXPECT_EQ(ExtractSetCookies("X-Set-Cookie: no=1\r\nContent-Type: a"), "");
  EXPECT_EQ(ExtractSetCookies(""), "");
}

TEST(MergeCookiesTest, NewValuesWinAndUnmentionedOldCookiesSurvive) {
  EXPECT_EQ(MergeCookies("a=1; b=2", "b=3; c=4"), "b=3; c=4; a=1");
  EXPECT_EQ(MergeCookies("", "x=1"), "x=1");
  EXPECT_EQ(MergeCookies("x=1", ""), "x=1");
  EXPECT_EQ(MergeCookies("", ""), "");
}

TEST(MergeCookiesTest, DeletedCookiesAndDuplicatesAreDropped) {
  EXPECT_EQ(MergeCookies("a=1", "a=deleted"), "");
  EXPECT_EQ(MergeCookies("a=1; b=2", "b=deleted"), "a=1");
  EXPECT_EQ(MergeCookies("c=3", "a=1; a=1; b=2"), "a=1; b=2; c=3");
}

TEST(MergeCookiesTest, ANameAlreadyTakenIsSkippedAlsoAmongOldPairs) {
  EXPECT_EQ(MergeCookies("a=1; a=2", "b=3"), "b=3; a=1");
  EXPECT_EQ(MergeCookies("a=1; b=2; a=3", "b=4"), "b=4; a=1");
  EXPECT_EQ(MergeCookies("a=1; a=2", "a=5"), "a=5");
}

TEST(FoldCookieLinesTest, LineBreaksBecomeSeparators) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a=1; b=2", "a=1; b=2"},
      {"a=1\r\nb=2", "a=1; b=2"},
      {"a=1;\r\n b=2;\n\nc=3\r", "a=1; b=2; c=3"},
      {"SESSDATA=x%2Cy; bili_jct=z\r\n", "SESSDATA=x%2Cy; bili_jct=z"},
      {"\r\n\r\n", ""},
  };
  for (const auto& [pasted, sent] : cases) EXPECT_EQ(FoldCookieLines(pasted), sent) << pasted;
}

TEST(MergeCookiesTest, TrailingSemicolonAndBlanksAreTolerated) {
  EXPECT_EQ(MergeCookies(" a=1; b=2; ", "c=3;"), "c=3; a=1; b=2");
  EXPECT_EQ(MergeCookies("flag; a=1", "a=2"), "a=2; flag");
}

TEST(Base64Test, MatchesRfc4648Vectors) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("f"), "Zg==");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(Base64Encode("foo"), "Zm9v");
  EXPECT_EQ(Base64Encode("foob"), "Zm9vYg==");
  EXPECT_EQ(Base64Encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
}

TEST(Base64Test, EncodesBinaryBytesAndUtf8) {
  EXPECT_EQ(Base64Encode(std::string("\0\xff\xfe", 3)), "AP/+");
  EXPECT_EQ(Base64Encode("user:pass"), "dXNlcjpwYXNz");
  EXPECT_EQ(Base64Encode("中"), "5Lit");
}

}  // namespace
}  // namespace korvid
