#include "library/nfo_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "net/site_hosts.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"
#include "xml_leaves.h"

namespace korvid {
namespace {

using Json = nlohmann::ordered_json;
using Texts = std::vector<std::string>;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>";

Json RecordedTask() {
  Json record = Json::parse(test::ReadWholeFile(std::string(KORVID_TEST_DATA_DIR) +
                                                "/api/view_BV117411r7R1_staff2.json"));
  record["cid序号"] = "146044693";
  record["视频part"] = record["data"]["pages"][0]["part"];
  record["任务id"] = "1";
  record["分集序号"] = "1";
  record["音视分离"] = "假";
  record["音视状态"] = "视频";
  return record;
}

PageTagSource FixedTags(std::string tags) {
  return [tags = std::move(tags)](std::string_view) { return tags; };
}

// The dates must come out in China Standard Time on a machine that is not.
class NfoWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) m_savedTz = tz;
    setenv("TZ", "America/New_York", 1);
    tzset();
  }
  void TearDown() override {
    if (m_savedTz) {
      setenv("TZ", m_savedTz->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> m_savedTz;
};

// Checks every NFO the same way: a real XML parser reads it, it has the shape
// of the template, and the tag list repeats the genre list.
test::XmlLeaves ReadNfo(const std::string& nfo) {
  EXPECT_TRUE(nfo.starts_with(std::string(kDeclaration) + "\r\n<movie>\r\n  <plot>")) << nfo;
  EXPECT_TRUE(nfo.ends_with("  </actor>\r\n</movie>")) << nfo;
  test::XmlLeaves xml = test::ReadXmlLeaves(nfo);
  EXPECT_TRUE(xml.wellFormed) << xml.error << "\n" << nfo;
  EXPECT_EQ(xml.Texts("movie/genre"), xml.Texts("movie/tag"));
  EXPECT_EQ(xml.Texts("movie/actor/type").size(), xml.Texts("movie/actor/name").size());
  return xml;
}

TEST_F(NfoWriter, DatesAreChinaStandardTime) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {0, "1970-01-01 08:00:00"},          {1600000000, "2020-09-13 20:26:40"},
      {1599926399, "2020-09-12 23:59:59"},  // New York is still on the 12th a day later
      {1599926400, "2020-09-13 00:00:00"}, {-1, "1970-01-01 07:59:59"},
      {INT64_MAX, "9999-12-31 23:59:59"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(ChinaDateTimeText(seconds), text) << seconds;
}

struct NfoCase {
  std::string name;
  std::function<void(Json&)> edit;
  std::vector<std::pair<std::string, Texts>> expected;  // leaf path -> texts
  std::string rawPart;                                  // must appear in the bytes
};

TEST_F(NfoWriter, ValuesOfTheRecord) {
  const std::vector<NfoCase> cases = {
      {"pubdate 0",
       [](Json& r) { r["data"]["pubdate"] = 0; },
       {{"movie/year", {"1970"}},
        {"movie/premiered", {"1970-01-01"}},
        {"movie/release", {"1970-01-01"}}},
       ""},
      {"pubdate 1.6e9",
       [](Json& r) { r["data"]["pubdate"] = 1.6e9; },
       {{"movie/year", {"2020"}}, {"movie/premiered", {"2020-09-13"}}},
       ""},
      {"staff newest first",
       [](Json& r) {
         r["data"]["owner"]["name"] = "甲";
         r["data"]["staff"] = Json::array({{{"name", "甲"}}, {{"name", "乙"}}});
       },
       {{"movie/actor/name", {"乙", "甲"}}},
       ""},
      {"no staff",
       [](Json& r) { r["data"].erase("staff"); },
       {{"movie/actor/name", {"陈楒潼桶桶桶"}}},
       ""},
      {"nobody named",
       [](Json& r) {
         r["data"]["owner"]["name"] = "";
         r["data"].erase("staff");
       },
       {{"movie/actor/name", {""}}},
       "  <actor>\r\n    <name></name>\r\n    <type>Actor</type>\r\n  </actor>\r\n</movie>"},
      {"plot cleaned",
       [](Json& r) { r["data"]["desc"] = "A&B?\nsecond\r\nthird"; },
       {},
       "  <plot>AB\r\nsecond\r\nthird</plot>\r\n"},
      {"markup and placeholder words stay text",
       [](Json& r) {
         r["data"]["title"] = "Tom & Jerry <3 \"时间\" 演员 简介";
         r["data"]["tname"] = "a<b>";
       },
       {{"movie/title", {"Tom & Jerry <3 \"时间\" 演员 简介"}},
        {"movie/premiered", {"2020-01-30"}}},
       "  <title>Tom &amp; Jerry &lt;3 \"时间\" 演员 简介</title>\r\n"},
      {"characters XML forbids are dropped",
       [](Json& r) {
         r["data"]["desc"] = std::string(
             "a\x01"
             "b\x1f"
             "c\tend");
       },
       {{"movie/plot", {"abc\tend"}}},
       ""},
      {"runtime, resolution and ids",
       [](Json&) {},
       {{"movie/runtime", {"9"}},  // 486 s, in whole minutes rounded up
        {"movie/id", {"BV117411r7R1"}},
        {"movie/uniqueid", {"BV117411r7R1"}},
        {"movie/actor/name", {"Warma", "陈楒潼桶桶桶"}},
        {"movie/actor/role", {"曲绘", "UP主"}},
        {"movie/actor/thumb",
         {"https://i2.hdslb.com/bfs/face/87c0b7e4d3eedf04c458a82b9271013beaa4bc59.jpg",
          "https://i2.hdslb.com/bfs/face/c9af3b32cf74baec5a4b65af8ca18ae5ff571f77.jpg"}},
        {"movie/num", {"BV117411r7R1"}},
        {"movie/title", {"当我给拜年祭的快板加了电音配乐…"}}},
       "  <mpaa>PG</mpaa>\r\n  <customrating>PG</customrating>\r\n  "
       "<countrycode>CN</countrycode>\r\n"},
  };
  for (const NfoCase& nfoCase : cases) {
    SCOPED_TRACE(nfoCase.name);
    Json record = RecordedTask();
    nfoCase.edit(record);
    const std::string nfo = BuildNfo(record.dump(), FixedTags(""));
    const test::XmlLeaves xml = ReadNfo(nfo);
    for (const auto& [path, texts] : nfoCase.expected) EXPECT_EQ(xml.Texts(path), texts) << path;
    EXPECT_NE(nfo.find(nfoCase.rawPart), std::string::npos) << nfo;
  }
}

TEST_F(NfoWriter, LabelsNewestFirstWithPageTagsLeading) {
  const std::string nfo = BuildNfo(RecordedTask().dump(), FixedTags("电音||A&B|"));
  const Texts labels = {"A&B",
                        "电音",
                        "建议改成：建议改成：诸 神 的 电 音 节（不是）",
                        "原创音乐",
                        "Warma",
                        "陈楒潼桶桶桶",
                        VideoPageUrl("BV117411r7R1"),
                        "cid:146044693",
                        "aid:85440373",
                        "1920x1080",
                        "2020-01-30"};
  EXPECT_EQ(ReadNfo(nfo).Texts("movie/genre"), labels);
  EXPECT_NE(nfo.find("  <num>BV117411r7R1</num>\r\n  <uniqueid type=\"bilibili\" default=\"true\">"
                     "BV117411r7R1</uniqueid>\r\n  <genre>A&amp;B</genre>\r\n"),
            std::string::npos);
}

TEST_F(NfoWriter, NoLabelsGiveTheDefaultElements) {
  for (const Texts& labels : {Texts{}, Texts{"", ""}}) {
    const std::string elements = GenreAndTagElements(labels);
    EXPECT_EQ(elements, "  <genre>无类别</genre>\r\n  <tag>无标签</tag>\r\n");
  }
}

TEST_F(NfoWriter, UnreadableRecordStillGivesAWellFormedFile) {
  const test::XmlLeaves xml = ReadNfo(BuildNfo("not json", FixedTags("")));
  EXPECT_EQ(xml.Texts("movie/premiered"), Texts{"1970-01-01"});
  EXPECT_EQ(xml.Texts("movie/actor/name"), Texts{""});
}

// The elements media servers read (title, plot, genre, actor/name, ...) sit
// where the servers' own files put them; the rest are Emby's extras.
TEST_F(NfoWriter, ShapeMatchesFilesMediaServersWrite) {
  std::vector<std::string> known;
  for (const char* name : {"jellyfin_written_movie_zh.nfo", "kodi_exported_movie.nfo"}) {
    const test::XmlLeaves real = test::ReadXmlLeaves(
        test::ReadWholeFile(std::string(KORVID_TEST_DATA_DIR) + "/nfo/" + name));
    ASSERT_TRUE(real.wellFormed) << name << ": " << real.error;
    known.insert(known.end(), real.allPaths.begin(), real.allPaths.end());
  }
  const std::vector<std::string> embyOnly = {"movie/customrating", "movie/countrycode",
                                             "movie/release", "movie/num"};
  const test::XmlLeaves ours = ReadNfo(BuildNfo(RecordedTask().dump(), FixedTags("x")));
  for (const std::string& path : ours.allPaths) {
    if (std::find(embyOnly.begin(), embyOnly.end(), path) != embyOnly.end()) continue;
    EXPECT_NE(std::find(known.begin(), known.end(), path), known.end()) << path;
  }
}

TEST_F(NfoWriter, PageTagsResolveTheirJsonEscapes) {
  const std::string html =
      R"(x={"tags":[{"tag_id":1,"tag_name":"AC\u002FDC","cover":""},)"
      R"({"tag_name":"say \"hi\"","cover":""},{"tag_name":"漫画","cover":"y"}]})";
  EXPECT_EQ(PageTagsFromHtml(html), "AC/DC|say \"hi\"|漫画");
  EXPECT_EQ(PageTagsFromHtml("<html>no tags</html>"), "");
}

class NfoFromFakeSite : public NfoWriter {
 protected:
  void SetUp() override {
    NfoWriter::SetUp();
    ASSERT_TRUE(m_site.Start());
    m_saved = CurrentSiteHosts();
    SiteHosts hosts = m_saved;
    hosts.web = m_site.BaseUrl();
    SetCurrentSiteHosts(hosts);
  }
  void TearDown() override {
    SetCurrentSiteHosts(m_saved);
    m_site.Stop();
    NfoWriter::TearDown();
  }

  fakesite::FakeSite m_site;
  SiteHosts m_saved;
};

TEST_F(NfoFromFakeSite, WritesOnceWithTheVideoPagesTags) {
  test::Sandbox sandbox;
  const std::string record = RecordedTask().dump();
  ASSERT_EQ(WriteNfoIfMissing(sandbox.Path(), record), SideFileResult::kWritten);

  const std::string written = sandbox.ReadFile("tvshow.nfo");
  EXPECT_TRUE(written.starts_with("<?xml")) << "no byte-order mark";
  const Texts genres = ReadNfo(written).Texts("movie/genre");
  ASSERT_GE(genres.size(), 4u);
  EXPECT_EQ(Texts(genres.begin(), genres.begin() + 4),
            (Texts{"快板", "电音", "原创音乐", "建议改成：建议改成：诸 神 的 电 音 节（不是）"}));

  const auto requests = m_site.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/video/BV117411r7R1");
  EXPECT_FALSE(requests[0].HasHeader("Cookie"));

  // A second run leaves the file alone and asks the site nothing.
  ASSERT_TRUE(sandbox.WriteFile("tvshow.nfo", "kept"));
  EXPECT_EQ(WriteNfoIfMissing(sandbox.Path(), record), SideFileResult::kExisted);
  EXPECT_EQ(sandbox.ReadFile("tvshow.nfo"), "kept");
  EXPECT_EQ(m_site.Requests().size(), 1u);
}

TEST_F(NfoFromFakeSite, MissingPageLeavesOutOnlyTheTags) {
  m_site.SetFault("/video/", fakesite::Fault::Status(500));
  Json record = RecordedTask();
  const Texts genres = ReadNfo(BuildNfo(record.dump())).Texts("movie/genre");
  ASSERT_FALSE(genres.empty());
  EXPECT_EQ(genres.front(), "建议改成：建议改成：诸 神 的 电 音 节（不是）");
}

}  // namespace
}  // namespace korvid
