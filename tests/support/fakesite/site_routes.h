#pragma once

#include <httplib.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/fakesite/catalogue.h"
#include "support/fakesite/cookie_refresh_routes.h"
#include "support/fakesite/fake_site.h"
#include "support/fakesite/media_cache.h"
#include "support/fakesite/recording_server.h"

namespace korvid::fakesite {

// One answer before any fault is applied.
struct Reply {
  int status = 200;
  std::string contentType = "application/json; charset=utf-8";
  std::string body;
  HeaderList headers;
  bool honoursRange = false;  // media files answer Range requests with 206
};

[[nodiscard]] Reply JsonReply(std::string body, int status = 200);
[[nodiscard]] Reply TextReply(int status, std::string body);

// A request as the routes see it: the log entry plus httplib's parsed query.
struct Incoming {
  const RecordedRequest& request;
  const httplib::Request& parsed;

  // Decoded query value; empty when absent.
  [[nodiscard]] std::string Param(const std::string& name) const;
};

// The built-in answers of every host the fake site plays. Thread-safe.
class SiteRoutes {
 public:
  SiteRoutes(const std::filesystem::path& dataDir, std::filesystem::path mediaDir);

  // Where the answers' own URLs (media, images) point: "http://127.0.0.1:PORT".
  void SetBaseUrl(std::string baseUrl);
  [[nodiscard]] Reply Route(const Incoming& in);
  [[nodiscard]] static bool ServesRanges(const std::string& path);

  [[nodiscard]] const std::string& LoadError() const { return m_loadError; }
  [[nodiscard]] const Catalogue& Videos() const { return *m_catalogue; }

  void SetLoginScript(LoginScript script);
  void RetireQrLogin(QrLoginRetirement retirement);
  [[nodiscard]] std::string LoginCookie() const;
  void SetEmbyApiKey(std::string key);
  [[nodiscard]] std::string EmbyApiKey() const;
  [[nodiscard]] std::vector<EmbyUpload> EmbyUploads() const;
  // Replaces the catalogue's Emby persons ({"Name","Id"} objects).
  void SetEmbyPersons(Json persons);
  [[nodiscard]] MediaCache& Media() { return m_media; }

  // Edits of the catalogue's videos: an unreadable one answers like a video
  // the site does not have (page 404, view -404); a title replaces its own
  // in the page state and the view answer.
  void SetUnreadable(const std::string& bvid);
  void SetTitle(const std::string& bvid, std::string title);
  // Adds videos to the top of a space or favourites folder (by mid or media
  // id), up to VideoList::kGrowthRoom in all; to the end of the collection
  // (by season_id, up to its space's videos) or the series (by series_id);
  // episodes to the end of the licensed season (by season_id, up to 20).
  // False for an unknown list.
  [[nodiscard]] bool GrowList(std::int64_t id, int added);
  [[nodiscard]] CookieRefreshRoutes& CookieRefresh() { return *m_refresh; }

  // The site's current calls (site_routes_current.cpp).
  void SetRetired(Retired which);
  void SetWbiKeys(std::string imgKey, std::string subKey);

 private:
  struct LoginKey {
    LoginScript script;
    int polls = 0;
    bool finished = false;
  };

  [[nodiscard]] std::string BaseUrl() const;
  [[nodiscard]] Json PointedAtSite(Json value) const;

  // The list as it is now: the catalogue's, grown by GrowList.
  [[nodiscard]] std::optional<VideoList> GrownList(const VideoList* list) const;
  [[nodiscard]] Reply GrowRoute(const Incoming& in);
  [[nodiscard]] std::optional<Video> EditedVideo(std::optional<Video> video) const;
  [[nodiscard]] Reply VideoPage(const std::string& bvid);
  [[nodiscard]] Reply View(const Incoming& in);
  [[nodiscard]] Reply PlayUrl(const Incoming& in);
  [[nodiscard]] Reply DashPlayUrl(std::int64_t cid, std::int64_t fnval) const;
  [[nodiscard]] Reply ProgressivePlayUrl(std::int64_t cid, const std::string& quality);
  [[nodiscard]] Json DashData(std::int64_t cid) const;
  [[nodiscard]] Json DurlData(std::int64_t cid, const std::string& quality);
  [[nodiscard]] Reply SpaceList(const Incoming& in);
  [[nodiscard]] Reply Favourites(const Incoming& in);
  [[nodiscard]] Reply AccountInfo(const Incoming& in);
  [[nodiscard]] Reply LoginUrl();
  [[nodiscard]] Reply LoginPoll(const Incoming& in);
  // The newer QR pair and the retirement switch (passport_routes.cpp).
  [[nodiscard]] std::optional<Reply> PassportRoute(const Incoming& in);
  [[nodiscard]] Reply WebQrGenerate();
  [[nodiscard]] Reply WebQrPoll(const Incoming& in);
  [[nodiscard]] HeaderList LoginSetCookies() const;
  [[nodiscard]] Reply Comments(const std::string& cidText);
  [[nodiscard]] Reply MediaFile(MediaKind kind);
  [[nodiscard]] Reply EmbyPersons(const Incoming& in);
  [[nodiscard]] Reply EmbyImage(const Incoming& in, const std::string& itemId,
                                const std::string& imageType);
  [[nodiscard]] bool EmbyKeyMatches(const Incoming& in) const;
  [[nodiscard]] Json EmbyPersonList() const;

  // Answers of the current calls, and of older calls once retired; none for
  // the rest.
  [[nodiscard]] std::optional<Reply> CurrentApiRoute(const Incoming& in);
  [[nodiscard]] Reply Nav(const Incoming& in);
  [[nodiscard]] Reply Finger();
  [[nodiscard]] Reply SignedSpaceList(const Incoming& in);
  [[nodiscard]] bool SignatureValid(const Incoming& in) const;
  // Collections, series, watch later and licensed seasons
  // (site_routes_sources.cpp); none for other paths.
  [[nodiscard]] std::optional<Reply> SourceRoute(const Incoming& in);
  // How far a source (collection, series, season) may grow; 0 for no source.
  [[nodiscard]] int SourceGrowthRoom(std::int64_t id) const;
  [[nodiscard]] int Grown(std::int64_t id) const;
  // The season answer with its grown episodes.
  [[nodiscard]] Json GrownSeason() const;
  [[nodiscard]] Json ListArchives(const Json& shape, std::int64_t mid,
                                  const std::vector<int>& order, int first, int count) const;
  [[nodiscard]] Reply CollectionArchives(const Incoming& in);
  [[nodiscard]] Reply SeriesArchives(const Incoming& in);
  [[nodiscard]] bool LoggedIn(const Incoming& in) const;
  [[nodiscard]] Reply WatchLater(const Incoming& in);
  [[nodiscard]] Reply PgcSeason(const Incoming& in);
  [[nodiscard]] Reply PgcReview(const Incoming& in);
  [[nodiscard]] Reply PgcPlayUrl(const Incoming& in);
  // The player answer with the page's subtitle list, and a subtitle body.
  [[nodiscard]] Reply Player(const Incoming& in, bool signedCall);
  [[nodiscard]] Reply SubtitleBody();

  std::string m_loadError;
  // Loaded once per data folder and process; read-only afterwards.
  std::shared_ptr<const Catalogue> m_catalogue;
  MediaCache m_media;
  std::unique_ptr<CookieRefreshRoutes> m_refresh;

  mutable std::mutex m_mutex;
  std::string m_baseUrl;
  LoginScript m_loginScript;
  QrLoginRetirement m_qrRetirement;
  std::map<std::string, LoginKey> m_loginKeys;
  int m_issuedKeys = 0;
  std::string m_embyApiKey;
  std::vector<EmbyUpload> m_embyUploads;
  std::optional<Json> m_embyPersons;
  std::map<std::string, bool> m_embyHasImage;
  std::map<std::int64_t, std::string> m_deflated;
  Retired m_retired = Retired::kNothing;
  std::set<std::string> m_unreadable;
  std::map<std::string, std::string> m_titles;
  std::map<std::int64_t, int> m_grown;  // videos added per list id
  std::string m_wbiImgKey;              // empty: the keys of the nav data file
  std::string m_wbiSubKey;
};

// fnval bits of playurl: 16 asks for DASH; the others add stream kinds.
inline constexpr std::int64_t kFnvalDash = 16;
inline constexpr std::int64_t kFnvalAv1 = 2048;
// The DASH data as the site answers that fnval: AV1 entries only with 2048,
// HDR (125), 4K (120), Dolby Vision (126) and 8K (127) only with their bits
// (64, 128, 512, 1024), so fnval 16 gets the recording's AVC and HEVC
// entries and fnval 4048 all of them (site_routes_streams.cpp).
[[nodiscard]] Json KeepStreamsAskedFor(Json data, std::int64_t fnval);

// A media address's backup: the same file under /media/backup/ (so a fault
// on /media/video/ ... leaves the backups served), and the kind a backup path
// serves (site_routes_streams.cpp).
[[nodiscard]] std::string BackupMediaUrl(const std::string& url);
[[nodiscard]] std::optional<MediaKind> BackupMediaKind(const std::string& path);

// Site JSON as the API writes it: compact, with & < > escaped as \u0026 ...
[[nodiscard]] std::string DumpApiJson(const Json& value);
// The refresh token a QR log-in of the fake site yields.
inline constexpr const char* kQrRefreshToken = "fakesite0refresh0token";
// Page state as the web pages embed it: compact, '/' written as \u002F.
[[nodiscard]] std::string DumpPageJson(const Json& value);
// Raw deflate (no zlib or gzip wrapper), as the comment host sends.
[[nodiscard]] std::string DeflateRaw(const std::string& bytes);
[[nodiscard]] std::string Gzip(const std::string& bytes);

}  // namespace korvid::fakesite
