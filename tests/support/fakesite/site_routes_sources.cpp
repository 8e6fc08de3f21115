// The sources beyond spaces and favourites: a collection and a series of
// generated space videos, the watch-later list, and one licensed season
// (番剧) with its media review and player calls. Answers are built from the
// documented examples in tests/data/api (*_documented.json) and the season
// answer written from the documented field table
// (tests/data/fakesite/pgc_view_web_season_ss42290_constructed.json).

#include <algorithm>
#include <fstream>
#include <map>
#include <mutex>

#include "support/fakesite/site_routes.h"

namespace korvid::fakesite {
namespace {

constexpr const char* kNotFoundBody = R"({"code":-404,"message":"啥都木有","ttl":1})";
constexpr const char* kBadRequestBody = R"({"code":-400,"message":"请求错误","ttl":1})";
constexpr const char* kNotLoggedInBody = R"({"code":-101,"message":"账号未登录","ttl":1})";
constexpr const char* kPgcNotFoundBody = R"({"code":-404,"message":"啥都木有","result":null})";
constexpr const char* kVipOnlyBody = R"({"code":-10403,"message":"大会员专享限制"})";

// The collection and series the fake site knows, over generated space videos.
constexpr std::int64_t kCollectionMid = 20061;
constexpr std::int64_t kCollectionId = 1227671;
constexpr int kCollectionVideos = 35;
constexpr std::int64_t kSeriesMid = 20200;
constexpr std::int64_t kSeriesId = 534501;
constexpr int kSeriesVideos = 25;
constexpr int kMaxListPageSize = 100;
constexpr std::int64_t kMediaId = 28339735;
constexpr std::int64_t kDocumentedMediaId = 28220978;
// Episodes a running site adds to the season: generated after its last main
// episode, numbered on from it.
constexpr int kSeasonGrowthRoom = 20;
constexpr std::int64_t kGrownEpisodeId = 700000;
constexpr std::int64_t kGrownEpisodeCid = 900000000;
constexpr std::int64_t kGrownEpisodeAid = 800000000;
constexpr int kGrownBvidDigits = 7;

struct SourceData {
  Json archives;  // seasons_archives_list
  Json series;    // series/archives
  Json toview;
  Json review;
  Json season;
  Json pgcPlayUrl;
  std::string error;
};

Json LoadJson(const std::filesystem::path& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  Json value = in ? Json::parse(in, nullptr, false) : Json();
  if (value.is_discarded() || value.is_null()) {
    error = "cannot read " + path.string();
    return Json();
  }
  return value;
}

const SourceData& Data(const std::filesystem::path& dataDir) {
  static std::mutex mutex;
  static std::map<std::filesystem::path, SourceData> loaded;
  std::lock_guard lock(mutex);
  auto [entry, added] = loaded.try_emplace(dataDir);
  if (added) {
    SourceData& data = entry->second;
    const std::filesystem::path api = dataDir / "api";
    data.archives =
        LoadJson(api / "seasons_archives_list_mid37737161_sid1227671_documented.json", data.error);
    data.series =
        LoadJson(api / "series_archives_mid39665558_sid534501_documented.json", data.error);
    data.toview = LoadJson(api / "toview_documented.json", data.error);
    data.review = LoadJson(api / "pgc_review_user_md28220978_documented.json", data.error);
    data.pgcPlayUrl = LoadJson(api / "pgc_playurl_flv_ep85046_documented.json", data.error);
    data.season =
        LoadJson(dataDir / "fakesite" / "pgc_view_web_season_ss42290_constructed.json", data.error);
  }
  return entry->second;
}

std::optional<std::int64_t> ParamNumber(const Incoming& in, const char* name) {
  const std::string text = in.Param(name);
  if (text.empty() || text.size() > 18 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoll(text);
}

int PageNumber(const Incoming& in, const char* name, int fallback) {
  const auto value = ParamNumber(in, name);
  return value && *value >= 1 && *value <= 100000 ? static_cast<int>(*value) : fallback;
}

std::string SessdataOf(const std::string& cookieHeader) {
  const std::string key = "SESSDATA=";
  std::size_t at = cookieHeader.find(key);
  while (at != std::string::npos && at > 0 && cookieHeader[at - 1] != ' ' &&
         cookieHeader[at - 1] != ';') {
    at = cookieHeader.find(key, at + 1);
  }
  if (at == std::string::npos) return {};
  const std::size_t from = at + key.size();
  return cookieHeader.substr(from, cookieHeader.find(';', from) - from);
}

// Archive k of a generated list, in the shape of the documented archive.
Json Archive(const Json& shape, const Video& video) {
  Json archive = shape;
  archive["aid"] = video.data["aid"];
  archive["bvid"] = video.bvid;
  archive["title"] = video.data["title"];
  archive["pic"] = video.data["pic"];
  archive["pubdate"] = video.data["pubdate"];
  archive["ctime"] = video.data["pubdate"];
  archive["duration"] = 2;
  return archive;
}

// The episodes of the season answer, main and extras.
std::vector<Json> SeasonEpisodes(const Json& result) {
  std::vector<Json> episodes(result["episodes"].begin(), result["episodes"].end());
  for (const Json& section : result.value("section", Json::array())) {
    for (const Json& episode : section["episodes"]) episodes.push_back(episode);
  }
  return episodes;
}

std::optional<Json> EpisodeOf(const Json& result, std::int64_t epId) {
  for (const Json& episode : SeasonEpisodes(result)) {
    if (episode.value("ep_id", std::int64_t{0}) == epId) return episode;
  }
  return std::nullopt;
}

std::int64_t SeasonId(const Json& season) {
  return season["result"].value("season_id", std::int64_t{0});
}

// Episode n (from 1) added to a season after `last`, its last main episode.
Json GrownEpisode(const Json& last, int n) {
  Json episode = last;
  const std::int64_t id = kGrownEpisodeId + n;
  std::string digits = std::to_string(2'000'000 + n);
  digits.insert(0, kGrownBvidDigits - std::min<std::size_t>(digits.size(), kGrownBvidDigits), '0');
  episode["ep_id"] = id;
  episode["id"] = id;
  episode["cid"] = kGrownEpisodeCid + n;
  episode["aid"] = kGrownEpisodeAid + n;
  episode["bvid"] = "BV1pg" + digits;
  const int number = std::atoi(last.value("title", "0").c_str()) + n;
  episode["title"] = std::to_string(number);
  episode["long_title"] = "新的一话 " + std::to_string(n);
  episode["show_title"] = "第" + std::to_string(number) + "话 新的一话 " + std::to_string(n);
  episode["status"] = 2;
  episode["badge"] = "";
  if (episode.contains("badge_info")) episode["badge_info"]["text"] = "";
  episode["link"] = "https://www.bilibili.com/bangumi/play/ep" + std::to_string(id);
  episode["share_url"] = episode["link"];
  return episode;
}

}  // namespace

int SiteRoutes::SourceGrowthRoom(std::int64_t id) const {
  if (id == kCollectionId) {
    const VideoList* space = m_catalogue->FindSpace(kCollectionMid);
    return space == nullptr ? 0 : std::max(space->count - kCollectionVideos, 0);
  }
  if (id == kSeriesId) return VideoList::kGrowthRoom;
  const Json& season = Data(m_catalogue->DataDir()).season;
  return season.is_object() && id == SeasonId(season) ? kSeasonGrowthRoom : 0;
}

Json SiteRoutes::GrownSeason() const {
  Json season = Data(m_catalogue->DataDir()).season;
  Json& episodes = season["result"]["episodes"];
  const int grown = Grown(SeasonId(season));
  if (!episodes.is_array() || episodes.empty()) return season;
  const Json last = episodes.back();
  for (int n = 1; n <= grown; ++n) episodes.push_back(GrownEpisode(last, n));
  return season;
}

std::optional<Reply> SiteRoutes::SourceRoute(const Incoming& in) {
  const std::string& path = in.request.path;
  if (in.request.method != "GET" && in.request.method != "HEAD") return std::nullopt;
  const SourceData& data = Data(m_catalogue->DataDir());
  const bool known = path == "/x/polymer/web-space/seasons_archives_list" ||
                     path == "/x/series/archives" || path == "/x/v2/history/toview" ||
                     path == "/pgc/view/web/season" || path == "/pgc/review/user" ||
                     path == "/pgc/player/web/playurl";
  if (!known) return std::nullopt;
  if (!data.error.empty()) return TextReply(500, "fake site data not loaded: " + data.error);
  if (path == "/x/polymer/web-space/seasons_archives_list") return CollectionArchives(in);
  if (path == "/x/series/archives") return SeriesArchives(in);
  if (path == "/x/v2/history/toview") return WatchLater(in);
  if (path == "/pgc/view/web/season") return PgcSeason(in);
  if (path == "/pgc/review/user") return PgcReview(in);
  return PgcPlayUrl(in);
}

Json SiteRoutes::ListArchives(const Json& shape, std::int64_t mid, const std::vector<int>& order,
                              int first, int count) const {
  const VideoList* space = m_catalogue->FindSpace(mid);
  Json archives = Json::array();
  for (int i = first; space != nullptr && i < static_cast<int>(order.size()) && count > 0;
       ++i, --count) {
    archives.push_back(
        Archive(shape, m_catalogue->ListVideo(*space, order[static_cast<std::size_t>(i)])));
  }
  return PointedAtSite(archives);
}

Reply SiteRoutes::CollectionArchives(const Incoming& in) {
  // The documentation says the call checks the Referer.
  if (in.request.Header("Referer").empty()) return JsonReply(kBadRequestBody);
  const auto mid = ParamNumber(in, "mid");
  const auto season = ParamNumber(in, "season_id");
  if (!mid || !season) return JsonReply(kBadRequestBody);
  if (*mid != kCollectionMid || *season != kCollectionId) return JsonReply(kNotFoundBody);
  const int pn = PageNumber(in, "page_num", 1);
  const int ps = PageNumber(in, "page_size", 30);
  if (ps > kMaxListPageSize) return JsonReply(kBadRequestBody);
  // Videos the collection gained come at its end.
  const int total = kCollectionVideos + Grown(kCollectionId);
  std::vector<int> order;
  for (int k = 1; k <= total; ++k) order.push_back(k);
  if (in.Param("sort_reverse") == "true") std::reverse(order.begin(), order.end());
  Json answer = Data(m_catalogue->DataDir()).archives;
  Json& body = answer["data"];
  body["archives"] = ListArchives(body["archives"][0], *mid, order, (pn - 1) * ps, ps);
  body["aids"] = Json::array();
  for (const Json& archive : body["archives"]) body["aids"].push_back(archive["aid"]);
  body["meta"]["mid"] = *mid;
  body["meta"]["season_id"] = *season;
  body["meta"]["total"] = total;
  body["page"] = Json{{"page_num", pn}, {"page_size", ps}, {"total", total}};
  return JsonReply(DumpApiJson(answer));
}

Reply SiteRoutes::SeriesArchives(const Incoming& in) {
  const auto mid = ParamNumber(in, "mid");
  const auto series = ParamNumber(in, "series_id");
  if (!mid || !series) return JsonReply(kBadRequestBody);
  if (*mid != kSeriesMid || *series != kSeriesId) return JsonReply(kNotFoundBody);
  const int pn = PageNumber(in, "pn", 1);
  const int ps = PageNumber(in, "ps", 20);
  if (ps > kMaxListPageSize) return JsonReply(kBadRequestBody);
  // The space lists its videos newest first (k = 1); "asc" is oldest first.
  // Videos the series gained (k past its own) are its newest.
  const int total = kSeriesVideos + Grown(kSeriesId);
  std::vector<int> order;
  for (int k = total; k > kSeriesVideos; --k) order.push_back(k);
  for (int k = 1; k <= kSeriesVideos; ++k) order.push_back(k);
  if (in.Param("sort") == "asc") std::reverse(order.begin(), order.end());
  Json answer = Data(m_catalogue->DataDir()).series;
  Json& body = answer["data"];
  body["archives"] = ListArchives(body["archives"][0], *mid, order, (pn - 1) * ps, ps);
  body["aids"] = Json::array();
  for (const Json& archive : body["archives"]) body["aids"].push_back(archive["aid"]);
  body["page"] = Json{{"num", pn}, {"size", ps}, {"total", total}};
  return JsonReply(DumpApiJson(answer));
}

bool SiteRoutes::LoggedIn(const Incoming& in) const {
  const std::string sessdata = m_catalogue->Settings()["account"]["sessdata"].get<std::string>();
  const std::string sent = SessdataOf(in.request.Header("Cookie"));
  return !sent.empty() && (sent == sessdata || m_refresh->Accepts(sent));
}

Reply SiteRoutes::WatchLater(const Incoming& in) {
  if (!LoggedIn(in)) return JsonReply(kNotLoggedInBody);
  // The documented two entries (the second with cid 0 and no page), pointed
  // at catalogue videos, then one generated space video.
  Json answer = Data(m_catalogue->DataDir()).toview;
  Json& list = answer["data"]["list"];
  const std::vector<std::string> bvids = {"BV1Mp411T7bb", "BV1Ks411D7aa"};
  for (std::size_t i = 0; i < bvids.size() && i < list.size(); ++i) {
    const auto video = m_catalogue->FindVideo(bvids[i]);
    if (!video) continue;
    list[i]["bvid"] = video->bvid;
    list[i]["aid"] = video->data["aid"];
    list[i]["title"] = video->data["title"];
    list[i]["videos"] = video->data["videos"];
    if (list[i].contains("page")) {
      list[i]["cid"] = video->data["cid"];
      list[i]["page"]["cid"] = video->data["cid"];
    }
  }
  if (const VideoList* space = m_catalogue->FindSpace(kCollectionMid); space && !list.empty()) {
    const Video video = m_catalogue->ListVideo(*space, 5);
    Json entry = list[0];
    entry["bvid"] = video.bvid;
    entry["aid"] = video.data["aid"];
    entry["cid"] = video.data["cid"];
    entry["page"]["cid"] = video.data["cid"];
    entry["title"] = video.data["title"];
    entry["videos"] = 1;
    list.push_back(entry);
  }
  answer["data"]["count"] = list.size();
  return JsonReply(DumpApiJson(PointedAtSite(answer)));
}

Reply SiteRoutes::PgcSeason(const Incoming& in) {
  const Json season = GrownSeason();
  const Json& result = season["result"];
  const auto seasonId = ParamNumber(in, "season_id");
  const auto epId = ParamNumber(in, "ep_id");
  const bool found = (seasonId && *seasonId == result["season_id"].get<std::int64_t>()) ||
                     (!seasonId && epId && EpisodeOf(result, *epId));
  if (!seasonId && !epId) return JsonReply(kBadRequestBody);
  return JsonReply(found ? DumpApiJson(PointedAtSite(season)) : kPgcNotFoundBody);
}

Reply SiteRoutes::PgcReview(const Incoming& in) {
  const auto mediaId = ParamNumber(in, "media_id");
  if (!mediaId) return JsonReply(kBadRequestBody);
  Json answer = Data(m_catalogue->DataDir()).review;
  if (*mediaId == kMediaId) {
    const Json& result = Data(m_catalogue->DataDir()).season["result"];
    Json& media = answer["result"]["media"];
    media["media_id"] = kMediaId;
    media["season_id"] = result["season_id"];
    media["title"] = result["title"];
    media["share_url"] = "https://www.bilibili.com/bangumi/media/md" + std::to_string(kMediaId);
  } else if (*mediaId != kDocumentedMediaId) {
    return JsonReply(kPgcNotFoundBody);
  }
  return JsonReply(DumpApiJson(PointedAtSite(answer)));
}

Reply SiteRoutes::PgcPlayUrl(const Incoming& in) {
  const auto epId = ParamNumber(in, "ep_id");
  const auto cid = ParamNumber(in, "cid");
  if (!epId && !cid) return JsonReply(kBadRequestBody);
  const Json season = GrownSeason();
  const Json& result = season["result"];
  const auto episode = epId ? EpisodeOf(result, *epId) : std::nullopt;
  if (!episode || (cid && episode->value("cid", std::int64_t{0}) != *cid)) {
    return JsonReply(kPgcNotFoundBody);
  }
  const bool vipOnly = episode->value("status", 0) == 13;
  if (vipOnly && !LoggedIn(in)) return JsonReply(kVipOnlyBody);
  const std::int64_t episodeCid = episode->value("cid", std::int64_t{0});
  const std::int64_t fnval = ParamNumber(in, "fnval").value_or(0);
  Json answer = Data(m_catalogue->DataDir()).pgcPlayUrl;
  if ((fnval & kFnvalDash) != 0 && !in.request.Header("Cookie").empty()) {
    Json dash = KeepStreamsAskedFor(DashData(episodeCid), fnval);
    dash["type"] = "DASH";
    answer["result"] = dash;
  } else {
    Json durl = DurlData(episodeCid, in.Param("qn"));
    Json& pgc = answer["result"];
    pgc["durl"] = durl["durl"];
    pgc["timelength"] = durl["timelength"];
    pgc["format"] = "mp4";
    pgc["type"] = "MP4";
  }
  return JsonReply(DumpApiJson(answer));
}

}  // namespace korvid::fakesite
