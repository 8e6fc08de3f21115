// Every recorded comment document converts into a well-formed subtitle.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "danmaku/danmaku_to_ass.h"
#include "net/text_width.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0;;) {
    const std::size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end - at));
    if (end == std::string::npos) return lines;
    at = end + 2;
  }
}

long Centiseconds(const std::smatch& match) {
  return ((std::stol(match[1]) * 60 + std::stol(match[2])) * 60 + std::stol(match[3])) * 100 +
         std::stol(match[4]);
}

// Comment elements found and shown with the default settings. Scripted
// (mode 8) comments span lines and are no elements; mode 6 and 7 are dropped.
const std::map<std::string, std::pair<int, int>> kCounts = {
    {"cid2196678_modes_1457_entities.xml", {1000, 848}},
    {"crlf_cid8729348_1239c.xml", {1239, 780}},
    {"doc_excerpt_cid144541892_truncated.xml", {15, 15}},
    {"invalid_no_closing.xml", {6, 6}},
    {"large_av80976236_cid138598274_4832c.xml", {4832, 938}},
    {"mode8_code_cid602517.xml", {0, 0}},
    {"modern9_cid367013145_1200c.xml", {1200, 1075}},
    {"modes_1678_cid603941.xml", {572, 0}},
    {"newline_sep_cid3809007.xml", {1000, 908}},
    {"old2011_cid170102_int_times.xml", {1386, 1082}},
    // 32 bytes as written, 27 once "&amp;" is decoded: within the 30-byte limit.
    {"small9_double_escaped_emoji.xml", {7, 7}},
};

TEST(RealDocuments, EveryRecordedDocumentConvertsWellFormed) {
  ControlStore store;
  CreateMainWindowControls(store);
  const DanmakuSettings settings = ReadDanmakuSettings(store);
  const std::regex dialogue(
      R"(Dialogue: 0,(\d+):(\d\d):(\d\d)\.(\d\d),\d+:\d\d:\d\d\.\d\d,)"
      R"((R2L,,20,20,2,,\{\\move\(\d+,\d+,-\d+,\d+\)\}|Fix,,20,20,2,,\{\\pos\(280,\d+\)\\c&H[0-9A-F]{6}\}))"
      R"([^\r\n]+)");
  // Both y of a move (start and end row) or the y of a position.
  const std::regex position(R"(\{\\(?:move\(\d+,(\d+),-\d+,(\d+)\)|pos\(280,(\d+)\)))");
  int documents = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(KORVID_TEST_DATA_DIR) / "danmaku")) {
    const std::string name = entry.path().filename().string();
    const std::string xml = test::ReadWholeFile(entry.path());
    DanmakuStats stats;
    const std::string ass = DanmakuToAss(xml, "170102", "BV1xx411c7mD", settings, &stats);
    ++documents;

    EXPECT_TRUE(IsValidUtf8(ass)) << name;
    const std::vector<std::string> lines = Lines(ass);
    ASSERT_GE(lines.size(), 16u) << name;
    EXPECT_EQ(lines[0], "[Script Info]") << name;
    EXPECT_EQ(lines[2], "Original Script: [bid_BV1xx411c7mD],[cid_170102]$") << name;
    EXPECT_EQ(lines.size(), 16u + static_cast<std::size_t>(stats.shown)) << name;
    ASSERT_TRUE(kCounts.contains(name)) << name;
    EXPECT_EQ(stats.found, kCounts.at(name).first) << name;
    EXPECT_EQ(stats.shown, kCounts.at(name).second) << name;
    long previous = -1;
    for (std::size_t i = 16; i < lines.size(); ++i) {
      std::smatch match;
      ASSERT_TRUE(std::regex_match(lines[i], match, dialogue)) << name << ": " << lines[i];
      EXPECT_GE(Centiseconds(match), previous) << name << ": " << lines[i];
      previous = Centiseconds(match);
      for (const char* placeholder : {"$起$始$", "$结$束$", "$上$下$", "$左$右$", "$弹$幕$"}) {
        EXPECT_EQ(lines[i].find(placeholder), std::string::npos) << name << ": " << lines[i];
      }
      // No viewer's text reaches the player as markup.
      const std::string text = lines[i].substr(lines[i].find('}') + 1);
      EXPECT_EQ(text.find_first_of("{}\\"), std::string::npos) << name << ": " << lines[i];
      std::smatch place;
      ASSERT_TRUE(std::regex_search(lines[i], place, position)) << name << ": " << lines[i];
      for (int group = 1; group <= 3; ++group) {
        if (!place[group].matched) continue;
        const int y = std::stoi(place[group]);
        EXPECT_TRUE(y >= 0 && y <= 420) << name << ": " << lines[i];
      }
    }
  }
  EXPECT_EQ(documents, static_cast<int>(kCounts.size()));
  const std::string emoji = test::ReadWholeFile(fs::path(KORVID_TEST_DATA_DIR) / "danmaku" /
                                                "small9_double_escaped_emoji.xml");
  EXPECT_NE(DanmakuToAss(emoji, "1", "BV1", settings).find("}吓到朕了！&#128514;"),
            std::string::npos);
}

}  // namespace
}  // namespace korvid
