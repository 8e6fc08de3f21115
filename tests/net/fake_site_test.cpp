// Sanity checks of the loopback fake site that the network tests rely on.
// They talk to it with httplib's client or a raw socket, never with Korvid's
// own HTTP client.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/fakesite/fake_site.h"
#include "support/fakesite/media_cache.h"
#include "support/sandbox.h"

extern char** environ;

namespace korvid::fakesite {
namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr const char* kStateMarker = "window.__INITIAL_STATE__=";
constexpr const char* kStateEnd = ";(function(){";

std::string InflateRaw(const std::string& bytes) {
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) {
    return {};
  }
  std::string out;
  std::vector<char> chunk(16384);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  int rc = Z_OK;
  while (rc == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
    stream.avail_out = static_cast<uInt>(chunk.size());
    rc = inflate(&stream, Z_NO_FLUSH);
    out.append(chunk.data(), chunk.size() - stream.avail_out);
  }
  inflateEnd(&stream);
  return rc == Z_STREAM_END ? out : std::string();
}

// Sends raw bytes and reads until the server closes the connection.
std::string RawExchange(int port, const std::string& request) {
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (::connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
      ::send(sock, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    std::vector<char> buffer(65536);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    pollfd pfd{sock, POLLIN, 0};
    while (Clock::now() < deadline && ::poll(&pfd, 1, 1000) >= 0) {
      const ssize_t n = ::recv(sock, buffer.data(), buffer.size(), 0);
      if (n <= 0) {
        break;
      }
      answer.append(buffer.data(), static_cast<size_t>(n));
    }
  }
  ::close(sock);
  return answer;
}

std::string BodyOf(const std::string& rawAnswer) {
  const auto end = rawAnswer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : rawAnswer.substr(end + 4);
}

// The compact state object of a video page, or null when the page has none.
Json StateOfPage(const std::string& html) {
  const auto start = html.find(kStateMarker);
  if (start == std::string::npos) {
    return nullptr;
  }
  const auto lineEnd = html.find('\n', start);
  const std::string line = html.substr(start, lineEnd - start);
  const auto end = line.rfind(kStateEnd);
  return Json::parse(line.substr(std::strlen(kStateMarker), end - std::strlen(kStateMarker)));
}

class FakeSiteServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_site.Start()); }

  [[nodiscard]] httplib::Client NewClient() const {
    httplib::Client client("127.0.0.1", m_site.Port());
    client.set_read_timeout(10, 0);
    client.set_decompress(false);
    return client;
  }

  Json GetJson(const std::string& target, const httplib::Headers& headers = {}) {
    auto client = NewClient();
    auto res = client.Get(target.c_str(), headers);
    if (!res) {
      ADD_FAILURE() << "no answer for " << target;
      return nullptr;
    }
    m_lastStatus = res->status;
    return Json::parse(res->body, nullptr, false);
  }

  FakeSite m_site;
  int m_lastStatus = 0;
};

TEST_F(FakeSiteServerTest, StartsOnEphemeralPortAndStopsTwice) {
  EXPECT_GT(m_site.Port(), 0);
  EXPECT_EQ(m_site.BaseUrl(), "http://127.0.0.1:" + std::to_string(m_site.Port()));
  FakeSite other;
  ASSERT_TRUE(other.Start());
  EXPECT_NE(other.Port(), m_site.Port());
  other.Stop();
  other.Stop();
  FakeSite sameAddress;
  EXPECT_FALSE(sameAddress.Start(m_site.Port()));
}

TEST_F(FakeSiteServerTest, LogKeepsHeadersInArrivalOrderWithNamesAsSent) {
  const std::string answer =
      RawExchange(m_site.Port(),
                  "POST /qrcode/getLoginInfo?x=%E4%B8%AD HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                  "zeta: 1\r\nUser-Agent: raw\r\nalpha:2\r\nCONTENT-length: 11\r\n"
                  "Connection: close\r\n\r\noauthKey=no");
  ASSERT_NE(answer.find("HTTP/1.1 200"), std::string::npos);
  const auto requests = m_site.Requests();
  ASSERT_EQ(requests.size(), 1U);
  const RecordedRequest& got = requests[0];
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.path, "/qrcode/getLoginInfo");
  EXPECT_EQ(got.query, "x=%E4%B8%AD");
  EXPECT_EQ(got.body, "oauthKey=no");
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Host", "127.0.0.1"},    {"zeta", "1"},          {"User-Agent", "raw"}, {"alpha", "2"},
      {"CONTENT-length", "11"}, {"Connection", "close"}};
  EXPECT_EQ(got.headers, expected);
  EXPECT_EQ(got.Header("content-LENGTH"), "11");
  EXPECT_FALSE(got.HasHeader("Cookie"));
  m_site.ClearRequests();
  EXPECT_TRUE(m_site.Requests().empty());
}

TEST_F(FakeSiteServerTest, LogSeparatesRequestsOnOneKeptAliveConnection) {
  auto client = NewClient();
  client.set_keep_alive(true);
  ASSERT_TRUE(client.Post("/emby/Persons", "first body", "text/plain"));
  ASSERT_TRUE(client.Get("/x/space/myinfo", {{"Cookie", "SESSDATA=x"}}));
  const auto requests = m_site.Requests();
  ASSERT_EQ(requests.size(), 2U);
  EXPECT_EQ(requests[0].body, "first body");
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[1].Header("Cookie"), "SESSDATA=x");
  EXPECT_FALSE(requests[1].HasHeader("Content-Length"));
}

TEST_F(FakeSiteServerTest, CannedReplyOverridesRouteForExactMethodAndPath) {
  CannedReply canned;
  canned.status = 203;
  canned.body = R"({"code":0,"data":{"coins":12.5}})";
  canned.headers = {{"X-Test", "yes"}};
  m_site.SetCanned("GET", "/x/space/myinfo", canned);
  auto client = NewClient();
  auto res = client.Get("/x/space/myinfo");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 203);
  EXPECT_EQ(res->body, canned.body);
  EXPECT_EQ(res->get_header_value("X-Test"), "yes");
  EXPECT_EQ(res->get_header_value("Content-Type"), "application/json; charset=utf-8");
  auto head = client.Head("/x/space/myinfo");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(canned.body.size()));
  auto sub = client.Get("/x/space/myinfo/more");
  ASSERT_TRUE(sub);
  EXPECT_EQ(sub->status, 404);
  m_site.ClearCanned();
  EXPECT_EQ(GetJson("/x/space/myinfo")["code"], -101);
}

TEST_F(FakeSiteServerTest, VideoPagesEmbedOneCompactStateLineLikeTheSite) {
  auto client = NewClient();
  auto res = client.Get("/video/BV1ZF411g7EZ");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  const std::string& html = res->body;
  const auto start = html.find(kStateMarker);
  ASSERT_NE(start, std::string::npos);
  EXPECT_EQ(html.find(kStateMarker, start + 1), std::string::npos);
  const std::string line = html.substr(start, html.find('\n', start) - start);
  EXPECT_NE(line.find(";(function(){"), std::string::npos);
  EXPECT_EQ(line.substr(line.size() - 14), "}());</script>");
  EXPECT_EQ(line.find('/'), line.find("</script>") + 1) << "every other '/' is \\u002F";
  EXPECT_NE(line.find("\\u002F"), std::string::npos);
  EXPECT_NE(line.find(R"("tag_name":"原神","cover")"), std::string::npos);
  const Json state = StateOfPage(html);
  EXPECT_EQ(state["videoData"]["bvid"], "BV1ZF411g7EZ");
  EXPECT_EQ(state["videoData"]["pages"].size(), 4U);
  const std::string pic = state["videoData"]["pic"];
  EXPECT_EQ(pic.rfind(m_site.BaseUrl() + "/img/", 0), 0U) << pic;
  const std::regex siteImage(R"(https?://[^"/]*(hdslb|biliimg)\.com)");
  EXPECT_FALSE(std::regex_search(StateOfPage(html).dump(), siteImage))
      << "tests never leave the machine";
  auto image = client.Get(pic.substr(m_site.BaseUrl().size()).c_str());
  ASSERT_TRUE(image);
  EXPECT_EQ(image->get_header_value("Content-Type"), "image/jpeg");
}

TEST_F(FakeSiteServerTest, VideoPageVariantsServeWhatTheCatalogueSays) {
  auto client = NewClient();
  auto tenPages = client.Get("/video/BV17x411w7KC");
  ASSERT_TRUE(tenPages);
  EXPECT_EQ(StateOfPage(tenPages->body)["videoData"]["pages"].size(), 10U);
  EXPECT_NE(tenPages->body.find(R"("tag_name":")"), std::string::npos);
  auto staff = client.Get("/video/BV117411r7R1");
  ASSERT_TRUE(staff);
  EXPECT_EQ(StateOfPage(staff->body)["videoData"]["staff"].size(), 2U);
  auto noState = client.Get("/video/BV1Ns411F7cc");
  ASSERT_TRUE(noState);
  EXPECT_EQ(noState->status, 200);
  EXPECT_EQ(noState->body.find(kStateMarker), std::string::npos);
  auto other = client.Get("/video/BV1Ob411V7dd");
  ASSERT_TRUE(other);
  EXPECT_EQ(StateOfPage(other->body)["videoData"]["bvid"], "BV1Ks411D7aa");
  auto blocked = client.Get("/video/BV1Bk411L7ee");
  ASSERT_TRUE(blocked);
  EXPECT_FALSE(StateOfPage(blocked->body)["videoData"].contains("bvid"));
  auto missing = client.Get("/video/BV1Nf411N7ff");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  // The site takes a lower-case prefix; its state still says "BV".
  auto lowerCase = client.Get("/video/bv1Mp411T7bb");
  ASSERT_TRUE(lowerCase);
  EXPECT_EQ(StateOfPage(lowerCase->body)["videoData"]["bvid"], "BV1Mp411T7bb");
  auto unknown = client.Get("/video/BV1xx411c7XX");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 404);
}

TEST_F(FakeSiteServerTest, ViewApiAnswersEveryCatalogueVideoAsListed) {
  std::ifstream in(m_site.CataloguePath());
  const Json catalogue = Json::parse(in);
  for (const auto& video : catalogue["videos"]) {
    const std::string bvid = video["bvid"];
    const Json answer = GetJson("/x/web-interface/view?bvid=" + bvid);
    const std::string view = video["view"];
    if (view == "ok") {
      EXPECT_EQ(m_lastStatus, 200) << bvid;
      EXPECT_EQ(answer["code"], 0) << bvid;
      EXPECT_EQ(answer["data"]["bvid"], bvid);
      EXPECT_EQ(answer["data"]["videos"], answer["data"]["pages"].size()) << bvid;
      const Json byAid = GetJson("/x/web-interface/view?aid=" + answer["data"]["aid"].dump());
      EXPECT_EQ(byAid["data"]["bvid"], bvid);
    } else if (view == "blocked") {
      EXPECT_EQ(m_lastStatus, 412);
      EXPECT_EQ(answer["message"], "请求被拦截");
    } else {
      EXPECT_EQ(answer["code"], -404) << bvid;
    }
  }
  const Json staff = GetJson("/x/web-interface/view?bvid=BV117411r7R1");
  EXPECT_EQ(staff["data"]["staff"].size(), 2U);
  const Json threePages = GetJson("/x/web-interface/view?bvid=BV1Mp411T7bb");
  ASSERT_EQ(threePages["data"]["pages"].size(), 3U);
  EXPECT_EQ(threePages["data"]["pages"][1]["part"], "第二集/中段");
  EXPECT_FALSE(threePages["data"].contains("staff"));
  EXPECT_EQ(GetJson("/x/web-interface/view?bvid=BV1sa0000061")["data"]["pages"].size(), 1U);
  EXPECT_EQ(GetJson("/x/web-interface/view?bvid=bv1Mp411T7bb")["data"]["bvid"], "BV1Mp411T7bb");
  EXPECT_EQ(GetJson("/x/web-interface/view?bvid=BV1sa0000062")["code"], -404);
}

TEST_F(FakeSiteServerTest, PlayUrlIsDashWithCookiesAndProgressiveWithout) {
  auto client = NewClient();
  const std::string cid = "35306865841";
  const Json dash =
      GetJson("/x/player/playurl?cid=" + cid +
                  "&qn=80&otype=json&fourk=1&fnver=0&fnval=16&bvid=BV1Ks411D7aa&avid=900000001",
              {{"Cookie", m_site.LoginCookie()}});
  ASSERT_EQ(dash["code"], 0);
  ASSERT_GE(dash["data"]["dash"]["video"].size(), 2U);
  for (const auto& entry : dash["data"]["dash"]["video"]) {
    EXPECT_EQ(entry["baseUrl"], entry["base_url"]);
    EXPECT_EQ(
        entry["baseUrl"].get<std::string>().rfind(m_site.BaseUrl() + "/media/video/" + cid, 0), 0U);
  }
  const std::string audioUrl = dash["data"]["dash"]["audio"][0]["baseUrl"];
  auto audio = client.Get(audioUrl.substr(m_site.BaseUrl().size()).c_str());
  ASSERT_TRUE(audio);
  EXPECT_EQ(audio->body, m_site.MediaBytes(MediaKind::AudioOnly));

  auto raw = client.Get(("/x/player/playurl?avid=900000001&cid=" + cid +
                         "&qn=1&type=&otype=json&platform=html5&high_quality=1")
                            .c_str());
  ASSERT_TRUE(raw);
  EXPECT_NE(raw->body.find("\\u0026"), std::string::npos) << "the API escapes & in URLs";
  const Json durl = Json::parse(raw->body);
  EXPECT_EQ(durl["message"], "0");
  EXPECT_FALSE(durl["data"].contains("dash"));
  const std::string url = durl["data"]["durl"][0]["url"];
  EXPECT_EQ(durl["data"]["durl"][0]["size"], m_site.MediaBytes(MediaKind::Progressive).size());
  auto progressive = client.Get(url.substr(m_site.BaseUrl().size()).c_str());
  ASSERT_TRUE(progressive);
  EXPECT_EQ(progressive->body, m_site.MediaBytes(MediaKind::Progressive));

  const Json noCookie = GetJson("/x/player/playurl?cid=" + cid + "&fnval=16");
  EXPECT_TRUE(noCookie["data"].contains("durl"));
  EXPECT_EQ(GetJson("/x/player/playurl?cid=12345&fnval=16")["code"], -404);
}

TEST_F(FakeSiteServerTest, SpaceListsPageByThirtyWithTheTotalCount) {
  std::vector<std::string> seen;
  for (int pn = 1; pn <= 3; ++pn) {
    const Json answer =
        GetJson("/x/space/arc/search?mid=20061&ps=30&tid=0&pn=" + std::to_string(pn) +
                "&keyword=&order=pubdate&jsonp=jsonp");
    ASSERT_EQ(answer["code"], 0);
    EXPECT_EQ(answer["data"]["page"]["count"], 61);
    const auto& vlist = answer["data"]["list"]["vlist"];
    EXPECT_EQ(vlist.size(), pn < 3 ? 30U : 1U);
    for (const auto& entry : vlist) {
      seen.push_back(entry["bvid"]);
    }
  }
  ASSERT_EQ(seen.size(), 61U);
  EXPECT_EQ(seen.front(), "BV1sa0000001");
  EXPECT_EQ(seen.back(), "BV1sa0000061");
  const Json thirty2 = GetJson("/x/space/arc/search?mid=20030&ps=30&pn=2");
  EXPECT_EQ(thirty2["data"]["page"]["count"], 30);
  EXPECT_TRUE(thirty2["data"]["list"]["vlist"].empty());
  EXPECT_EQ(GetJson("/x/space/arc/search?mid=20030&ps=30&pn=1")["data"]["list"]["vlist"].size(),
            30U);
  const Json search = GetJson("/x/space/arc/search?mid=20061&ps=30&keyword=%E7%AC%AC61%E4%B8%AA");
  EXPECT_EQ(search["data"]["page"]["count"], 1);
  EXPECT_EQ(GetJson("/x/space/arc/search?mid=1&ps=30")["code"], -404);
}

TEST_F(FakeSiteServerTest, FavouritesPageByTwentyAndAnswerNullWhenEmpty) {
  std::size_t total = 0;
  for (int pn = 1; pn <= 3; ++pn) {
    const Json answer = GetJson("/x/v3/fav/resource/list?media_id=30045&pn=" + std::to_string(pn) +
                                "&ps=20&keyword=&order=mtime&type=0&tid=0&platform=web");
    ASSERT_EQ(answer["code"], 0);
    const auto& medias = answer["data"]["medias"];
    EXPECT_EQ(medias.size(), pn < 3 ? 20U : 5U);
    EXPECT_EQ(answer["data"]["has_more"], pn < 3);
    EXPECT_FALSE(medias[0]["bvid"].get<std::string>().empty());
    total += medias.size();
  }
  EXPECT_EQ(total, 45U);
  EXPECT_TRUE(
      GetJson("/x/v3/fav/resource/list?media_id=30045&pn=4&ps=20")["data"]["medias"].is_null());
  const Json empty = GetJson("/x/v3/fav/resource/list?media_id=30000&pn=1&ps=20");
  EXPECT_EQ(empty["code"], 0);
  EXPECT_TRUE(empty["data"]["medias"].is_null());
  EXPECT_EQ(GetJson("/x/v3/fav/resource/list?media_id=30045&pn=1&ps=21")["code"], -400);
}

TEST_F(FakeSiteServerTest, QrLoginPlaysItsScriptAndSetsTheLoginCookies) {
  m_site.SetLoginScript({2, 1, false});
  const Json url = GetJson("/qrcode/getLoginUrl");
  const std::string key = url["data"]["oauthKey"];
  EXPECT_EQ(key.size(), 32U);
  EXPECT_NE(url["data"]["url"].get<std::string>().find(key), std::string::npos);
  auto client = NewClient();
  std::vector<int> states;
  httplib::Result last{nullptr, httplib::Error::Unknown};
  for (int poll = 0; poll < 4; ++poll) {
    last =
        client.Post("/qrcode/getLoginInfo", "oauthKey=" + key, "application/x-www-form-urlencoded");
    ASSERT_TRUE(last);
    const Json answer = Json::parse(last->body);
    states.push_back(answer["data"].is_number() ? answer["data"].get<int>() : 0);
    EXPECT_EQ(answer.contains("code"), states.back() == 0);
  }
  EXPECT_EQ(states, (std::vector<int>{-4, -4, -5, 0}));
  std::string cookies;
  for (std::size_t i = 0; i < last->get_header_value_count("Set-Cookie"); ++i) {
    const std::string header = last->get_header_value("Set-Cookie", i);
    cookies += (cookies.empty() ? "" : "; ") + header.substr(0, header.find(';'));
  }
  // httplib's client percent-decodes header values; the wire has %2C.
  EXPECT_EQ(cookies, std::regex_replace(m_site.LoginCookie(), std::regex("%2C"), ","));
  const Json again =
      Json::parse(client.Post("/qrcode/getLoginInfo", "oauthKey=" + key, "text/plain")->body);
  EXPECT_EQ(again["data"], -2);
  const Json unknown =
      Json::parse(client.Post("/qrcode/getLoginInfo", "oauthKey=zzz", "text/plain")->body);
  EXPECT_EQ(unknown["data"], -1);

  m_site.SetLoginScript({0, 0, true});
  const std::string expiring = GetJson("/qrcode/getLoginUrl")["data"]["oauthKey"];
  auto expired = client.Post("/qrcode/getLoginInfo", "oauthKey=" + expiring, "text/plain");
  EXPECT_EQ(Json::parse(expired->body)["data"], -2);
  EXPECT_FALSE(expired->has_header("Set-Cookie"));
  auto qr = client.Get(
      "/action/qrcode/generate?data=https://x/y&output=image/"
      "gif&error=L&type=0&margin=0&size=4&1628793831937");
  ASSERT_TRUE(qr);
  EXPECT_EQ(qr->body.substr(0, 3), "GIF");
}

TEST_F(FakeSiteServerTest, AccountInfoNeedsTheLoginCookie) {
  EXPECT_EQ(GetJson("/x/space/myinfo")["code"], -101);
  EXPECT_EQ(GetJson("/x/space/myinfo", {{"Cookie", "SESSDATA=wrong"}})["code"], -101);
  const Json info = GetJson("/x/space/myinfo", {{"Cookie", m_site.LoginCookie()}});
  EXPECT_EQ(info["code"], 0);
  EXPECT_EQ(info["data"]["level_exp"]["next_exp"], 28800);
  EXPECT_EQ(info["data"]["face"].get<std::string>().rfind(m_site.BaseUrl(), 0), 0U);
}

TEST_F(FakeSiteServerTest, CommentBodiesInflateBackToTheRecordedDocuments) {
  auto client = NewClient();
  auto res = client.Get("/367013145.xml");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->get_header_value("Content-Encoding"), "deflate");
  EXPECT_EQ(InflateRaw(res->body), test::ReadWholeFile(std::string(KORVID_TEST_DATA_DIR) +
                                                       "/danmaku/modern9_cid367013145_1200c.xml"));
  auto page = client.Get("/35306865852.xml");
  ASSERT_TRUE(page);
  EXPECT_EQ(InflateRaw(page->body),
            test::ReadWholeFile(std::string(KORVID_TEST_DATA_DIR) +
                                "/danmaku/cid2196678_modes_1457_entities.xml"));
  auto unknown = client.Get("/77.xml");
  ASSERT_TRUE(unknown);
  const std::string empty = InflateRaw(unknown->body);
  EXPECT_NE(empty.find("<i>"), std::string::npos);
  EXPECT_EQ(empty.find("<d p="), std::string::npos);
  EXPECT_EQ(client.Get("/abc.xml")->status, 404);
}

TEST_F(FakeSiteServerTest, MediaFilesAreRealAndAnswerRangeAndHead) {
  auto client = NewClient();
  const struct {
    const char* path;
    MediaKind kind;
  } files[] = {{"/media/video/1-1-80-avc1.m4s", MediaKind::VideoOnly},
               {"/media/audio/1-1-30280.m4s", MediaKind::AudioOnly},
               {"/media/progressive/1-1-64.mp4", MediaKind::Progressive}};
  for (const auto& file : files) {
    const std::string bytes = m_site.MediaBytes(file.kind);
    ASSERT_GT(bytes.size(), 1000U) << file.path;
    EXPECT_EQ(bytes.substr(4, 4), "ftyp") << file.path;
    auto full = client.Get(file.path);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->status, 200);
    EXPECT_EQ(full->get_header_value("Content-Length"), std::to_string(bytes.size()));
    EXPECT_EQ(full->body, bytes);
    auto fromZero = client.Get(file.path, {{"Range", "bytes=0-"}});
    ASSERT_TRUE(fromZero);
    EXPECT_EQ(fromZero->status, 206);
    EXPECT_EQ(fromZero->get_header_value("Content-Length"), std::to_string(bytes.size()));
    EXPECT_EQ(fromZero->body, bytes);
    auto middle = client.Get(file.path, {{"Range", "bytes=10-19"}});
    ASSERT_TRUE(middle);
    EXPECT_EQ(middle->status, 206);
    EXPECT_EQ(middle->get_header_value("Content-Range"),
              "bytes 10-19/" + std::to_string(bytes.size()));
    EXPECT_EQ(middle->body, bytes.substr(10, 10));
    auto head = client.Head(file.path);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(bytes.size()));
    EXPECT_TRUE(head->body.empty());
  }
  // A range on an API answer is ignored, as a plain web server would.
  auto api = client.Get("/x/web-interface/view?bvid=BV1Ks411D7aa", {{"Range", "bytes=0-"}});
  ASSERT_TRUE(api);
  EXPECT_EQ(api->status, 200);
}

TEST_F(FakeSiteServerTest, EmbyListsPersonsAndRecordsImageUploads) {
  const std::string key = m_site.EmbyApiKey();
  auto client = NewClient();
  auto persons = client.Get(("/emby/Persons?api_key=" + key).c_str());
  ASSERT_TRUE(persons);
  EXPECT_NE(persons->body.find(R"({"Name":"测试UP主甲","ServerId":")"), std::string::npos);
  EXPECT_NE(
      persons->body.find(R"(","Id":"102","Type":"Person","ImageTags":{},"BackdropImageTags":[]})"),
      std::string::npos);
  const Json list = Json::parse(persons->body);
  EXPECT_EQ(list["TotalRecordCount"], list["Items"].size());
  EXPECT_EQ(client.Get("/emby/Persons?api_key=wrong")->status, 401);

  const std::string target = "/emby/Items/102/Images/Primary?api_key=" + key;
  auto upload = client.Post(target.c_str(), "/9j/4AAQSkZJRg==", "image/jpg");
  ASSERT_TRUE(upload);
  EXPECT_EQ(upload->status, 200);
  EXPECT_TRUE(upload->body.empty());
  EXPECT_EQ(client.Post(target.c_str(), "not base64!", "image/jpg")->status, 400);
  EXPECT_EQ(
      client.Post("/emby/Items/102/Images/Primary?api_key=wrong", "AAAA", "image/jpg")->status,
      401);
  EXPECT_EQ(
      client.Post(("/emby/Items/999/Images/Primary?api_key=" + key).c_str(), "AAAA", "image/jpg")
          ->status,
      404);
  const auto uploads = m_site.EmbyUploads();
  ASSERT_EQ(uploads.size(), 1U);
  EXPECT_EQ(uploads[0].itemId, "102");
  EXPECT_EQ(uploads[0].imageType, "Primary");
  EXPECT_EQ(uploads[0].contentType, "image/jpg");
  EXPECT_EQ(uploads[0].body, "/9j/4AAQSkZJRg==");
  EXPECT_NE(client.Get(("/emby/Persons?api_key=" + key).c_str())
                ->body.find(R"("Id":"102","Type":"Person","ImageTags":{"Primary")"),
            std::string::npos);
  m_site.SetEmbyApiKey("other");
  EXPECT_EQ(client.Get("/emby/Persons?api_key=other")->status, 200);
}

TEST_F(FakeSiteServerTest, StatusFaultsReplaceTheAnswer) {
  auto client = NewClient();
  m_site.SetFault("/x/", Fault::Status(500, "boom"));
  auto res = client.Get("/x/space/myinfo");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 500);
  EXPECT_EQ(res->body, "boom");
  // The longest matching prefix wins.
  m_site.SetFault("/x/player/", Fault::Blocked());
  res = client.Get("/x/player/playurl?cid=35306865841");
  EXPECT_EQ(res->status, 412);
  EXPECT_EQ(Json::parse(res->body)["message"], "请求被拦截");
  m_site.SetFault("/x/player/", Fault::ApiCode(-403));
  res = client.Get("/x/player/playurl?cid=35306865841");
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(Json::parse(res->body)["code"], -403);
  EXPECT_NE(Json::parse(res->body)["message"], "0");
  m_site.SetFault("/media/", Fault::Status(404));
  res = client.Get("/media/video/x.m4s", {{"Range", "bytes=0-"}});
  EXPECT_EQ(res->status, 404);
  EXPECT_FALSE(res->body.empty());
  m_site.ClearFaults();
  EXPECT_EQ(client.Get("/x/space/myinfo")->status, 200);
  EXPECT_EQ(m_site.Requests().size(), 5U) << "faulted requests are logged too";
}

TEST_F(FakeSiteServerTest, DropFaultClosesTheConnectionAfterThatManyBodyBytes) {
  const std::string bytes = m_site.MediaBytes(MediaKind::VideoOnly);
  ASSERT_GT(bytes.size(), 5000U);
  m_site.SetFault("/media/", Fault::DropAfter(5000));
  const std::string answer = RawExchange(
      m_site.Port(), "GET /media/video/a.m4s HTTP/1.1\r\nHost: x\r\nRange:bytes=0-\r\n\r\n");
  EXPECT_NE(answer.find("Content-Length: " + std::to_string(bytes.size())), std::string::npos);
  EXPECT_EQ(BodyOf(answer), bytes.substr(0, 5000));
  const std::string resumed = RawExchange(
      m_site.Port(), "GET /media/video/a.m4s HTTP/1.1\r\nHost: x\r\nRange: bytes=1000-\r\n\r\n");
  EXPECT_EQ(BodyOf(resumed), bytes.substr(1000, 5000)) << "the drop counts this answer's bytes";
  m_site.SetFault("/media/", Fault::DropAfter(0));
  EXPECT_TRUE(
      BodyOf(RawExchange(m_site.Port(), "GET /media/video/a.m4s HTTP/1.1\r\nHost: x\r\n\r\n"))
          .empty());
}

TEST_F(FakeSiteServerTest, ChunkedFaultSendsNoContentLength) {
  m_site.SetFault("/media/", Fault::Chunked());
  const std::string bytes = m_site.MediaBytes(MediaKind::AudioOnly);
  auto client = NewClient();
  auto res = client.Get("/media/audio/a.m4s");
  ASSERT_TRUE(res);
  EXPECT_FALSE(res->has_header("Content-Length"));
  EXPECT_EQ(res->get_header_value("Transfer-Encoding"), "chunked");
  EXPECT_EQ(res->body, bytes);
}

TEST_F(FakeSiteServerTest, CompressesOnlyWhenSwitchedOn) {
  auto client = NewClient();
  const httplib::Headers gzip = {{"Accept-Encoding", "gzip, deflate"}};
  auto plain = client.Get("/x/web-interface/view?bvid=BV1Ks411D7aa", gzip);
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->has_header("Content-Encoding"));
  EXPECT_EQ(m_site.Requests().back().Header("Accept-Encoding"), "gzip, deflate")
      << "the log keeps it";
  m_site.SetCompression(true);
  auto packed = client.Get("/x/web-interface/view?bvid=BV1Ks411D7aa", gzip);
  ASSERT_TRUE(packed);
  EXPECT_EQ(packed->get_header_value("Content-Encoding"), "gzip");
  EXPECT_LT(packed->body.size(), plain->body.size());
}

TEST_F(FakeSiteServerTest, ThrottleAndDelayFaultsSlowTheAnswer) {
  m_site.SetCanned("GET", "/slow", CannedReply{200, {}, std::string(3000, 'x'), "text/plain"});
  m_site.SetFault("/slow", Fault::Throttle(10000));
  auto client = NewClient();
  auto started = Clock::now();
  auto res = client.Get("/slow");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body.size(), 3000U);
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(200));
  m_site.SetFault("/slow", Fault::Delay(300));
  started = Clock::now();
  ASSERT_TRUE(client.Get("/slow"));
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(290));
}

TEST_F(FakeSiteServerTest, StopEndsAThrottledTransferInFlight) {
  m_site.SetFault("/media/", Fault::Throttle(1000));
  ASSERT_FALSE(m_site.MediaBytes(MediaKind::VideoOnly).empty());
  std::thread downloader([port = m_site.Port()] {
    httplib::Client client("127.0.0.1", port);
    (void)client.Get("/media/video/a.m4s");
  });
  ASSERT_TRUE(test::WaitFor([&] { return !m_site.Requests().empty(); }, 5000));
  const auto started = Clock::now();
  m_site.Stop();
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
  downloader.join();
}

TEST(FakeSiteMediaCache, ConcurrentMakersAgreeOnOneFile) {
  test::Sandbox sandbox;
  std::vector<std::string> results(3);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&, i] {
      MediaCache cache(sandbox.Path());
      results[i] = cache.Bytes(MediaKind::Image);
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  ASSERT_FALSE(results[0].empty());
  for (const auto& bytes : results) {
    EXPECT_EQ(bytes, results[0]);
  }
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(sandbox.Path())) {
    ++files;
  }
  EXPECT_EQ(files, 1) << "no temporary file is left behind";
}

// A running korvid-fakesite with pipes to its stdin and stdout.
struct SpawnedSite {
  pid_t pid = 0;
  int stdinFd = -1;
  int port = 0;
};

std::optional<SpawnedSite> SpawnProgram(const std::filesystem::path& program,
                                        std::vector<std::string> args) {
  int toChild[2];
  int fromChild[2];
  if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) {
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, toChild[1]);
  posix_spawn_file_actions_addclose(&actions, fromChild[0]);
  args.insert(args.begin(), program.string());
  std::vector<char*> argv;
  for (auto& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  SpawnedSite site;
  const int rc = ::posix_spawn(&site.pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(toChild[0]);
  ::close(fromChild[1]);
  if (rc != 0) {
    ::close(toChild[1]);
    ::close(fromChild[0]);
    return std::nullopt;
  }
  site.stdinFd = toChild[1];
  std::string line;
  char c = 0;
  pollfd pfd{fromChild[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && ::poll(&pfd, 1, 5000) > 0 &&
         ::read(fromChild[0], &c, 1) == 1) {
    line += c;
  }
  ::close(fromChild[0]);
  const std::string prefix = "listening on http://127.0.0.1:";
  if (line.rfind(prefix, 0) == 0) {
    site.port = std::stoi(line.substr(prefix.size()));
  }
  return site;
}

int ExitStatusWithin(pid_t pid, int timeoutMs) {
  int status = -1;
  if (!test::WaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class FakeSiteProgram : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef KORVID_FAKESITE_PATH
    m_program = KORVID_FAKESITE_PATH;
#endif
    if (!std::filesystem::exists(m_program)) {
      GTEST_SKIP() << "korvid-fakesite not built";
    }
  }

  std::filesystem::path m_program;
};

TEST_F(FakeSiteProgram, ServesWithFaultsAndExitsWhenStdinCloses) {
  const auto site =
      SpawnProgram(m_program, {"--stdin-lifetime", "--fault", "/x/=status:503,body:down, really"});
  ASSERT_TRUE(site);
  ASSERT_GT(site->port, 0);
  httplib::Client client("127.0.0.1", site->port);
  auto res = client.Get("/x/space/myinfo");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 503);
  EXPECT_EQ(res->body, "down, really");
  ::close(site->stdinFd);
  EXPECT_EQ(ExitStatusWithin(site->pid, 5000), 0);
}

TEST_F(FakeSiteProgram, RetiresAGenerationWithItsQrPairAndEditsVideos) {
  struct Case {
    const char* retire;
    std::string path;  // asked with GET, or POST for the older poll
    int status;
    const char* bodyHolds;
  };
  const Case cases[] = {
      {.retire = "newer",
       .path = "/x/passport-login/web/qrcode/generate",
       .status = 404,
       .bodyHolds = ""},
      {.retire = "newer", .path = "/x/player/wbi/playurl?cid=1", .status = 404, .bodyHolds = ""},
      {.retire = "older", .path = "/qrcode/getLoginInfo", .status = 200, .bodyHolds = "20000"},
      {.retire = "older",
       .path = "/x/web-interface/view?bvid=BV1Av411D7gg",
       .status = 200,
       .bodyHolds = "\"title\":\"\\u001b[2J\""},
      {.retire = "older",
       .path = "/x/web-interface/view?bvid=BV1Ks411D7aa",
       .status = 200,
       .bodyHolds = "-404"},
  };
  for (const Case& c : cases) {
    const auto site =
        SpawnProgram(m_program, {"--stdin-lifetime", "--retire", c.retire, "--unreadable",
                                 "BV1Ks411D7aa", "--title", "BV1Av411D7gg=\x1b[2J"});
    ASSERT_TRUE(site);
    ASSERT_GT(site->port, 0);
    httplib::Client client("127.0.0.1", site->port);
    const bool poll = c.path == "/qrcode/getLoginInfo";
    auto res = poll ? client.Post(c.path, "oauthKey=x", "application/x-www-form-urlencoded")
                    : client.Get(c.path);
    ASSERT_TRUE(res) << c.path;
    EXPECT_EQ(res->status, c.status) << c.path;
    EXPECT_NE(res->body.find(c.bodyHolds), std::string::npos) << c.path << ": " << res->body;
    ::close(site->stdinFd);
    EXPECT_EQ(ExitStatusWithin(site->pid, 5000), 0);
  }
}

TEST_F(FakeSiteProgram, ExitsCleanlyOnSigterm) {
  const auto site = SpawnProgram(m_program, {"--port", "0"});
  ASSERT_TRUE(site);
  ASSERT_GT(site->port, 0);
  ::kill(site->pid, SIGTERM);
  EXPECT_EQ(ExitStatusWithin(site->pid, 5000), 0);
  ::close(site->stdinFd);
}

TEST_F(FakeSiteProgram, RefusesABadFault) {
  const auto site = SpawnProgram(m_program, {"--fault", "/x/=nonsense:1"});
  ASSERT_TRUE(site);
  EXPECT_EQ(site->port, 0);
  EXPECT_EQ(ExitStatusWithin(site->pid, 5000), 2);
  ::close(site->stdinFd);
}

}  // namespace
}  // namespace korvid::fakesite
