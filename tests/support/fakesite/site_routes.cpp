#include "support/fakesite/site_routes.h"

#include <zlib.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>

namespace korvid::fakesite {

namespace {

constexpr const char* kNotFoundBody = R"({"code":-404,"message":"啥都木有","ttl":1})";
constexpr const char* kBlockedBody = R"({"code":-412,"message":"请求被拦截","ttl":1,"data":null})";
constexpr const char* kBadRequestBody = R"({"code":-400,"message":"请求错误","ttl":1})";
constexpr const char* kNotLoggedInBody = R"({"code":-101,"message":"账号未登录","ttl":1})";
constexpr std::size_t kEtagSampleBytes = 1 << 20;
constexpr const char* kMediaLastModified = "Wed, 01 Jan 2025 00:00:00 GMT";
constexpr const char* kMediaQuery = "?deadline=1893456000&gen=playurlv2&os=fakesite&upsig=0f1e2d3c";
constexpr int kListTypeId = 21;
constexpr int kSpacePageSizeMax = 50;
constexpr int kFavouritesPageSizeMax = 20;
constexpr int kDefaultSpacePageSize = 30;
constexpr int kDefaultFavouritesPageSize = 20;
constexpr std::int64_t kMediaMilliseconds = 2000;

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::optional<std::int64_t> ToInt(const std::string& text) {
  if (text.empty() || text.size() > 18) {
    return std::nullopt;
  }
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + (c - '0');
  }
  return value;
}

int PageParam(const Incoming& in, const char* name, int fallback) {
  const auto value = ToInt(in.Param(name));
  return value && *value > 0 && *value < 100000 ? static_cast<int>(*value) : fallback;
}

// What a paged list request (uploader space, favourites folder) names.
struct ListRequest {
  const char* idParam;
  std::function<const VideoList*(std::int64_t)> find;
  int defaultPageSize;
  int maxPageSize;
};

struct ListPage {
  const VideoList* list = nullptr;
  int ps = 0;
  int pn = 0;
};

// Fills page, or returns the answer the site gives to a bad or unknown list.
std::optional<Reply> ReadListPage(const Incoming& in, const ListRequest& request, ListPage& page) {
  const auto id = ToInt(in.Param(request.idParam));
  if (!id) return JsonReply(kBadRequestBody);
  page.list = request.find(*id);
  if (page.list == nullptr) return JsonReply(kNotFoundBody);
  page.ps = PageParam(in, "ps", request.defaultPageSize);
  page.pn = PageParam(in, "pn", 1);
  if (page.ps > request.maxPageSize) return JsonReply(kBadRequestBody);
  return std::nullopt;
}

bool IsSiteImageHost(const std::string& host) {
  auto endsWith = [&](const std::string& suffix) {
    return host.size() >= suffix.size() &&
           host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return endsWith("hdslb.com") || endsWith("biliimg.com");
}

std::string HtmlEscape(const std::string& text) {
  return ReplaceAll(ReplaceAll(ReplaceAll(text, "&", "&amp;"), "<", "&lt;"), ">", "&gt;");
}

std::string CookieValue(const std::string& cookieHeader, const std::string& name) {
  std::size_t at = 0;
  while (at < cookieHeader.size()) {
    std::size_t end = cookieHeader.find(';', at);
    if (end == std::string::npos) {
      end = cookieHeader.size();
    }
    std::string pair = cookieHeader.substr(at, end - at);
    pair.erase(0, pair.find_first_not_of(' '));
    const auto eq = pair.find('=');
    if (eq != std::string::npos && pair.substr(0, eq) == name) {
      return pair.substr(eq + 1);
    }
    at = end + 1;
  }
  return {};
}

bool IsBase64(const std::string& text) {
  if (text.empty() || text.size() % 4 != 0) {
    return false;
  }
  const std::size_t pad = text.size() - text.find_last_not_of('=') - 1;
  if (pad > 2) {
    return false;
  }
  for (std::size_t i = 0; i < text.size() - pad; ++i) {
    const char c = text[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/') {
      return false;
    }
  }
  return true;
}

std::string ApiOk(const Json& data) {
  Json answer;
  answer["code"] = 0;
  answer["message"] = "0";
  answer["ttl"] = 1;
  answer["data"] = data;
  return DumpApiJson(answer);
}

// Rewrites one DASH stream entry's addresses; which file is served depends
// on the entry's MIME type.
void PointStreamAt(Json& entry, const std::string& base, std::int64_t cid) {
  const std::string mime = entry.value("mimeType", entry.value("mime_type", ""));
  const bool audio = mime.rfind("audio", 0) == 0;
  const std::string id = std::to_string(entry.value("id", 0));
  const std::string url = base + (audio ? "/media/audio/" : "/media/video/") + std::to_string(cid) +
                          "-1-" + id + (audio ? "" : "-" + entry.value("codecs", "")) + ".m4s" +
                          kMediaQuery;
  entry["baseUrl"] = url;
  entry["base_url"] = url;
  const Json backups = Json::array({BackupMediaUrl(url)});
  entry["backupUrl"] = backups;
  entry["backup_url"] = backups;
}

}  // namespace

std::string DumpApiJson(const Json& value) {
  std::string text = value.dump();
  text = ReplaceAll(text, "&", "\\u0026");
  text = ReplaceAll(text, "<", "\\u003c");
  return ReplaceAll(text, ">", "\\u003e");
}

std::string DumpPageJson(const Json& value) {
  return ReplaceAll(value.dump(), "/", "\\u002F");
}

namespace {

std::string Deflate(const std::string& bytes, int windowBits) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    return {};
  }
  std::string out(deflateBound(&stream, bytes.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return rc == Z_STREAM_END ? out : std::string();
}

}  // namespace

std::string DeflateRaw(const std::string& bytes) {
  return Deflate(bytes, -15);
}

std::string Gzip(const std::string& bytes) {
  return Deflate(bytes, 15 + 16);
}

std::string Incoming::Param(const std::string& name) const {
  return parsed.get_param_value(name);
}

namespace {

// Parsing the recorded answers takes a while in a debug build and every
// network test starts a fake site, so each process reads them once.
std::shared_ptr<const Catalogue> SharedCatalogue(const std::filesystem::path& dataDir,
                                                 std::string& error) {
  static std::mutex mutex;
  static std::map<std::filesystem::path, std::pair<std::shared_ptr<const Catalogue>, std::string>>
      loaded;
  std::lock_guard lock(mutex);
  auto& entry = loaded[dataDir];
  if (!entry.first) {
    auto catalogue = std::make_shared<Catalogue>();
    if (!catalogue->Load(dataDir, entry.second) && entry.second.empty()) {
      entry.second = "catalogue incomplete";
    }
    entry.first = std::move(catalogue);
  }
  error = entry.second;
  return entry.first;
}

}  // namespace

SiteRoutes::SiteRoutes(const std::filesystem::path& dataDir, std::filesystem::path mediaDir)
    : m_catalogue(SharedCatalogue(dataDir, m_loadError)), m_media(std::move(mediaDir)) {
  const Json* account = m_loadError.empty() ? &m_catalogue->Settings()["account"] : nullptr;
  if (m_loadError.empty()) {
    m_embyApiKey = m_catalogue->Settings()["emby"]["apiKey"].get<std::string>();
  }
  m_refresh = std::make_unique<CookieRefreshRoutes>(
      account ? (*account)["sessdata"].get<std::string>() : std::string(),
      account ? (*account)["biliJct"].get<std::string>() : std::string(), kQrRefreshToken);
}

void SiteRoutes::SetBaseUrl(std::string baseUrl) {
  std::lock_guard lock(m_mutex);
  m_baseUrl = std::move(baseUrl);
}

std::string SiteRoutes::BaseUrl() const {
  std::lock_guard lock(m_mutex);
  return m_baseUrl;
}

bool SiteRoutes::ServesRanges(const std::string& path) {
  return path.rfind("/media/", 0) == 0 || path.rfind("/img/", 0) == 0;
}

// Recorded answers name the site's image hosts; tests must never leave the
// machine, so every such address is pointed at /img/ on the fake site.
Json SiteRoutes::PointedAtSite(Json value) const {
  const std::string base = BaseUrl();
  static const std::regex kUrl(R"(^https?://([^/:]+)(:\d+)?(/[^?#]*).*$)");
  auto visit = [&](auto& self, Json& node) -> void {
    if (node.is_string()) {
      std::smatch match;
      const std::string text = node.get<std::string>();
      if (std::regex_match(text, match, kUrl) && IsSiteImageHost(match[1].str())) {
        node = base + "/img" + match[3].str();
      }
    } else if (node.is_structured()) {
      for (auto& child : node) {
        self(self, child);
      }
    }
  };
  visit(visit, value);
  return value;
}

Reply SiteRoutes::Route(const Incoming& in) {
  static const std::regex kVideoPage(R"(^/video/([0-9A-Za-z]+)/?$)");
  static const std::regex kComments(R"(^/([0-9]+)\.xml$)");
  static const std::regex kEmbyImage(R"(^/emby/Items/([^/]+)/Images/([^/]+)$)");
  const std::string& path = in.request.path;
  const std::string& method = in.request.method;
  const bool get = method == "GET" || method == "HEAD";
  std::smatch match;
  if (!m_loadError.empty()) {
    return TextReply(500, "fake site data not loaded: " + m_loadError);
  }
  if (auto refresh = m_refresh->Route(in)) {
    return std::move(*refresh);
  }
  if (auto current = CurrentApiRoute(in)) {
    return std::move(*current);
  }
  if (auto source = SourceRoute(in)) {
    return std::move(*source);
  }
  if (get && std::regex_match(path, match, kVideoPage)) {
    return VideoPage(match[1].str());
  }
  if (get && path == "/x/web-interface/view") {
    return View(in);
  }
  if (get && path == "/x/player/playurl") {
    return PlayUrl(in);
  }
  if (get && path == "/x/space/arc/search") {
    return SpaceList(in);
  }
  if (get && path == "/x/v3/fav/resource/list") {
    return Favourites(in);
  }
  if (get && path == "/x/space/myinfo") {
    return AccountInfo(in);
  }
  if (auto passport = PassportRoute(in)) {
    return *passport;
  }
  if (get && path == "/qrcode/getLoginUrl") {
    return LoginUrl();
  }
  if (path == "/qrcode/getLoginInfo") {
    return method == "POST" ? LoginPoll(in) : TextReply(405, "method not allowed");
  }
  if (get && path == "/action/qrcode/generate") {
    return in.Param("data").empty() ? TextReply(400, "data missing")
                                    : MediaFile(MediaKind::QrImage);
  }
  if (get && std::regex_match(path, match, kComments)) {
    return Comments(match[1].str());
  }
  if (auto backup = BackupMediaKind(path); get && backup) {
    return MediaFile(*backup);
  }
  if (get && path.rfind("/media/video/", 0) == 0) {
    return MediaFile(MediaKind::VideoOnly);
  }
  if (get && path.rfind("/media/audio/", 0) == 0) {
    return MediaFile(MediaKind::AudioOnly);
  }
  if (get && path.rfind("/media/progressive/", 0) == 0) {
    return MediaFile(MediaKind::Progressive);
  }
  if (get && path.rfind("/img/", 0) == 0) {
    return MediaFile(MediaKind::Image);
  }
  if (get && path == "/fakesite/grow") {
    return GrowRoute(in);
  }
  if (get && path == "/emby/Persons") {
    return EmbyPersons(in);
  }
  if (method == "POST" && std::regex_match(path, match, kEmbyImage)) {
    return EmbyImage(in, match[1].str(), match[2].str());
  }
  return TextReply(404, "not found");
}

void SiteRoutes::SetUnreadable(const std::string& bvid) {
  std::lock_guard lock(m_mutex);
  m_unreadable.insert(bvid);
}

bool SiteRoutes::GrowList(std::int64_t id, int added) {
  const VideoList* list = m_catalogue->FindSpace(id);
  if (list == nullptr) list = m_catalogue->FindFavourites(id);
  const int room = list != nullptr ? VideoList::kGrowthRoom : SourceGrowthRoom(id);
  std::lock_guard lock(m_mutex);
  const int total = m_grown[id] + added;
  if (room == 0 || added < 0 || total > room) return false;
  m_grown[id] = total;
  return true;
}

int SiteRoutes::Grown(std::int64_t id) const {
  std::lock_guard lock(m_mutex);
  const auto it = m_grown.find(id);
  return it == m_grown.end() ? 0 : it->second;
}

std::optional<VideoList> SiteRoutes::GrownList(const VideoList* list) const {
  if (list == nullptr) return std::nullopt;
  VideoList grown = *list;
  std::lock_guard lock(m_mutex);
  if (const auto it = m_grown.find(list->id); it != m_grown.end()) {
    grown.grown = it->second;
    grown.count += it->second;
  }
  return grown;
}

// The switch of a running korvid-fakesite: /fakesite/grow?list=ID&add=N.
Reply SiteRoutes::GrowRoute(const Incoming& in) {
  const auto id = ToInt(in.Param("list"));
  const auto added = ToInt(in.Param("add"));
  if (!id || !added || !GrowList(*id, static_cast<int>(*added)))
    return TextReply(400, "no such list");
  return TextReply(200, "grown");
}

void SiteRoutes::SetTitle(const std::string& bvid, std::string title) {
  std::lock_guard lock(m_mutex);
  m_titles[bvid] = std::move(title);
}

std::optional<Video> SiteRoutes::EditedVideo(std::optional<Video> video) const {
  if (!video) return video;
  std::lock_guard lock(m_mutex);
  if (m_unreadable.contains(video->bvid)) return std::nullopt;
  // A list's room for growing holds no video until the list grows into it.
  std::int64_t listId = 0;
  const int past = m_catalogue->PastCount(video->bvid, listId);
  const auto grown = m_grown.find(listId);
  if (past > 0 && past > (grown == m_grown.end() ? 0 : grown->second)) return std::nullopt;
  if (const auto title = m_titles.find(video->bvid); title != m_titles.end()) {
    video->data["title"] = title->second;
    if (video->state.is_object() && video->state.contains("videoData")) {
      video->state["videoData"]["title"] = title->second;
    }
  }
  return video;
}

Reply SiteRoutes::VideoPage(const std::string& bvid) {
  const auto video = EditedVideo(m_catalogue->FindVideo(bvid));
  const std::string title = video ? video->data.value("title", "") : "出错啦!";
  std::string html = "<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"UTF-8\"><title>" +
                     HtmlEscape(title) +
                     "_哔哩哔哩_bilibili</title></head><body>\n<div id=\"app\"></div>\n";
  int status = 200;
  if (!video) {
    status = 404;
  } else if (video->page != PageKind::NoState) {
    html +=
        "<script>window.__INITIAL_STATE__=" + DumpPageJson(PointedAtSite(video->state)) +
        ";(function(){var s;(s=document.currentScript||document.scripts[document.scripts.length-1])"
        ".parentNode.removeChild(s);}());</script>\n";
    status = video->page == PageKind::ErrorState404 ? 404 : 200;
  }
  html +=
      "<script src=\"//s1.hdslb.com/bfs/static/player/main/video.js\"></script>\n</body></html>\n";
  Reply reply = TextReply(status, html);
  reply.contentType = "text/html; charset=utf-8";
  return reply;
}

Reply SiteRoutes::View(const Incoming& in) {
  std::optional<Video> video;
  if (const std::string bvid = in.Param("bvid"); !bvid.empty()) {
    video = m_catalogue->FindVideo(bvid);
  } else if (const auto aid = ToInt(in.Param("aid"))) {
    video = m_catalogue->FindVideoByAid(*aid);
  } else {
    return JsonReply(kBadRequestBody);
  }
  video = EditedVideo(std::move(video));
  if (!video || video->view == ViewKind::NotFound) {
    return JsonReply(kNotFoundBody);
  }
  if (video->view == ViewKind::Blocked) {
    return JsonReply(kBlockedBody, 412);
  }
  return JsonReply(ApiOk(PointedAtSite(video->data)));
}

Reply SiteRoutes::PlayUrl(const Incoming& in) {
  const auto cid = ToInt(in.Param("cid"));
  if (!cid) {
    return JsonReply(kBadRequestBody);
  }
  if (!m_catalogue->KnowsCid(*cid)) {
    return JsonReply(kNotFoundBody);
  }
  const bool loggedIn = !in.request.Header("Cookie").empty();
  const std::int64_t fnval = ToInt(in.Param("fnval")).value_or(0);
  const bool dash = (fnval & kFnvalDash) != 0 && loggedIn && in.Param("platform") != "html5";
  return dash ? DashPlayUrl(*cid, fnval) : ProgressivePlayUrl(*cid, in.Param("qn"));
}

Reply SiteRoutes::DashPlayUrl(std::int64_t cid, std::int64_t fnval) const {
  // The recording's own code, message and ttl: current answers say "OK"
  // where older ones said "0".
  Json answer = m_catalogue->DashAnswerFor(cid);
  answer["data"] = KeepStreamsAskedFor(DashData(cid), fnval);
  return JsonReply(DumpApiJson(answer));
}

Reply SiteRoutes::ProgressivePlayUrl(std::int64_t cid, const std::string& quality) {
  return JsonReply(ApiOk(DurlData(cid, quality)));
}

Json SiteRoutes::DashData(std::int64_t cid) const {
  Json data = m_catalogue->DashAnswerFor(cid)["data"];
  const std::string base = BaseUrl();
  data["timelength"] = kMediaMilliseconds;
  data["last_play_cid"] = cid;
  data["dash"]["duration"] = kMediaMilliseconds / 1000;
  for (auto& entry : data["dash"]["video"]) {
    PointStreamAt(entry, base, cid);
  }
  for (auto& entry : data["dash"]["audio"]) {
    PointStreamAt(entry, base, cid);
  }
  return data;
}

Json SiteRoutes::DurlData(std::int64_t cid, const std::string& quality) {
  Json data = m_catalogue->DurlTemplate()["data"];
  const std::string qn = quality.empty() ? "64" : quality;
  const std::string url =
      BaseUrl() + "/media/progressive/" + std::to_string(cid) + "-1-" + qn + ".mp4" + kMediaQuery;
  Json segment = data["durl"][0];
  segment["order"] = 1;
  segment["length"] = kMediaMilliseconds;
  segment["size"] = m_media.Bytes(MediaKind::Progressive).size();
  segment["url"] = url;
  segment["backup_url"] = Json::array({BackupMediaUrl(url)});
  data["format"] = "mp4";
  data["timelength"] = kMediaMilliseconds;
  data["durl"] = Json::array({segment});
  return data;
}

Reply SiteRoutes::SpaceList(const Incoming& in) {
  ListPage page;
  const auto lookup = [this](std::int64_t mid) { return m_catalogue->FindSpace(mid); };
  if (auto refusal =
          ReadListPage(in, {"mid", lookup, kDefaultSpacePageSize, kSpacePageSizeMax}, page)) {
    return std::move(*refusal);
  }
  const std::optional<VideoList> grown = GrownList(page.list);
  const VideoList* space = &*grown;
  const int ps = page.ps;
  const int pn = page.pn;
  const std::string keyword = in.Param("keyword");
  const std::string tid = in.Param("tid");
  std::vector<int> matching;
  for (int position = 1; position <= space->count; ++position) {
    const int k = space->VideoAt(position);
    const bool tidMatches = tid.empty() || tid == "0" || tid == std::to_string(space->TypeId(k));
    const std::string title = space->name + " 第" + std::to_string(k) + "个";
    if (tidMatches && (keyword.empty() || title.find(keyword) != std::string::npos)) {
      matching.push_back(k);
    }
  }
  const Json& templ = m_catalogue->SpaceTemplate()["data"];
  const Json& first = templ["list"]["vlist"][0];
  Json vlist = Json::array();
  for (std::size_t i = static_cast<std::size_t>(pn - 1) * ps;
       i < matching.size() && vlist.size() < static_cast<std::size_t>(ps); ++i) {
    const Video video = m_catalogue->ListVideo(*space, matching[i]);
    Json entry = first;
    entry["comment"] = 0;
    entry["typeid"] = space->TypeId(matching[i]);
    entry["play"] = 100 + matching[i];
    entry["pic"] = video.data["pic"];
    entry["description"] = "";
    entry["title"] = video.data["title"];
    entry["author"] = space->name;
    entry["mid"] = space->id;
    entry["created"] = video.data["pubdate"];
    entry["length"] = "00:02";
    entry["video_review"] = 0;
    entry["aid"] = video.data["aid"];
    entry["bvid"] = video.bvid;
    entry["is_union_video"] = 0;
    entry["is_lesson_video"] = 0;
    entry["jump_url"] = "";
    entry["meta"] = nullptr;
    entry["season_id"] = 0;
    vlist.push_back(entry);
  }
  Json data = templ;
  data["list"]["tlist"] = Json::object();
  if (!matching.empty()) {
    data["list"]["tlist"][std::to_string(kListTypeId)] =
        Json{{"tid", kListTypeId}, {"count", matching.size()}, {"name", "日常"}};
  }
  data["list"]["vlist"] = vlist;
  data["page"] = Json{{"pn", pn}, {"ps", ps}, {"count", matching.size()}};
  return JsonReply(ApiOk(PointedAtSite(data)));
}

Reply SiteRoutes::Favourites(const Incoming& in) {
  ListPage page;
  const auto lookup = [this](std::int64_t id) { return m_catalogue->FindFavourites(id); };
  if (auto refusal = ReadListPage(
          in, {"media_id", lookup, kDefaultFavouritesPageSize, kFavouritesPageSizeMax}, page)) {
    return std::move(*refusal);
  }
  const std::optional<VideoList> grown = GrownList(page.list);
  const VideoList* folder = &*grown;
  const int ps = page.ps;
  const int pn = page.pn;
  const Json& templ = m_catalogue->FavouritesTemplate()["data"];
  Json data = templ;
  data["info"]["id"] = folder->id;
  data["info"]["title"] = folder->name;
  data["info"]["intro"] = "";
  data["info"]["media_count"] = folder->count;
  Json medias = Json::array();
  for (int position = (pn - 1) * ps + 1;
       position <= folder->count && static_cast<int>(medias.size()) < ps; ++position) {
    const Video video = m_catalogue->ListVideo(*folder, folder->VideoAt(position));
    Json media = templ["medias"][0];
    media["id"] = video.data["aid"];
    media["title"] = video.data["title"];
    media["cover"] = video.data["pic"];
    media["intro"] = "";
    media["duration"] = 2;
    media["upper"] =
        Json{{"mid", folder->id}, {"name", folder->name}, {"face", video.data["owner"]["face"]}};
    media["link"] = "bilibili://video/" + std::to_string(video.data["aid"].get<std::int64_t>());
    media["ctime"] = video.data["pubdate"];
    media["pubtime"] = video.data["pubdate"];
    media["fav_time"] = video.data["pubdate"];
    media["bv_id"] = video.bvid;
    media["bvid"] = video.bvid;
    medias.push_back(media);
  }
  // The site answers null, not [], when a page has no entries.
  data["medias"] = medias.empty() ? Json(nullptr) : medias;
  data["has_more"] = static_cast<std::int64_t>(pn) * ps < folder->count;
  return JsonReply(ApiOk(PointedAtSite(data)));
}

Reply SiteRoutes::AccountInfo(const Incoming& in) {
  const std::string sessdata = m_catalogue->Settings()["account"]["sessdata"].get<std::string>();
  const std::string sent = CookieValue(in.request.Header("Cookie"), "SESSDATA");
  if (sent != sessdata && !m_refresh->Accepts(sent)) {
    return JsonReply(kNotLoggedInBody);
  }
  return JsonReply(DumpApiJson(PointedAtSite(m_catalogue->Account())));
}

void SiteRoutes::SetLoginScript(LoginScript script) {
  std::lock_guard lock(m_mutex);
  m_loginScript = script;
}

std::string SiteRoutes::LoginCookie() const {
  const Json& account = m_catalogue->Settings()["account"];
  return "sid=fakesid1; DedeUserID=" + account["dedeUserId"].get<std::string>() +
         "; DedeUserID__ckMd5=0f1e2d3c4b5a6978; SESSDATA=" +
         account["sessdata"].get<std::string>() +
         "; bili_jct=" + account["biliJct"].get<std::string>();
}

Reply SiteRoutes::LoginUrl() {
  std::string key;
  {
    std::lock_guard lock(m_mutex);
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%016llx%016llx", 0xc3bd5286a2b40a82ULL,
                  static_cast<unsigned long long>(++m_issuedKeys));
    key = text.data();
    m_loginKeys[key] = LoginKey{m_loginScript, 0, false};
  }
  Json answer;
  answer["code"] = 0;
  answer["status"] = true;
  answer["ts"] = std::chrono::duration_cast<std::chrono::seconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count();
  answer["data"] = Json{{"url", "https://passport.bilibili.com/qrcode/h5/login?oauthKey=" + key},
                        {"oauthKey", key}};
  Reply reply = JsonReply(DumpApiJson(answer));
  reply.contentType = "application/json;charset=UTF-8";
  return reply;
}

Reply SiteRoutes::LoginPoll(const Incoming& in) {
  static const std::regex kKey(R"((?:^|&)oauthKey=([^&]*))");
  std::smatch match;
  std::string key = in.Param("oauthKey");
  if (key.empty() && std::regex_search(in.request.body, match, kKey)) {
    key = match[1].str();
  }
  auto failure = [](int data, const char* message) {
    Reply reply = JsonReply(std::string(R"({"status":false,"data":)") + std::to_string(data) +
                            R"(,"message":")" + message + "\"}");
    reply.contentType = "application/json;charset=UTF-8";
    return reply;
  };
  LoginKey state;
  {
    std::lock_guard lock(m_mutex);
    const auto it = m_loginKeys.find(key);
    if (it == m_loginKeys.end()) {
      return failure(-1, "Can't Match oauthKey~");
    }
    if (it->second.finished) {
      return failure(-2, "Can't Match oauthKey~");
    }
    state = it->second;
    state.polls = ++it->second.polls;
    const int waiting = state.script.notScannedPolls + state.script.notConfirmedPolls;
    it->second.finished = state.polls > waiting;
  }
  if (state.polls <= state.script.notScannedPolls) {
    return failure(-4, "Can't scan~");
  }
  if (state.polls <= state.script.notScannedPolls + state.script.notConfirmedPolls) {
    return failure(-5, "Can't confirm~");
  }
  if (state.script.expire) {
    return failure(-2, "Can't Match oauthKey~");
  }
  const Json& account = m_catalogue->Settings()["account"];
  const std::string sessdata = account["sessdata"].get<std::string>();
  const std::string userId = account["dedeUserId"].get<std::string>();
  const std::string csrf = account["biliJct"].get<std::string>();
  Json answer;
  answer["code"] = 0;
  answer["status"] = true;
  answer["ts"] = std::chrono::duration_cast<std::chrono::seconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count();
  answer["data"] =
      Json{{"url", "https://passport.biligame.com/crossDomain?DedeUserID=" + userId +
                       "&DedeUserID__ckMd5=0f1e2d3c4b5a6978&Expires=15551000&SESSDATA=" + sessdata +
                       "&bili_jct=" + csrf + "&gourl=http%3A%2F%2Fwww.bilibili.com"}};
  Reply reply = JsonReply(DumpApiJson(answer));
  reply.contentType = "application/json;charset=UTF-8";
  const std::string tail = "; Domain=.bilibili.com; Expires=Mon, 31-Aug-2037 10:19:57 GMT; Path=/";
  reply.headers = {{"Set-Cookie", "sid=fakesid1" + tail},
                   {"Set-Cookie", "DedeUserID=" + userId + tail},
                   {"Set-Cookie", "DedeUserID__ckMd5=0f1e2d3c4b5a6978" + tail},
                   {"Set-Cookie", "SESSDATA=" + sessdata + tail + "; HttpOnly"},
                   {"Set-Cookie", "bili_jct=" + csrf + tail}};
  return reply;
}

Reply SiteRoutes::Comments(const std::string& cidText) {
  const auto cid = ToInt(cidText);
  if (!cid) {
    return TextReply(404, "not found");
  }
  std::string body;
  {
    std::lock_guard lock(m_mutex);
    if (const auto it = m_deflated.find(*cid); it != m_deflated.end()) {
      body = it->second;
    }
  }
  if (body.empty()) {
    std::ifstream in(m_catalogue->CommentFile(*cid), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    body = DeflateRaw(text.str());
    std::lock_guard lock(m_mutex);
    m_deflated[*cid] = body;
  }
  Reply reply;
  reply.contentType = "text/xml";
  reply.body = std::move(body);
  // The comment host labels its raw deflate body this way; a client that
  // decodes Content-Encoding by itself hands back XML instead of deflate.
  reply.headers = {{"Content-Encoding", "deflate"}};
  return reply;
}

Reply SiteRoutes::MediaFile(MediaKind kind) {
  std::string bytes = m_media.Bytes(kind);
  if (bytes.empty()) {
    return TextReply(500, "media file could not be made with ffmpeg");
  }
  Reply reply;
  reply.contentType = ContentTypeOf(kind);
  // Validators of the bytes, so a client can tell a resumed body is the same.
  const std::size_t sample = std::min<std::size_t>(bytes.size(), kEtagSampleBytes);
  const std::size_t hash = std::hash<std::string_view>{}(std::string_view(bytes.data(), sample));
  reply.headers = {
      {"ETag", "\"" + std::to_string(hash) + "-" + std::to_string(bytes.size()) + "\""},
      {"Last-Modified", kMediaLastModified}};
  reply.body = std::move(bytes);
  reply.honoursRange = true;
  return reply;
}

bool SiteRoutes::EmbyKeyMatches(const Incoming& in) const {
  const std::string key = EmbyApiKey();
  const std::string given =
      in.Param("api_key").empty() ? in.request.Header("X-Emby-Token") : in.Param("api_key");
  return !key.empty() && given == key;
}

Reply SiteRoutes::EmbyPersons(const Incoming& in) {
  if (!EmbyKeyMatches(in)) {
    return TextReply(401, "Access token is invalid or expired.");
  }
  const Json& emby = m_catalogue->Settings()["emby"];
  Json items = Json::array();
  for (const auto& person : EmbyPersonList()) {
    const std::string id = person["Id"].get<std::string>();
    Json item;
    item["Name"] = person["Name"];
    item["ServerId"] = emby["serverId"];
    item["Id"] = id;
    item["Type"] = "Person";
    item["ImageTags"] = Json::object();
    {
      std::lock_guard lock(m_mutex);
      if (m_embyHasImage[id]) {
        item["ImageTags"]["Primary"] = "0d1e2f3a4b5c6d7e8f90a1b2c3d4e5f6";
      }
    }
    item["BackdropImageTags"] = Json::array();
    items.push_back(item);
  }
  Json answer;
  answer["Items"] = items;
  answer["TotalRecordCount"] = items.size();
  return JsonReply(answer.dump());
}

Reply SiteRoutes::EmbyImage(const Incoming& in, const std::string& itemId,
                            const std::string& imageType) {
  if (!EmbyKeyMatches(in)) {
    return TextReply(401, "Access token is invalid or expired.");
  }
  bool known = false;
  for (const auto& person : EmbyPersonList()) {
    known = known || person["Id"].get<std::string>() == itemId;
  }
  if (!known) {
    return TextReply(404, "Item not found");
  }
  if (!IsBase64(in.request.body)) {
    return TextReply(400, "Image data is not Base64");
  }
  std::lock_guard lock(m_mutex);
  m_embyUploads.push_back({itemId, imageType, in.request.Header("Content-Type"), in.request.body});
  m_embyHasImage[itemId] = true;
  Reply reply = TextReply(200, "");
  return reply;
}

Json SiteRoutes::EmbyPersonList() const {
  std::lock_guard lock(m_mutex);
  return m_embyPersons ? *m_embyPersons : m_catalogue->Settings()["emby"]["persons"];
}

void SiteRoutes::SetEmbyPersons(Json persons) {
  std::lock_guard lock(m_mutex);
  m_embyPersons = std::move(persons);
}

void SiteRoutes::SetEmbyApiKey(std::string key) {
  std::lock_guard lock(m_mutex);
  m_embyApiKey = std::move(key);
}

std::string SiteRoutes::EmbyApiKey() const {
  std::lock_guard lock(m_mutex);
  return m_embyApiKey;
}

std::vector<EmbyUpload> SiteRoutes::EmbyUploads() const {
  std::lock_guard lock(m_mutex);
  return m_embyUploads;
}

}  // namespace korvid::fakesite
