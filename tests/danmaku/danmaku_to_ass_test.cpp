#include "danmaku/danmaku_to_ass.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "net/site_hosts.h"

namespace korvid {
namespace {

struct Comment {
  std::string time;
  std::string mode = "1";
  std::string text;
  std::string colour = "16777215";
};

std::string Element(const Comment& c) {
  return "<d p=\"" + c.time + "," + c.mode + ",25," + c.colour +
         ",1584268892,0,a16fe0dd,29950852386521095,11\">" + c.text + "</d>";
}

std::string Document(const std::vector<Comment>& comments) {
  std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><chatid>1</chatid>";
  for (const Comment& c : comments) doc += Element(c);
  return doc + "</i>";
}

DanmakuSettings DefaultSettings() {
  ControlStore store;
  CreateMainWindowControls(store);
  return ReadDanmakuSettings(store);
}

// The event lines of an ASS text (everything after the [Events] format line).
std::vector<std::string> Events(const std::string& ass) {
  std::vector<std::string> lines;
  const std::string formatLine =
      "Format: Layer, Start, End, Style, Name, MarginL, MarginR, "
      "MarginV, Effect, Text";
  std::size_t at = ass.find(formatLine);
  if (at == std::string::npos) return lines;
  at += formatLine.size();
  while (at < ass.size()) {
    EXPECT_EQ(ass.compare(at, 2, "\r\n"), 0);
    at += 2;
    const std::size_t end = std::min(ass.find("\r\n", at), ass.size());
    lines.push_back(ass.substr(at, end - at));
    at = end;
  }
  return lines;
}

class DanmakuToAssTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_savedHosts = CurrentSiteHosts();
    SetCurrentSiteHosts(SiteHosts{});
  }
  void TearDown() override { SetCurrentSiteHosts(m_savedHosts); }

  std::vector<std::string> Convert(const std::vector<Comment>& comments) {
    return Events(DanmakuToAss(Document(comments), "123", "BV1xx", m_settings));
  }

  DanmakuSettings m_settings = DefaultSettings();
  SiteHosts m_savedHosts;
};

TEST_F(DanmakuToAssTest, WritesTheWholeFileAsTheWorkedExamplesShow) {
  const std::string ass =
      DanmakuToAss(Document({{"65.00000", "5", "红色", "16711680"}, {"12.34500", "1", "测试文本"}}),
                   "123", "BV1xx", m_settings);
  const std::string style =
      ",黑体,20,&H80FFFFFF,&H80FFFFFF,&H80000000,&H80000000,0,0,0,0,100,100,0.00,0.00,1,1.00,"
      "0.00,2,30,30,30,0";
  const std::string expected =
      "[Script Info]\r\n"
      "Title: https://www.bilibili.com/video/,https://comment.bilibili.com/\r\n"
      "Original Script: [bid_BV1xx],[cid_123]$\r\n"
      "ScriptType: v4.00+\r\nCollisions: Normal\r\nPlayResX: 560\r\nPlayResY: 420\r\n"
      "Timer: 10.0000\r\n\r\n[V4+ Styles]\r\n"
      "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
      "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
      "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\r\n"
      "Style: Fix" +
      style + "\r\nStyle: R2L" + style +
      "\r\n\r\n[Events]\r\n"
      "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n"
      "Dialogue: 0,0:00:12.34,0:00:28.34,R2L,,20,20,2,,{\\move(640,42,-80,42)}测试文本\r\n"
      "Dialogue: 0,0:01:05.00,0:01:09.00,Fix,,20,20,2,,{\\pos(280,21)\\c&H0000FF}红色";
  EXPECT_EQ(ass, expected);
}

TEST_F(DanmakuToAssTest, EmptyOrBrokenDocumentsGiveTheHeaderAlone) {
  for (const std::string doc : {"", "not xml", "<d p=\"1,1,25,0,0,0,0,0\"></d>"}) {
    DanmakuStats stats;
    const std::string ass = DanmakuToAss(doc, "1", "BV1", m_settings, &stats);
    EXPECT_TRUE(ass.starts_with("[Script Info]\r\n")) << doc;
    EXPECT_TRUE(ass.ends_with("Effect, Text")) << doc;
    EXPECT_EQ(stats.shown, 0) << doc;
  }
}

struct FilterCase {
  std::string name;
  std::vector<Comment> comments;
  std::string blockList = "default";
  std::vector<std::string> expectedTexts;  // the shown comments, in order
};

TEST_F(DanmakuToAssTest, FiltersAndOrdersComments) {
  const std::string bytes30 = std::string(29, 'x') + "z";
  const std::string bytes31 = std::string(29, 'y') + "中";
  const std::vector<FilterCase> cases = {
      {"block list hides scrolling comments only",
       {{"1", "1", "打卡"}, {"2", "5", "打卡"}, {"3", "4", "打卡"}, {"4", "1", "打卡了"}},
       "default",
       {"打卡", "打卡", "打卡了"}},
      {"an empty block list blocks nothing",
       {{"1", "1", "打卡"}, {"2", "1", "yyds"}},
       "",
       {"打卡", "yyds"}},
      {"an empty piece blocks nothing but the pieces do",
       {{"1", "1", "ab"}, {"2", "1", "cd"}},
       "x,,ab,",
       {"cd"}},
      {"30 bytes scroll, 31 do not; top comments of any length",
       {{"1", "1", bytes30}, {"2", "1", bytes31}, {"3", "5", bytes31 + bytes31}},
       "default",
       {bytes30, bytes31 + bytes31}},
      {"one repeated character is dropped in every mode",
       {{"1", "1", "哈哈哈哈"}, {"2", "4", "6666"}, {"3", "5", "🔥🔥"}, {"4", "5", "ab"}},
       "default",
       {"ab"}},
      {"positioned and scripted comments are dropped",
       {{"1", "7", "[0,0,\"1-1\",4.5,\"text\"]"}, {"2", "8", "code()"}, {"3", "1", "kept"}},
       "default",
       {"kept"}},
      {"sorted by time, equal times in document order",
       {{"10.5", "1", "c1"}, {"3.2", "1", "a1"}, {"10.50000", "1", "d1"}, {"3.20", "1", "b1"}},
       "default",
       {"a1", "b1", "c1", "d1"}},
      {"negative times first, -0 the same time as 0",
       {{"0", "1", "a1"}, {"-0", "1", "b1"}, {"-2.5", "1", "c1"}, {"-10", "1", "d1"}},
       "default",
       {"d1", "c1", "a1", "b1"}},
  };
  for (const FilterCase& c : cases) {
    if (c.blockList != "default") m_settings.blockList = c.blockList;
    std::vector<std::string> texts;
    for (const std::string& line : Convert(c.comments))
      texts.push_back(line.substr(line.find('}') + 1));
    EXPECT_EQ(texts, c.expectedTexts) << c.name;
    m_settings = DefaultSettings();
  }
}

struct LineCase {
  std::string name;
  std::vector<Comment> comments;
  std::size_t line;  // which event line to look at
  std::string expected;
};

TEST_F(DanmakuToAssTest, TimesDurationsAndPlacement) {
  const auto scroll = [](std::string time, std::size_t bytes) {
    return Comment{std::move(time), "1", std::string(bytes, 'a') + "b"};
  };
  std::vector<Comment> tops;
  std::vector<Comment> bottoms;
  for (int i = 0; i < 6; ++i) tops.push_back({std::to_string(i + 1), "5", "t" + std::to_string(i)});
  for (int i = 0; i < 4; ++i)
    bottoms.push_back({std::to_string(i + 1), "4", "b" + std::to_string(i)});

  const std::vector<LineCase> cases = {
      {"20 bytes last 16 s", {scroll("1", 19)}, 0, "Dialogue: 0,0:00:01.00,0:00:17.00,"},
      {"21 bytes last 16 s", {scroll("1", 20)}, 0, "Dialogue: 0,0:00:01.00,0:00:17.00,"},
      {"25 bytes last 20 s", {scroll("1", 24)}, 0, "Dialogue: 0,0:00:01.00,0:00:21.00,"},
      {"30 bytes last 24 s", {scroll("1", 29)}, 0, "Dialogue: 0,0:00:01.00,0:00:25.00,"},
      {"top comments last 4 s",
       {{"1.5", "5", "x" + std::string(40, 'y')}},
       0,
       "Dialogue: 0,0:00:01.50,0:00:05.50,Fix,"},
      {"short fraction", {{"12.9", "1", "ab"}}, 0, "Dialogue: 0,0:00:12.90,0:00:28.90,"},
      {"integer time", {{"94", "1", "ab"}}, 0, "Dialogue: 0,0:01:34.00,0:01:50.00,"},
      {"long fraction", {{"6.0999999046326", "1", "ab"}}, 0, "Dialogue: 0,0:00:06.09,0:00:22.09,"},
      {"ten hours and more keep every hour digit",
       {{"43205.34", "5", "ab"}},
       0,
       "Dialogue: 0,12:00:05.34,12:00:09.34,"},
      {"past a day the hours go on",
       {{"86399.5", "5", "ab"}},
       0,
       "Dialogue: 0,23:59:59.50,24:00:03.50,"},
      {"dots and question marks removed, width from the whole text",
       {{"1", "1", "a.b?c"}},
       0,
       "Dialogue: 0,0:00:01.00,0:00:17.00,R2L,,20,20,2,,{\\move(610,42,-50,42)}abc"},
      {"an emoji is kept and counts two",
       {{"1", "1", "火🔥"}},
       0,
       "Dialogue: 0,0:00:01.00,0:00:17.00,R2L,,20,20,2,,{\\move(600,42,-40,42)}火🔥"},
      {"entities decoded, width from the decoded text",
       {{"1", "1", "a&amp;b&lt;"}},
       0,
       "Dialogue: 0,0:00:01.00,0:00:17.00,R2L,,20,20,2,,{\\move(600,42,-40,42)}a&b<"},
      {"colour as BBGGRR",
       {{"1", "4", "ab", "1193046"}},
       0,
       "Dialogue: 0,0:00:01.00,0:00:05.00,Fix,,20,20,2,,{\\pos(280,408)\\c&H563412}ab"},
      {"scroll rows",
       {scroll("1", 1), scroll("2", 1), scroll("3", 1), scroll("4", 1)},
       3,
       "{\\move(580,63,-20,63)}"},
      {"top rows cycle (5th)", tops, 4, "{\\pos(280,105)"},
      {"top rows cycle (6th)", tops, 5, "{\\pos(280,21)"},
      {"bottom rows cycle (2nd)", bottoms, 1, "{\\pos(280,387)"},
      {"bottom rows cycle (3rd)", bottoms, 2, "{\\pos(280,366)"},
      {"bottom rows cycle (4th)", bottoms, 3, "{\\pos(280,408)"},
  };
  for (const LineCase& c : cases) {
    const std::vector<std::string> lines = Convert(c.comments);
    ASSERT_GT(lines.size(), c.line) << c.name;
    EXPECT_NE(lines[c.line].find(c.expected), std::string::npos) << c.name << ": " << lines[c.line];
  }
}

TEST_F(DanmakuToAssTest, ReadsOlderDocumentsAndNeverJoinsTwoElements) {
  const std::string doc =
      "<i>\n<d p=\"1.5,1,25,16777215,1296965347,0,c4c06db0,14089276\">八个字段</d>\n"
      "<d p=\"2,1,25,16777215,1296965353,0,c4c06db0,14089285\"></d>"
      "<d p=\"3,1,25,16777215,1296965353,0,c4c06db0,14089285\">跨行\n的</d>"
      "<d p=\"4,1,25,16777215,1296965353,0,c4c06db0\">七个字段</d>"
      "<d p=\"5,1,25,16777215,1296965353,0,c4c06db0,1\">没有结束"
      "<D P=\"6,1,25,16777215,1296965353,0,c4c06db0,1\">大写</D></i>";
  DanmakuStats stats;
  const std::vector<std::string> lines = Events(DanmakuToAss(doc, "1", "BV1", m_settings, &stats));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("0:00:01.50,0:00:17.50,R2L,,20,20,2,,{\\move(640,42,-80,42)}八个字段"),
            std::string::npos);
  EXPECT_NE(lines[1].find("{\\move(600,21,-40,21)}大写"), std::string::npos);
  EXPECT_EQ(stats.found, 2);
}

TEST_F(DanmakuToAssTest, StylesFillTheSizesAsEnteredInOnePass) {
  m_settings.scrollSize = "abc";
  m_settings.fixedSize = "30";
  m_settings.style = "Style: R2L,大小参数,$AV$地址$";
  const std::string ass =
      DanmakuToAss(Document({{"1", "1", "ab"}, {"2", "5", "cd"}}), "77", "BV9", m_settings);
  EXPECT_NE(ass.find("Style: Fix,30,$AV$地址$\r\nStyle: R2L,abc,$AV$地址$\r\n"), std::string::npos);
  const std::vector<std::string> lines = Events(ass);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("{\\move(580,2,-20,2)}"), std::string::npos);  // H = 1
  EXPECT_NE(lines[1].find("{\\pos(280,31)"), std::string::npos);         // G = 31
}

struct TextCase {
  std::string name;
  std::string raw;      // as the document holds it
  std::string written;  // after the override block, "" when dropped
  int width = 0;        // GBK bytes the motion is computed from
};

// Viewers' texts are decoded once, filtered and measured as decoded, and
// written so that no player reads them as markup.
TEST_F(DanmakuToAssTest, CommentTextsAreDecodedAndDefused) {
  std::string amps;  // 145 bytes as written, 29 decoded
  for (int i = 0; i < 29; ++i) amps += "&amp;";
  const std::vector<TextCase> cases = {
      {.name = "named entities", .raw = "&gt;_&lt;", .written = ">_<", .width = 3},
      {.name = "quotes", .raw = "&quot;a&apos;", .written = "\"a'", .width = 3},
      {.name = "double escaped stays one level",
       .raw = "&amp;#128514;",
       .written = "&#128514;",
       .width = 9},
      {.name = "numeric references", .raw = "&#128514;&#x41;", .written = "😂A", .width = 3},
      {.name = "no scalar value stays",
       .raw = "&#0;&#xD800;",
       .written = "&#0;&#xD800;",
       .width = 12},
      {.name = "past U+10FFFF stays", .raw = "a&#x110000;", .written = "a&#x110000;", .width = 11},
      {.name = "other entities stay", .raw = "&nbsp;a&", .written = "&nbsp;a&", .width = 8},
      {.name = "override block", .raw = "{\\fs200}大字", .written = "｛＼fs200｝大字", .width = 12},
      {.name = "override block from references",
       .raw = "&#123;\\an8&#125;x",
       .written = "｛＼an8｝x",
       .width = 7},
      {.name = "control characters become spaces",
       .raw = std::string("a\x01"
                          "b&#10;c&#127;d\0e",
                          18),
       .written = "a b c d e",
       .width = 9},
      {.name = "blocked once decoded", .raw = "&#25171;&#21345;", .written = "", .width = 0},
      {.name = "one character once decoded", .raw = "&#21704;哈", .written = "", .width = 0},
      {.name = "30 bytes counted decoded",
       .raw = "b" + amps,
       .written = "b" + std::string(29, '&'),
       .width = 30},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> lines = Convert({{"1", "1", c.raw}});
    if (c.written.empty()) {
      EXPECT_TRUE(lines.empty());
      continue;
    }
    ASSERT_EQ(lines.size(), 1u);
    const std::string expected = "{\\move(" + std::to_string(560 + 10 * c.width) + ",42,-" +
                                 std::to_string(10 * c.width) + ",42)}" + c.written;
    EXPECT_TRUE(lines[0].ends_with(expected)) << lines[0];
  }
}

struct RowLimitCase {
  std::string scrollSize;
  int comments;
  int lastSecond;  // density = comments / lastSecond
  int rows;
};

// Scrolling rows wrap within the 420-pixel play height, fewer rows the
// sparser the comments.
TEST_F(DanmakuToAssTest, ScrollRowsWrapWithinThePlayHeight) {
  const std::vector<RowLimitCase> cases = {
      {.scrollSize = "20", .comments = 30, .lastSecond = 100, .rows = 4},
      {.scrollSize = "20", .comments = 30, .lastSecond = 30, .rows = 9},
      {.scrollSize = "20", .comments = 30, .lastSecond = 15, .rows = 9},
      {.scrollSize = "20", .comments = 30, .lastSecond = 10, .rows = 13},
      {.scrollSize = "20", .comments = 32, .lastSecond = 8, .rows = 18},
      {.scrollSize = "29", .comments = 30, .lastSecond = 100, .rows = 3},
      {.scrollSize = "29", .comments = 30, .lastSecond = 30, .rows = 6},
      {.scrollSize = "29", .comments = 30, .lastSecond = 15, .rows = 6},
      {.scrollSize = "29", .comments = 30, .lastSecond = 10, .rows = 9},
      {.scrollSize = "29", .comments = 32, .lastSecond = 8, .rows = 12},
  };
  for (const RowLimitCase& c : cases) {
    SCOPED_TRACE("H = " + c.scrollSize + " + 1, " + std::to_string(c.comments) + " comments by " +
                 std::to_string(c.lastSecond) + " s");
    m_settings.scrollSize = c.scrollSize;
    std::vector<Comment> comments;
    for (int i = 0; i < c.comments; ++i) {
      const int time = i + 1 == c.comments ? c.lastSecond : 1;
      comments.push_back({std::to_string(time), "1", "c" + std::to_string(i)});
    }
    const std::vector<std::string> lines = Convert(comments);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(c.comments));
    const int height = std::stoi(c.scrollSize) + 1;
    const std::string firstRow = "," + std::to_string(2 * height) + ",-";
    int rows = 0;
    for (std::size_t i = 1; i < lines.size() && rows == 0; ++i) {
      if (lines[i].find(firstRow) != std::string::npos) rows = static_cast<int>(i);
    }
    EXPECT_EQ(rows, c.rows);
  }
}

// Handed over in pieces, the subtitle is the same bytes; a sink that refuses
// a piece stops it.
TEST_F(DanmakuToAssTest, PiecesMakeTheSameSubtitle) {
  std::vector<Comment> many;
  for (int i = 0; i < 12000; ++i) {
    many.push_back({std::to_string(i % 900) + ".5", i % 7 == 0 ? "5" : "1",
                    "第" + std::to_string(i) + "条弹幕", "255"});
  }
  struct Case {
    std::string name;
    std::vector<Comment> comments;
    int refuseAt;  // the piece the sink refuses; -1: none
  };
  const std::vector<Case> cases = {
      {.name = "no comments", .comments = {}, .refuseAt = -1},
      {.name = "one piece", .comments = {{"1.0", "1", "一条"}}, .refuseAt = -1},
      {.name = "many pieces", .comments = many, .refuseAt = -1},
      {.name = "refused", .comments = many, .refuseAt = 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string doc = Document(c.comments);
    DanmakuStats whole;
    const std::string expected = DanmakuToAss(doc, "123", "BV1xx", m_settings, &whole);
    std::string joined;
    int pieces = 0;
    DanmakuStats stats;
    const bool written = WriteDanmakuAss(
        doc, "123", "BV1xx", m_settings,
        [&](std::string_view piece) {
          if (pieces++ == c.refuseAt) return false;
          joined.append(piece);
          return true;
        },
        &stats);
    EXPECT_EQ(written, c.refuseAt < 0);
    if (c.refuseAt >= 0) {
      EXPECT_EQ(pieces, c.refuseAt + 1);
      continue;
    }
    EXPECT_TRUE(joined == expected);
    EXPECT_EQ(stats.found, whole.found);
    EXPECT_EQ(stats.shown, whole.shown);
    EXPECT_EQ(pieces > 1, c.comments.size() > 1000);
  }
}

TEST(ContainsOnlyOneCharacter, CountsCharactersNotBytes) {
  EXPECT_TRUE(ContainsOnlyOneCharacter(""));
  EXPECT_TRUE(ContainsOnlyOneCharacter("中"));
  EXPECT_TRUE(ContainsOnlyOneCharacter("\r\n\r\n"));
  EXPECT_FALSE(ContainsOnlyOneCharacter("\r\n\r"));
  EXPECT_FALSE(ContainsOnlyOneCharacter("中文"));
  EXPECT_FALSE(ContainsOnlyOneCharacter("aA"));
}

}  // namespace
}  // namespace korvid
