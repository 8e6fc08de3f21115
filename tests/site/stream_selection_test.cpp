// Which stream a task downloads, and the stream list of the details panel,
// against the fake site's recorded playurl answers.

#include "site/stream_selection.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "site/add_video.h"
#include "site/quality_table.h"
#include "site/site_headers.h"
#include "site/site_transport.h"
#include "site/streams_test_support.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

using test::FakeSiteTest;
using test::kSomeCookie;

TEST(QualityLabelTest, ComparesTheIdAsExactText) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"6", "清晰 240P"},      {"64", "高清 720P"}, {"74", "高清 720P60"}, {"80", "高清 1080P"},
      {"116", "高清 1080P60"}, {"125", "超清 HDR"}, {"080", "无法识别"},   {" 80", "无法识别"},
      {"80.0", "无法识别"},    {"", "无法识别"},    {"126", "杜比视界"},   {"127", "超高清 8K"},
      {"128", "无法识别"},
  };
  for (const auto& [id, label] : cases) EXPECT_EQ(QualityLabel(id), label) << id;
}

TEST(QualityLabelTest, ItemValueNamesCodecAndQuality) {
  EXPECT_EQ(StreamValue("80", "avc1.640032"), 80);
  EXPECT_EQ(StreamValue("80", "hev1.1.6.L120.90"), 1080);
  EXPECT_EQ(StreamValue("80", "av01.0.08M.08"), 2080);
  EXPECT_EQ(StreamValue("80", "vp09.00.40.08"), 1080);  // other codecs list as H.265
  EXPECT_EQ(StreamValue("x", "avc1"), std::nullopt);
  EXPECT_EQ(WantedStreamOf(1080).prefix, "hev");
  EXPECT_EQ(WantedStreamOf(1080).qualityId, 80);
  EXPECT_EQ(WantedStreamOf(1000).prefix, "avc");  // not above 1000
  EXPECT_EQ(WantedStreamOf(1001).qualityId, 1);
  EXPECT_EQ(WantedStreamOf(2080).prefix, "av01");
  EXPECT_EQ(WantedStreamOf(2080).qualityId, 80);
  EXPECT_EQ(WantedStreamOf(2000).prefix, "hev");  // not above 2000
}

class StreamSelectionTest : public FakeSiteTest {
 protected:
  // A task record as AddVideo writes it (only the keys selection reads).
  static std::string Record(const std::string& bvid, const std::string& aid, const std::string& cid,
                            bool split, bool audio, bool customSource) {
    std::string record = R"({"data":{"bvid":")" + bvid + R"(","aid":)" + aid + R"(},"cid序号":")" +
                         cid + R"(","视频part":"p","任务id":"1","分集序号":"1",)" +
                         R"("音视分离":")" + (split ? "真" : "假") + R"(","音视状态":")" +
                         (audio ? "音频" : "视频") + "\"";
    if (customSource) record += R"(,"自定义源":"自定义源")";
    return record + "}";
  }
};

// BV1Ks411D7aa answers the older DASH recording (hev1 listed before avc1 at
// each quality); BV1Av411D7gg the current one (avc1, hev1, av01; "OK").
constexpr const char* kOldCid = "35306865841";
constexpr const char* kAv1Cid = "35306865891";

TEST_F(StreamSelectionTest, ChoosesByPathCodecAndCustomSource) {
  struct Case {
    const char* name;
    bool av1Video;
    bool split, audio, custom;
    const char* cookies;
    int codecIndex;
    std::int64_t sourceValue;
    const char* urlPart;  // the chosen address contains this
    const char* suffix;
  };
  const std::vector<Case> cases = {
      {"whole video", false, false, false, false, kSomeCookie, 0, 0, "/media/progressive/", ""},
      {"split, no cookie", false, true, false, false, "", 0, 0, "/media/progressive/", ""},
      {"avc asked, hevc listed first", false, true, false, false, kSomeCookie, 0, 0,
       "-80-avc1.640032.m4s", ".视频"},
      {"hevc", false, true, false, false, kSomeCookie, 1, 0, "-80-hev1.1.6.L150.90.m4s", ".视频"},
      {"AV1 asked, none listed: HEVC", false, true, false, false, kSomeCookie, 2, 0,
       "-80-hev1.1.6.L150.90.m4s", ".视频"},
      {"AV1", true, true, false, false, kSomeCookie, 2, 0,
       "-112-av01.0.00M.10.0.110.01.01.01.0.m4s", ".视频"},
      {"custom AV1", true, true, false, true, kSomeCookie, 0, 2064,
       "-64-av01.0.00M.10.0.110.01.01.01.0.m4s", ".视频"},
      {"audio: highest bandwidth", false, true, true, false, kSomeCookie, 0, 0, "-1-30280.m4s",
       ".音频"},
      {"message OK accepted", true, true, false, false, kSomeCookie, 0, 0, "-112-avc1.640033.m4s",
       ".视频"},
      {"custom avc", true, true, false, true, kSomeCookie, 0, 80, "-80-avc1.640033.m4s", ".视频"},
      {"custom hevc", true, true, false, true, kSomeCookie, 0, 1064, "-64-hev1.1.6.L120.90.m4s",
       ".视频"},
      {"custom: no such stream, first one", true, true, false, true, kSomeCookie, 1, 1116,
       "-112-avc1.640033.m4s", ".视频"},
      {"custom audio", true, true, true, true, kSomeCookie, 0, 1080, "-1-30280.m4s", ".音频"},
  };
  for (const Case& c : cases) {
    const std::string record =
        c.av1Video ? Record("BV1Av411D7gg", "900000007", kAv1Cid, c.split, c.audio, c.custom)
                   : Record("BV1Ks411D7aa", "900000001", kOldCid, c.split, c.audio, c.custom);
    const StreamChoice choice =
        SelectStream(record, StreamSettings{c.cookies, c.codecIndex, c.sourceValue});
    EXPECT_FALSE(choice.Refused()) << c.name << ": " << choice.refusal.value_or("");
    EXPECT_NE(choice.url.find(c.urlPart), std::string::npos) << c.name << ": " << choice.url;
    EXPECT_EQ(choice.url.rfind(m_site.BaseUrl(), 0), 0U) << c.name;
    EXPECT_EQ(choice.suffix, c.suffix) << c.name;
    // The fake site lists one backup address per stream, under /media/backup/.
    std::string backup = choice.url;
    backup.replace(backup.find("/media/"), 7, "/media/backup/");
    EXPECT_EQ(choice.backups, std::vector<std::string>{backup}) << c.name;
  }
}

TEST_F(StreamSelectionTest, RequestsCarryTheCookieOnlyOnTheDashForm) {
  (void)SelectStream(Record("BV1Ks411D7aa", "900000001", kOldCid, true, false, false),
                     StreamSettings{kSomeCookie, 0, 0});
  (void)SelectStream(Record("BV1Ks411D7aa", "900000001", kOldCid, false, false, false),
                     StreamSettings{kSomeCookie, 0, 0});
  std::vector<fakesite::RecordedRequest> requests;
  for (const auto& request : m_site.Requests()) {
    if (request.path.starts_with("/x/player/")) requests.push_back(request);
  }
  ASSERT_EQ(requests.size(), 2U);
  // The DASH form as the site's player asks: signed, with the fingerprint.
  EXPECT_EQ(requests[0].path, "/x/player/wbi/playurl");
  for (const std::string& pair :
       {"&bvid=BV1Ks411D7aa&cid=" + std::string(kOldCid) + "&dm_cover_img_str=",
        std::string("&fnval=4048&fnver=0&fourk=1&otype=json&qn=80&wts="), std::string("&w_rid=")}) {
    EXPECT_NE(requests[0].query.find(pair), std::string::npos) << requests[0].query;
  }
  // The visitor cookies, when this installation has them, ride beside it.
  EXPECT_EQ(requests[0].Header("Cookie"),
            SiteCookieText(kSomeCookie, VisitorCookieStore::Shared().Known()));
  EXPECT_EQ(requests[0].Header("User-Agent"), kBrowserUserAgent);
  EXPECT_EQ(requests[0].Header("Referer"), m_site.BaseUrl() + "/");
  EXPECT_EQ(requests[1].query, std::string("avid=900000001&cid=") + kOldCid +
                                   "&qn=1&type=&otype=json&platform=html5&high_quality=1");
  EXPECT_FALSE(requests[1].HasHeader("Cookie"));
}

TEST_F(StreamSelectionTest, RefusalsNameTheSiteMessage) {
  const std::string whole = Record("BV1Ks411D7aa", "900000001", kOldCid, false, false, false);
  const std::string split = Record("BV1Ks411D7aa", "900000001", kOldCid, true, false, false);
  const StreamSettings logged{kSomeCookie, 0, 0};

  // "/x/player/" covers the signed DASH call, its fallback and the
  // progressive call.
  m_site.SetFault("/x/player/", fakesite::Fault::Blocked());
  EXPECT_EQ(SelectStream(whole, logged).refusal, "请求被拦截");
  EXPECT_EQ(SelectStream(split, logged).refusal, "请求被拦截");
  m_site.SetFault("/x/player/", fakesite::Fault::ApiCode(-404));
  EXPECT_EQ(SelectStream(whole, logged).refusal, "fault -404");
  m_site.SetFault("/x/player/", fakesite::Fault::Status(502, "<html>bad gateway</html>"));
  EXPECT_EQ(SelectStream(whole, logged).refusal, std::string(kNoPlayUrlAnswer));
  // Accepted, but without the entries asked for.
  fakesite::CannedReply empty;
  empty.body = R"({"code":0,"message":"0","data":{}})";
  m_site.ClearFaults();
  m_site.SetCanned("GET", "/x/player/wbi/playurl", empty);
  EXPECT_EQ(SelectStream(split, logged).refusal, std::string(kNoStreamAddress));
}

TEST_F(StreamSelectionTest, ReadsTheSettingsWhenCalled) {
  ControlStore controls;
  CreateMainWindowControls(controls);
  controls.SetText(kCookiesBox, kSomeCookie);
  controls.AddItem(kSourceDrop, DropItem{"高清 720P H.265", 1064});
  controls.SelectIndex(kSourceDrop, 0);
  const std::string record = Record("BV1Av411D7gg", "900000007", kAv1Cid, true, false, true);
  EXPECT_NE(SelectStream(record, controls).url.find("-64-hev1"), std::string::npos);
  controls.SetText(kCookiesBox, "");
  EXPECT_NE(SelectStream(record, controls).url.find("/media/progressive/"), std::string::npos);
}

TEST_F(StreamSelectionTest, RecordsQueuedByAddVideoSelectTheirOwnPageAndHalf) {
  test::Sandbox sandbox;
  ControlStore controls;
  CreateMainWindowControls(controls);
  AppState app(controls, AppPaths{sandbox.Path()});
  NetTransport transport;
  SiteJob job{app, transport};
  ASSERT_FALSE(AddVideo(job, "BV1Av411D7gg", AddVideoFlags{true, true}));
  const std::vector<std::pair<const char*, const char*>> expected = {
      {"35306865891-1-64-hev1", ".视频"},
      {"35306865891-1-30280", ".音频"},
      {"35306865892-1-64-hev1", ".视频"},
      {"35306865892-1-30280", ".音频"}};
  for (const auto& [urlPart, suffix] : expected) {
    std::string record;
    ASSERT_TRUE(app.TaskQueue().PopText(record));
    const StreamChoice choice = SelectStream(record, StreamSettings{kSomeCookie, 0, 1064});
    EXPECT_NE(choice.url.find(urlPart), std::string::npos) << choice.url;
    EXPECT_EQ(choice.suffix, suffix);
  }
}

TEST_F(StreamSelectionTest, StreamListOfCurrentAnswerLabelsEveryCodec) {
  const PlayUrlAnswer answer =
      RequestDashPlayUrl(kAv1Cid, "BV1Av411D7gg", "900000007", kSomeCookie);
  ASSERT_TRUE(answer.Accepted());
  // The recording's order; 16 is listed hev1 first there, and its label
  // comes from the table ("清晰 360P", the site says "流畅 360P").
  const std::vector<std::pair<std::string, std::int64_t>> expected = {
      {"高清 1080P+ H.264", 112}, {"高清 1080P+ H.265", 1112}, {"高清 1080P+ AV1", 2112},
      {"高清 1080P H.264", 80},   {"高清 1080P H.265", 1080},  {"高清 1080P AV1", 2080},
      {"高清 720P H.264", 64},    {"高清 720P H.265", 1064},   {"高清 720P AV1", 2064},
      {"清晰 480P H.264", 32},    {"清晰 480P H.265", 1032},   {"清晰 480P AV1", 2032},
      {"清晰 360P H.265", 1016},  {"清晰 360P H.264", 16},     {"清晰 360P AV1", 2016},
  };
  const std::vector<DropItem> items = StreamListItems(answer.json);
  ASSERT_EQ(items.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(items[i].text, expected[i].first) << i;
    EXPECT_EQ(items[i].value, expected[i].second) << i;
  }
}

TEST(DashPickTest, Av1EntryAsksForAv1AndFallsBackToTheFirstStreams) {
  JsonDocument answer;
  ASSERT_TRUE(answer.Parse(R"({"code":0,"data":{"dash":{
      "video":[{"id":64,"codecs":"avc1.640028","baseUrl":"v64avc"},
               {"id":80,"codecs":"av01.0.08M.08","baseUrl":"v80av1"},
               {"id":80,"codecs":"avc1.640032","baseUrl":"v80avc"}],
      "audio":[{"id":30216,"bandwidth":30000,"baseUrl":"a64k"},
               {"id":30280,"bandwidth":150000,"baseUrl":"a320k"}]}}})"));
  const std::vector<DropItem> items = StreamListItems(answer);
  ASSERT_EQ(items.size(), 3U);
  EXPECT_EQ(items[1].text, "高清 1080P AV1");
  EXPECT_EQ(items[1].value, 2080);
  EXPECT_EQ(PickBySourceValue(answer, items[1].value).video, "v80av1");
  // No "hev" entry of id 80: the first video and the best audio.
  const DashPick pick = PickBySourceValue(answer, 1080);
  EXPECT_EQ(pick.video, "v64avc");
  EXPECT_EQ(pick.audio, "a320k");
  EXPECT_EQ(PickBySourceValue(answer, 80).video, "v80avc");
  // Codec index: AVC is the first avc entry; no HEVC at all gives entry 1.
  EXPECT_EQ(PickByCodecIndex(answer, 0).video, "v64avc");
  EXPECT_EQ(PickByCodecIndex(answer, 1).video, "v80av1");
  EXPECT_EQ(PickByCodecIndex(answer, kAv1CodecIndex).video, "v80av1");
}

TEST(DashPickTest, HevcIsChosenByFamilyAndSdrBeforeHdrOfTheSameHeight) {
  JsonDocument answer;
  ASSERT_TRUE(answer.Parse(R"({"code":0,"data":{"dash":{
      "video":[{"id":126,"codecs":"dvh1.08.07","height":2160,"baseUrl":"v126dvh1"},
               {"id":125,"codecs":"hev1.2.4.L153.90","height":2160,"baseUrl":"v125hev1"},
               {"id":120,"codecs":"hvc1.1.6.L153.90","height":2160,"baseUrl":"v120hvc1"},
               {"id":120,"codecs":"avc1.640034","height":2160,"baseUrl":"v120avc"},
               {"id":80,"codecs":"dvhe.05.06","height":1080,"baseUrl":"v80dvhe"},
               {"id":80,"codecs":"avc1.640032","height":1080,"baseUrl":"v80avc"}],
      "audio":[{"id":30280,"bandwidth":150000,"baseUrl":"a320k"}]}}})"));
  JsonDocument hdrOnly;
  ASSERT_TRUE(hdrOnly.Parse(R"({"code":0,"data":{"dash":{
      "video":[{"id":125,"codecs":"hev1.2.4.L153.90","height":2160,"baseUrl":"v125hev1"},
               {"id":80,"codecs":"hev1.1.6.L120.90","height":1080,"baseUrl":"v80hev1"}],
      "audio":[{"id":30280,"bandwidth":150000,"baseUrl":"a320k"}]}}})"));
  struct Case {
    const char* name;
    const JsonDocument* answer;
    std::optional<std::int64_t> sourceValue;  // none: by codec index
    int codecIndex;
    const char* video;
  };
  const Case cases[] = {
      {.name = "hvc1 entry of a chosen 4K H.265",
       .answer = &answer,
       .sourceValue = 1120,
       .codecIndex = 0,
       .video = "v120hvc1"},
      {.name = "Dolby Vision dvh1 chosen",
       .answer = &answer,
       .sourceValue = 1126,
       .codecIndex = 0,
       .video = "v126dvh1"},
      {.name = "HDR chosen from the list",
       .answer = &answer,
       .sourceValue = 1125,
       .codecIndex = 0,
       .video = "v125hev1"},
      {.name = "dvhe entry of 1080P H.265",
       .answer = &answer,
       .sourceValue = 1080,
       .codecIndex = 0,
       .video = "v80dvhe"},
      {.name = "codec H.265: SDR of the best height",
       .answer = &answer,
       .sourceValue = std::nullopt,
       .codecIndex = 1,
       .video = "v120hvc1"},
      {.name = "codec H.264",
       .answer = &answer,
       .sourceValue = std::nullopt,
       .codecIndex = 0,
       .video = "v120avc"},
      {.name = "no SDR twin: HDR stays",
       .answer = &hdrOnly,
       .sourceValue = std::nullopt,
       .codecIndex = 1,
       .video = "v125hev1"},
  };
  for (const Case& c : cases) {
    const DashPick pick = c.sourceValue ? PickBySourceValue(*c.answer, *c.sourceValue)
                                        : PickByCodecIndex(*c.answer, c.codecIndex);
    EXPECT_EQ(pick.video, c.video) << c.name;
    EXPECT_EQ(pick.audio, "a320k") << c.name;
  }
  EXPECT_EQ(StreamListItems(answer)[0].text, "杜比视界 H.265");
  EXPECT_EQ(StreamListItems(answer)[4].value, 1080);
}

}  // namespace
}  // namespace korvid
