// Episode NFOs, subtitles as SubRip, picture checks and the metadata refresh
// of folders written by earlier versions.

#include "library/episode_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "library/artwork.h"
#include "library/metadata_refresh.h"
#include "library/nfo_writer.h"
#include "library/subtitle_srt.h"
#include "net/json_document.h"
#include "site/licensed_work.h"
#include "support/fake_site_test.h"
#include "support/sandbox.h"
#include "xml_leaves.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using Texts = std::vector<std::string>;

std::string DataFile(const std::string& relative) {
  return test::ReadWholeFile(std::string(KORVID_TEST_DATA_DIR) + "/" + relative);
}

// Compares with tests/data/golden/<name>; with KORVID_UPDATE_GOLDEN set, writes
// the file instead (then read the diff before committing it).
void ExpectGolden(const std::string& actual, const std::string& name) {
  const fs::path path = fs::path(KORVID_TEST_DATA_DIR) / "golden" / name;
  if (std::getenv("KORVID_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  EXPECT_EQ(actual, test::ReadWholeFile(path)) << name;
}

Json RecordedTask() {
  Json record = Json::parse(DataFile("api/view_BV117411r7R1_staff2.json"));
  record["cid序号"] = "146044693";
  record["视频part"] = record["data"]["pages"][0]["part"];
  record["分集序号"] = "1";
  record["data"]["pages"][0]["first_frame"] = "https://i0.hdslb.com/bfs/storyff/frame.jpg";
  return record;
}

// A page of a three-page made-up video, as the download of its task sees it.
Json ThreePageTask(int episode) {
  Json record = RecordedTask();
  record["data"]["videos"] = 3;
  record["data"]["pages"] = Json::array();
  for (int i = 1; i <= 3; ++i) {
    record["data"]["pages"].push_back({{"cid", 500 + i},
                                       {"page", i},
                                       {"part", "第" + std::to_string(i) + "集"},
                                       {"duration", 59 + i}});
  }
  record["cid序号"] = std::to_string(500 + episode);
  record["视频part"] = "第" + std::to_string(episode) + "集";
  record["分集序号"] = std::to_string(episode);
  return record;
}

TEST(EpisodeNfo, ShowAndEpisodeFilesMatchTheGoldenFiles) {
  const Json record = RecordedTask();
  const std::string episode = BuildEpisodeNfo(ReadEpisodeInfo(record.dump()));
  const std::string show =
      BuildNfo(record.dump(), [](std::string_view) { return std::string("原创音乐|电音|快板"); });
  ExpectGolden(episode, "episode_BV117411r7R1_S1E1.nfo");
  ExpectGolden(show, "tvshow_BV117411r7R1.nfo");

  const test::XmlLeaves xml = test::ReadXmlLeaves(episode);
  ASSERT_TRUE(xml.wellFormed) << xml.error;
  const std::vector<std::pair<std::string, Texts>> fields = {
      {"episodedetails/title", {"当我给拜年祭的快板加了电音配乐…"}},
      {"episodedetails/showtitle", {"当我给拜年祭的快板加了电音配乐…"}},
      {"episodedetails/season", {"1"}},
      {"episodedetails/episode", {"1"}},
      {"episodedetails/aired", {"2020-01-30"}},
      {"episodedetails/runtime", {"9"}},
      {"episodedetails/uniqueid", {"BV117411r7R1", "146044693"}},
      {"episodedetails/thumb", {"https://i0.hdslb.com/bfs/storyff/frame.jpg"}},
  };
  for (const auto& [path, texts] : fields) EXPECT_EQ(xml.Texts(path), texts) << path;
  EXPECT_TRUE(test::ReadXmlLeaves(show).wellFormed);
  // Named as the servers' own episode files name them (uniqueid as in Kodi's).
  const test::XmlLeaves server =
      test::ReadXmlLeaves(DataFile("nfo/jellyfin_written_episode_S01E01.nfo"));
  for (const std::string& path : xml.allPaths) {
    const bool known =
        std::find(server.allPaths.begin(), server.allPaths.end(), path) != server.allPaths.end();
    EXPECT_TRUE(known || path == "episodedetails/uniqueid") << path;
  }
}

struct EpisodeCase {
  std::string name;
  Json record;
  std::string title;
  std::string episode;
  long long minutes;
  std::string cid;
};

TEST(EpisodeNfo, PageOfTheTask) {
  Json quoted = ThreePageTask(2);
  quoted["cid序号"] = "\"502\"";
  Json unknownCid = ThreePageTask(3);
  unknownCid["cid序号"] = "999";
  Json noDuration = RecordedTask();
  noDuration["data"]["pages"][0].erase("duration");
  const std::vector<EpisodeCase> cases = {
      {.name = "one page: the video title",
       .record = RecordedTask(),
       .title = "当我给拜年祭的快板加了电音配乐…",
       .episode = "1",
       .minutes = 9,
       .cid = "146044693"},
      {.name = "first of three, 60 s is one minute",
       .record = ThreePageTask(1),
       .title = "第1集",
       .episode = "1",
       .minutes = 1,
       .cid = "501"},
      {.name = "quoted values, 61 s are two minutes",
       .record = quoted,
       .title = "第2集",
       .episode = "2",
       .minutes = 2,
       .cid = "502"},
      {.name = "unknown cid: the page at the episode number",
       .record = unknownCid,
       .title = "第3集",
       .episode = "3",
       .minutes = 2,
       .cid = "999"},
      {.name = "no duration: no runtime",
       .record = noDuration,
       .title = "当我给拜年祭的快板加了电音配乐…",
       .episode = "1",
       .minutes = 0,
       .cid = "146044693"},
  };
  for (const EpisodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const EpisodeInfo info = ReadEpisodeInfo(c.record.dump());
    EXPECT_EQ(info.title, c.title);
    EXPECT_EQ(info.episode, c.episode);
    EXPECT_EQ(info.runtimeMinutes, c.minutes);
    EXPECT_EQ(info.cid, c.cid);
    const std::string nfo = BuildEpisodeNfo(info);
    EXPECT_TRUE(test::ReadXmlLeaves(nfo).wellFormed);
    EXPECT_EQ(nfo.find("<runtime>") != std::string::npos, c.minutes > 0);
  }
  // Markup in the site's texts stays text.
  Json markup = RecordedTask();
  markup["data"]["title"] = "<b>&\x01";
  const test::XmlLeaves xml = test::ReadXmlLeaves(BuildEpisodeNfo(ReadEpisodeInfo(markup.dump())));
  ASSERT_TRUE(xml.wellFormed) << xml.error;
  EXPECT_EQ(xml.Texts("episodedetails/title"), Texts{"<b>&"});
}

TEST(SubtitleSrt, CuesAsTheBodyGivesThem) {
  ExpectGolden(SubtitleBodyToSrt(DataFile("api/subtitle_body_constructed.json")),
               "subtitle_body_constructed.srt");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"not json", ""},
      {R"({"body":[]})", ""},
      {R"({"body":{"from":1}})", ""},
      {R"({"body":[{"from":1,"to":2,"content":"\n \n"},{"from":-1,"to":1e9,"content":"a\r\n\r\nb"}]})",
       "1\r\n00:00:00,000 --> 99:59:59,999\r\na\r\nb\r\n"},
  };
  for (const auto& [body, srt] : cases) EXPECT_EQ(SubtitleBodyToSrt(body), srt) << body;
}

TEST(Artwork, OnlyPicturesAreTakenForPictures) {
  struct Case {
    std::string contentType;
    std::string bytes;
    bool picture;
  };
  const std::vector<Case> cases = {
      {.contentType = "image/jpeg", .bytes = "\xFF\xD8\xFF\xE0rest", .picture = true},
      {.contentType = "Image/PNG", .bytes = "\x89PNG\r\n\x1A\nrest", .picture = true},
      {.contentType = "image/webp",
       .bytes = std::string("RIFF\x10\0\0\0WEBPVP8 ", 16),
       .picture = true},
      {.contentType = "text/html", .bytes = "\xFF\xD8\xFF\xE0", .picture = false},
      {.contentType = "image/jpeg", .bytes = "<html>404</html>", .picture = false},
      {.contentType = "image/webp",
       .bytes = std::string("RIFF\x10\0\0\0WAVE", 12),
       .picture = false},
      {.contentType = "image/webp", .bytes = "RIFF", .picture = false},
      {.contentType = "", .bytes = "\xFF\xD8\xFF", .picture = false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPictureAnswer(c.contentType, c.bytes), c.picture)
        << c.contentType << " " << c.bytes;
  }
}

class EpisodeFilesOnFakeSite : public test::FakeSiteTest {
 protected:
  // Points the recorded addresses at the fake site.
  Json SiteTask() {
    Json record = RecordedTask();
    record["data"]["pic"] = m_site.BaseUrl() + "/img/cover.jpg";
    record["data"]["pages"][0]["first_frame"] = m_site.BaseUrl() + "/img/frame.jpg";
    return record;
  }

  test::Sandbox m_sandbox;
};

TEST_F(EpisodeFilesOnFakeSite, HtmlInsteadOfAPictureIsNotKeptAndFetchedAgain) {
  m_site.SetCanned("GET", "/img/cover.jpg",
                   fakesite::CannedReply{200, {}, "<html>blocked</html>", "text/html"});
  const std::string url = m_site.BaseUrl() + "/img/cover.jpg";
  EXPECT_EQ(WriteFanArtIfMissing(m_sandbox.Path(), url), SideFileResult::kFailed);
  EXPECT_FALSE(fs::exists(m_sandbox / "fanart.jpg"));
  m_site.ClearCanned();
  EXPECT_EQ(WriteFanArtIfMissing(m_sandbox.Path(), url), SideFileResult::kWritten);
  EXPECT_EQ(m_sandbox.ReadFile("fanart.jpg"), m_site.MediaBytes(fakesite::MediaKind::Image));
}

struct SubtitleCase {
  std::string name;
  bool ai = false;
  bool signedRefused = false;  // the signed call meets the risk control
  Texts srtFiles;
};

TEST_F(EpisodeFilesOnFakeSite, WritesTheEpisodeFilesAndTheSubtitlesAsked) {
  const std::vector<SubtitleCase> cases = {
      {.name = "AI subtitles off by default", .srtFiles = {"S1E1.zh-CN.srt"}},
      {.name = "AI subtitles asked for",
       .ai = true,
       .srtFiles = {"S1E1.ai-zh.srt", "S1E1.zh-CN.srt"}},
      {.name = "signed call refused: the unsigned one",
       .signedRefused = true,
       .srtFiles = {"S1E1.zh-CN.srt"}},
  };
  for (const SubtitleCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::Sandbox sandbox;
    m_site.ClearRequests();
    m_site.ClearFaults();
    if (c.signedRefused) m_site.SetFault("/x/player/wbi/v2", fakesite::Fault::Blocked());
    EpisodeOptions options;
    options.aiSubtitles = c.ai;
    const auto written = WriteEpisodeFiles(SiteTask().dump(), sandbox / "S1E1", options);
    Texts srt;
    for (const auto& entry : fs::directory_iterator(sandbox.Path())) {
      if (entry.path().extension() == ".srt") srt.push_back(entry.path().filename().string());
    }
    std::sort(srt.begin(), srt.end());
    EXPECT_EQ(srt, c.srtFiles);
    EXPECT_EQ(written.size(), 3 + c.srtFiles.size());  // NFO, thumb, poster, subtitles
    EXPECT_EQ(sandbox.ReadFile("S1E1.zh-CN.srt"), DataFile("golden/subtitle_body_constructed.srt"));
    EXPECT_TRUE(fs::exists(sandbox / "S1E1.nfo"));
    EXPECT_TRUE(fs::exists(sandbox / "S1E1-thumb.jpg"));
    EXPECT_TRUE(fs::exists(sandbox / "poster.jpg"));
    EXPECT_EQ(RequestCount("/x/player/v2"), c.signedRefused ? 1 : 0);
    // A second run finds everything there and writes nothing.
    EXPECT_TRUE(WriteEpisodeFiles(SiteTask().dump(), sandbox / "S1E1", options).empty());
  }
  m_site.ClearFaults();

  // A video without subtitles (no subtitle member): no file, no failure.
  Json plain = SiteTask();
  plain["data"]["aid"] = 900000001;
  const auto written = WriteEpisodeFiles(plain.dump(), m_sandbox / "S1E1", EpisodeOptions{});
  EXPECT_EQ(written.size(), 3u);
  for (const auto& entry : fs::directory_iterator(m_sandbox.Path())) {
    EXPECT_NE(entry.path().extension(), ".srt") << entry.path();
  }
}

TEST(PlayerSubtitles, TracksOfAnAnswer) {
  const auto tracks = ParseSubtitleTracks(DataFile("api/player_v2_subtitles_constructed.json"));
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_EQ(tracks[0].lan, "zh-CN");
  EXPECT_FALSE(tracks[0].ai);
  EXPECT_TRUE(tracks[0].url.starts_with("https://aisubtitle.hdslb.com/bfs/subtitle/"));
  EXPECT_TRUE(tracks[1].ai);
  EXPECT_EQ(ParseSubtitleTracks(
                DataFile("api/player_v2_BV1Jt411P77c_logged_in_subtitles_documented.json"))
                .size(),
            2u);
  for (
      const std::string& body :
      {DataFile("api/player_wbi_v2_BV1MU411S7iJ_not_logged_in_documented.json"),
       std::string(R"({"code":0,"data":{"subtitle":{"subtitles":[]}}})"),
       std::string(
           R"({"code":-352,"data":{"subtitle":{"subtitles":[{"lan":"x","subtitle_url":"//a"}]}}})"),
       std::string(
           R"({"code":0,"data":{"subtitle":{"subtitles":[{"lan":"../x","subtitle_url":"//a"}]}}})"),
       std::string("")}) {
    EXPECT_TRUE(ParseSubtitleTracks(body).empty()) << body;
  }
}

// A licensed work's season folder: tvshow.nfo from the season and one
// episode NFO per episode (extras in season 0), from the season answer
// written from the documented field table.
TEST(LicensedWorkNfo, SeasonAndEpisodesMatchTheirGoldenFiles) {
  JsonDocument season;
  ASSERT_TRUE(season.Parse(DataFile("fakesite/pgc_view_web_season_ss42290_constructed.json")));
  struct Case {
    std::string name;
    std::string epId;
    std::string golden;
    std::string title;
    std::string season;
  };
  const Case cases[] = {
      {.name = "main episode with show_title",
       .epId = "606591",
       .golden = "episode_ep606591_S1E1.nfo",
       .title = "第1话 瞒天过海！罪犯新选组",
       .season = "1"},
      {.name = "main episode without show_title",
       .epId = "606592",
       .golden = "episode_ep606592_S1E2.nfo",
       .title = "第2话 光芒四射！遗物日本刀",
       .season = "1"},
      {.name = "extra",
       .epId = "576387",
       .golden = "episode_ep576387_S0E1.nfo",
       .title = "PV",
       .season = "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto episode = FindEpisode(season, c.epId);
    ASSERT_TRUE(episode.has_value());
    JsonDocument record = EpisodeRecord(season, *episode);
    ASSERT_TRUE(record.SetValue("分集序号", std::to_string(episode->number)));
    ASSERT_TRUE(record.SetValue("视频part", record.GetValue("data.pages[0].part")));
    const std::string nfo = BuildEpisodeNfo(ReadEpisodeInfo(record.ToText()));
    ExpectGolden(nfo, c.golden);
    const test::XmlLeaves leaves = test::ReadXmlLeaves(nfo);
    ASSERT_TRUE(leaves.wellFormed) << leaves.error;
    EXPECT_EQ(leaves.Texts("episodedetails/title"), Texts{c.title});
    EXPECT_EQ(leaves.Texts("episodedetails/season"), Texts{c.season});
    EXPECT_EQ(leaves.Texts("episodedetails/uniqueid").front(), c.epId);

    const std::string show = BuildNfo(record.ToText(), nullptr);
    ExpectGolden(show, "tvshow_ss42290.nfo");
    const test::XmlLeaves showLeaves = test::ReadXmlLeaves(show);
    ASSERT_TRUE(showLeaves.wellFormed) << showLeaves.error;
    EXPECT_EQ(showLeaves.Texts("tvshow/genre"), (Texts{"日本", "漫画改", "搞笑", "推理"}));
    EXPECT_EQ(showLeaves.Texts("tvshow/uniqueid"), Texts{"42290"});
    EXPECT_EQ(showLeaves.Texts("tvshow/premiered"), Texts{"2022-10-16"});
  }
}

}  // namespace
}  // namespace korvid
