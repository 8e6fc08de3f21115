#include "net/regex_matcher.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/sandbox.h"

namespace korvid {
namespace {

constexpr const char* kDanmakuPattern =
    R"re(<d p="(.+?),(.+?),(.+?),(.+?),(.+?),(.+?),(.+?),(.+?)">(.+?)</d>)re";

std::vector<std::string> AllMatches(const RegexMatcher& matcher) {
  std::vector<std::string> texts;
  for (int n = 1; n <= matcher.Count(); ++n) texts.push_back(matcher.MatchText(n));
  return texts;
}

std::vector<std::string> Matches(std::string_view pattern, std::string_view subject) {
  RegexMatcher matcher;
  EXPECT_TRUE(matcher.Execute(pattern, subject)) << pattern;
  return AllMatches(matcher);
}

using Texts = std::vector<std::string>;

// ---- Flags -----------------------------------------------------------------------

TEST(RegexMatcherFlagTest, CaseInsensitiveByDefaultAndTextAsInTheSubject) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Execute("BV[0-9A-Z]{10}", "see bv1xx411c7mD now"));
  ASSERT_EQ(matcher.Count(), 1);
  EXPECT_EQ(matcher.MatchText(1), "bv1xx411c7mD");
  ASSERT_TRUE(matcher.Execute("BV", "bv", true));
  EXPECT_EQ(matcher.Count(), 0);
  EXPECT_EQ(Matches("ä", "Ä"), Texts{"Ä"});
}

TEST(RegexMatcherFlagTest, CaretAndDollarFollowTheMultiLineFlag) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Execute("^b.*$", "a\nbc\nbd"));
  EXPECT_EQ(AllMatches(matcher), (Texts{"bc", "bd"}));
  ASSERT_TRUE(matcher.Execute("^b", "a\nb", false, false));
  EXPECT_EQ(matcher.Count(), 0);
  // Without multi-line, $ is the very end only, not before a final line break.
  ASSERT_TRUE(matcher.Execute("a$", "a\n", false, false));
  EXPECT_EQ(matcher.Count(), 0);
  ASSERT_TRUE(matcher.Execute("a$", "a\r\nxa", false, false));
  EXPECT_EQ(matcher.Count(), 1);
  // Every script line terminator ends a line, also between CR and LF.
  EXPECT_EQ(Matches("^\\w*$", "ab\r\ncd\u2028ef\n"), (Texts{"ab", "", "cd", "ef", ""}));
}

TEST(RegexMatcherFlagTest, GlobalFlagDecidesBetweenAllMatchesAndTheFirst) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Execute("\\d+", "1 22 333", false, true, false));
  EXPECT_EQ(AllMatches(matcher), Texts{"1"});
  EXPECT_EQ(matcher.Replace("#"), "# 22 333");
  ASSERT_TRUE(matcher.Execute("\\d+", "1 22 333"));
  EXPECT_EQ(matcher.Replace("#"), "# # #");
}

TEST(RegexMatcherFlagTest, QuoteMarkerStandsForADoubleQuote) {
  RegexMatcher matcher;
  ASSERT_TRUE(
      matcher.Execute("href=#引号(.*?)#引号", R"(<a href="x.html">)", false, true, true, true));
  EXPECT_EQ(matcher.SubMatchText(1, 1), "x.html");
  EXPECT_EQ(matcher.GetPattern(), R"re(href="(.*?)")re");
  ASSERT_TRUE(matcher.Execute("#引号", R"(")"));
  EXPECT_EQ(matcher.Count(), 0);
}

// ---- Results -----------------------------------------------------------------------

TEST(RegexMatcherResultTest, NothingFoundStillRuns) {
  RegexMatcher matcher;
  int position = 7;
  ASSERT_TRUE(matcher.Execute("xyz", "abc"));
  EXPECT_EQ(matcher.Count(), 0);
  EXPECT_EQ(matcher.MatchText(1, &position), "");
  EXPECT_EQ(position, -1);
  EXPECT_EQ(matcher.SubMatchCount(), 0);
  EXPECT_EQ(matcher.Replace("q"), "abc");
  EXPECT_EQ(matcher.GetPattern(), "xyz");
}

TEST(RegexMatcherResultTest, InvalidPatternGivesEmptyResults) {
  RegexMatcher matcher;
  EXPECT_EQ(matcher.GetPattern(), "");
  EXPECT_EQ(matcher.Count(), 0);
  for (const char* pattern : {"(", "[a", "a{2,1}", "*", "(?<=a+)b", "\\", "\xFF"}) {
    EXPECT_FALSE(matcher.Execute(pattern, "aab")) << pattern;
    EXPECT_EQ(matcher.Count(), 0);
    EXPECT_EQ(matcher.MatchText(1), "");
    EXPECT_EQ(matcher.SubMatchCount(), 0);
    EXPECT_EQ(matcher.Replace("x"), "");
  }
  EXPECT_EQ(matcher.GetPattern(), "\xFF");
  EXPECT_TRUE(matcher.Execute("a", "aab"));
  EXPECT_EQ(matcher.Count(), 2);
}

TEST(RegexMatcherResultTest, GroupsThatDidNotTakePartAreEmpty) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Execute("(a)|(b)(x)?(?:c)", "bc a"));
  ASSERT_EQ(matcher.Count(), 2);
  EXPECT_EQ(matcher.SubMatchCount(), 3);  // the non-capturing group does not count
  int position = 0;
  EXPECT_EQ(matcher.SubMatchText(1, 1, &position), "");
  EXPECT_EQ(position, -1);
  EXPECT_EQ(matcher.SubMatchText(1, 2, &position), "b");
  EXPECT_EQ(position, 0);
  EXPECT_EQ(matcher.SubMatchText(1, 3), "");
  EXPECT_EQ(matcher.SubMatchText(2, 1, &position), "a");
  EXPECT_EQ(position, 3);
  EXPECT_EQ(matcher.Replace("[$1|$2|$3]"), "[|b|] [a||]");
  const std::vector<std::pair<int, int>> outside = {{0, 1}, {3, 1}, {1, 0}, {1, 4}, {-1, -1}};
  for (const auto& [n, k] : outside) {
    EXPECT_EQ(matcher.SubMatchText(n, k, &position), "");
    EXPECT_EQ(position, -1);
  }
}

TEST(RegexMatcherResultTest, PositionsCountGbkBytes) {
  RegexMatcher matcher;
  int position = 0;
  ASSERT_TRUE(matcher.Execute("ABC", "中文ABC"));
  EXPECT_EQ(matcher.MatchText(1, &position), "ABC");
  EXPECT_EQ(position, 4);
  ASSERT_TRUE(matcher.Execute("(b)(中)", "😀a中b中x"));
  EXPECT_EQ(matcher.MatchText(1, &position), "b中");
  EXPECT_EQ(position, 5);
  EXPECT_EQ(matcher.SubMatchText(1, 2, &position), "中");
  EXPECT_EQ(position, 6);
  // Past the checkpoints the positions stay exact.
  std::string subject;
  for (int i = 0; i < 1000; ++i) subject += "中a";
  ASSERT_TRUE(matcher.Execute("a", subject));
  ASSERT_EQ(matcher.Count(), 1000);
  EXPECT_EQ(matcher.MatchText(1000, &position), "a");
  EXPECT_EQ(position, 2999);
  EXPECT_EQ(matcher.MatchText(1, &position), "a");
  EXPECT_EQ(position, 2);
}

TEST(RegexMatcherResultTest, CopiesKeepTheirMatchesWhenTheOriginalRunsAgain) {
  RegexMatcher original;
  ASSERT_TRUE(original.Execute("(\\d)", "a1b2"));
  RegexMatcher copy = original;
  ASSERT_TRUE(original.Execute("x", "y"));
  EXPECT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy.SubMatchText(2, 1), "2");
  EXPECT_EQ(copy.Replace("<$1>"), "a<1>b<2>");
  EXPECT_EQ(copy.GetPattern(), "(\\d)");
  RegexMatcher assigned;
  assigned = copy;
  EXPECT_EQ(assigned.MatchText(1), "1");
}

// ---- Dialect ---------------------------------------------------------------------------

TEST(RegexMatcherDialectTest, DotStopsAtScriptLineTerminatorsOnly) {
  EXPECT_EQ(Matches(".+", "a\nb\rc\u2028d\u2029e"), (Texts{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(Matches(".+", "a\vb\fc\u0085d"), Texts{"a\vb\fc\u0085d"});
  EXPECT_EQ(Matches("[^]+", "a\nb"), Texts{"a\nb"});
  EXPECT_EQ(Matches("[\\s\\S]+", "a\nb"), Texts{"a\nb"});
  EXPECT_TRUE(Matches("a[]", "a").empty());
}

TEST(RegexMatcherDialectTest, ClassEscapesFollowScriptRules) {
  EXPECT_EQ(Matches("\\d+", "12３4"), (Texts{"12", "4"}));  // fullwidth digit is no \d
  EXPECT_EQ(Matches("\\w+", "ab_1中é"), Texts{"ab_1"});
  EXPECT_EQ(Matches("\\s", "a b\tc\u00a0d\u3000e\ufeff"),
            (Texts{" ", "\t", "\u00a0", "\u3000", "\ufeff"}));
  EXPECT_EQ(Matches("\\S+", "a\u3000b"), (Texts{"a", "b"}));
  EXPECT_EQ(Matches("[\\s,]+", "a,\u3000b"), Texts{",\u3000"});
  EXPECT_EQ(Matches("\\v", "a\vb"), Texts{"\v"});
  EXPECT_EQ(Matches("\\bab\\b", "ab abc 中ab"), (Texts{"ab", "ab"}));
}

TEST(RegexMatcherDialectTest, EscapesAsScriptsWriteThem) {
  EXPECT_EQ(Matches("\\u4e2d\\x41", "中A"), Texts{"中A"});
  EXPECT_EQ(Matches("\\uD83D\\uDE00", "x😀"), Texts{"😀"});
  EXPECT_EQ(Matches("\\x4g", "x4g"), Texts{"x4g"});           // \x takes exactly two hex digits
  EXPECT_EQ(Matches("\\q\\y\\h\\N", "qyhN"), Texts{"qyhN"});  // unknown escapes are literal
  EXPECT_EQ(Matches("[\\[\\]]", "[]"), (Texts{"[", "]"}));
  EXPECT_EQ(Matches("[[:alpha:]]+", ":a]"), Texts{"a]"});  // no POSIX classes
  EXPECT_EQ(Matches("\\.\\*", "a.*"), Texts{".*"});
}

TEST(RegexMatcherDialectTest, QuantifiersGroupsAndLookAhead) {
  EXPECT_EQ(Matches("<b>(.+?)</b>", "<b>1</b><b>2</b>"), (Texts{"<b>1</b>", "<b>2</b>"}));
  EXPECT_EQ(Matches("<b>(.+)</b>", "<b>1</b><b>2</b>"), Texts{"<b>1</b><b>2</b>"});
  EXPECT_EQ(Matches("\\d+(?=px)", "10px 20em 30px"), (Texts{"10", "30"}));
  EXPECT_EQ(Matches("\\d+(?!\\d|px)", "10px 20em"), Texts{"20"});
  EXPECT_EQ(Matches("(a)\\1", "aa a"), Texts{"aa"});
  EXPECT_EQ(Matches("(?:(a)|b)\\1c", "bc"), Texts{"bc"});  // unset group matches empty
  EXPECT_EQ(Matches("x{2,}", "x xx xxx"), (Texts{"xx", "xxx"}));
  EXPECT_EQ(Matches("a{,2}", "a{,2}"), Texts{"a{,2}"});
}

TEST(RegexMatcherDialectTest, EmptyMatchesAdvanceByOneCharacter) {
  EXPECT_EQ(Matches("a*", "baaa"), (Texts{"", "aaa", ""}));
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Execute("x*", "中😀a"));
  ASSERT_EQ(matcher.Count(), 4);
  int position = 0;
  (void)matcher.MatchText(4, &position);
  EXPECT_EQ(position, 5);
  EXPECT_EQ(matcher.Replace("-"), "-中-😀-a-");
  EXPECT_EQ(Matches("", "ab").size(), 3u);
  EXPECT_EQ(Matches("x*|b", "b"), (Texts{"", ""}));
}

TEST(RegexMatcherDialectTest, IllFormedUtf8SubjectMatchesAroundTheBadBytes) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Execute(".+",
                              "ab\xFF\xFE"
                              "cd\xC3"));
  EXPECT_EQ(AllMatches(matcher), (Texts{"ab", "cd"}));
  int position = 0;
  EXPECT_EQ(matcher.MatchText(2, &position), "cd");
  EXPECT_EQ(position, 6);  // a stray lead byte counts as a two-byte character
  ASSERT_TRUE(matcher.Execute("x*", "\xFF\x80"));
  EXPECT_EQ(matcher.Count(), 3);
  EXPECT_EQ(matcher.Replace("$&-"), "-\xFF-\x80-");
}

// A search the engine's limits cut short fails: "nothing found" would be a
// guess (both subjects hold a match a patient engine finds).
TEST(RegexMatcherDialectTest, RunawayBacktrackingFailsInsteadOfFindingNothing) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"(a|aa)+$|b", std::string(35, 'a') + "b"},
      {"(a+)+b", std::string(64, 'a') + "c aab"},
  };
  for (const auto& [pattern, subject] : cases) {
    RegexMatcher matcher;
    EXPECT_FALSE(matcher.Execute(pattern, subject)) << pattern;
    EXPECT_EQ(matcher.Count(), 0);
    EXPECT_EQ(matcher.MatchText(1), "");
  }
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Execute("a", "a" + std::string(10, 'b') + "a"));
  EXPECT_EQ(matcher.Count(), 2);
}

// Positions count up to two per byte: a subject whose positions might not fit
// an int is refused before it is read (the pages are never touched).
TEST(RegexMatcherDialectTest, SubjectsTooLongForIntPositionsAreRefused) {
  const std::size_t size = static_cast<std::size_t>(RegexMatcher::kMaxSubjectBytes) + 1;
  void* pages =
      ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(pages, MAP_FAILED);
  RegexMatcher matcher;
  EXPECT_FALSE(matcher.Execute("x", std::string_view(static_cast<const char*>(pages), size)));
  EXPECT_EQ(matcher.Count(), 0);
  ::munmap(pages, size);
  EXPECT_LE(2 * RegexMatcher::kMaxSubjectBytes, std::numeric_limits<int>::max());
}

// ---- Replace -----------------------------------------------------------------------------

TEST(RegexMatcherReplaceTest, ReplacementPatternsOfScripts) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Execute("(\\w+)@(\\w+)", "x foo@bar y"));
  EXPECT_EQ(matcher.Replace("$2 at $1"), "x bar at foo y");
  EXPECT_EQ(matcher.Replace("[$&]"), "x [foo@bar] y");
  EXPECT_EQ(matcher.Replace("$$1"), "x $1 y");
  EXPECT_EQ(matcher.Replace("<$`|$'>"), "x <x | y> y");
  EXPECT_EQ(matcher.Replace("$3$0$10$01$"), "x $3$0foo0foo$ y");
  EXPECT_EQ(matcher.Replace("$x"), "x $x y");
  ASSERT_TRUE(matcher.Execute("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)", "abcdefghijk"));
  EXPECT_EQ(matcher.Replace("$11$10$1"), "kja");
}

// ---- Helpers -----------------------------------------------------------------------------

TEST(TextBetweenAllTest, SkipsTextsLongerThanTheMaximum) {
  std::vector<std::string> out;
  EXPECT_EQ(TextBetweenAll("<b>1</b><b>22</b>", "<b>", "</b>", out, 1), 1);
  EXPECT_EQ(out, Texts{"1"});
  out.clear();
  EXPECT_EQ(TextBetweenAll("<b>中</b><b>a</b>", "<b>", "</b>", out, 1), 1);
  EXPECT_EQ(out, Texts{"a"});  // lengths count GBK bytes
}

TEST(TextBetweenAllTest, DecoratesAndAppendsToTheList) {
  std::vector<std::string> out{"kept"};
  EXPECT_EQ(TextBetweenAll(R"(<a href="/x">1</a> <A HREF="/y">)", "href=#引号", "#引号", out, 0,
                           "https://h", "?q", true, true),
            3);
  EXPECT_EQ(out, (Texts{"kept", R"(https://hhref="/x"?q)", R"(https://hhref="/y"?q)"}));
  out.clear();
  TextBetweenAll("a\nbody\nb", "a\n", "\nb", out);
  EXPECT_EQ(out, Texts{"body"});
}

TEST(TextBetweenAllTest, MarkerCharactersAreEscapedAsListed) {
  std::vector<std::string> out;
  TextBetweenAll("f(x)=[1+2]*? {y}", "(", ")", out);
  TextBetweenAll("f(x)=[1+2]*? {y}", "[1+", "]*?", out);
  TextBetweenAll("f(x)=[1+2]*? {y}", "{", "}", out);
  EXPECT_EQ(out, (Texts{"x", "2", "y"}));
  out.clear();
  TextBetweenAll("axb ayb", "a.", "b", out);  // '.' keeps its meaning
  EXPECT_EQ(out, (Texts{"", ""}));
  out.clear();
  TextBetweenAll("L1\r\nv\r\nR L1\nw\nR", "L1\r\n", "\r\nR", out);
  EXPECT_EQ(out, (Texts{"v", "w"}));
}

TEST(FirstMatchTest, GivesTheFirstMatchOrGroup) {
  EXPECT_EQ(FirstMatch("BV\\w{10}", "x BV1xx411c7mD BV2"), "BV1xx411c7mD");
  EXPECT_EQ(FirstMatch("charset=[\"']?([\\w-]+)", "<meta charset=\"GBK\">", 1), "GBK");
  EXPECT_EQ(FirstMatch("(a)|b", "b", 1), "");
  EXPECT_EQ(FirstMatch("a", "b"), std::nullopt);
  EXPECT_EQ(FirstMatch("(", "("), std::nullopt);
  EXPECT_EQ(FirstMatch("a", "a", 1), std::nullopt);
}

TEST(RegexMatcherDanmakuTest, CommentPatternFindsEveryComment) {
  const auto folder = std::filesystem::path(KORVID_TEST_DATA_DIR) / "danmaku";
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.Execute(kDanmakuPattern,
                              test::ReadWholeFile(folder / "modern9_cid367013145_1200c.xml")));
  ASSERT_EQ(matcher.Count(), 1200);
  EXPECT_EQ(matcher.SubMatchCount(), 9);
  EXPECT_EQ(matcher.SubMatchText(1, 1), "0.47900");
  EXPECT_EQ(matcher.SubMatchText(1, 8), "51870527213010951,10");
  EXPECT_EQ(matcher.SubMatchText(1, 9), "才发现歌是喵酱自己唱的啊啊太棒了");
  // Multi-line code comments do not match: '.' stops at line ends.
  ASSERT_TRUE(
      matcher.Execute(kDanmakuPattern, test::ReadWholeFile(folder / "mode8_code_cid602517.xml")));
  EXPECT_EQ(matcher.Count(), 0);
}

}  // namespace
}  // namespace korvid
