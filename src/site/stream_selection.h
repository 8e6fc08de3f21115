#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controls/controls.h"
#include "net/json_document.h"
#include "site/wbi_keys.h"

// The site's playurl requests and the choice of the stream a task downloads.
namespace korvid {

// Texts of a refusal that has no message of the site's own.
inline constexpr std::string_view kNoPlayUrlAnswer = "无法获取下载地址";
inline constexpr std::string_view kNoStreamAddress = "无可用的下载地址";

// What the task download fetches for one task.
struct StreamChoice {
  std::string url;
  // ".视频" or ".音频" for a task of a split page, empty for a whole video.
  std::string suffix;
  // Set when no address can be downloaded: the site's message when it
  // refused, else one of the texts above. The row then reads "下载:" + it.
  std::optional<std::string> refusal;
  // The site's other addresses of the same stream, to try in order when url
  // cannot be had.
  std::vector<std::string> backups;
  // With refusal: the site could not be reached at all (no answer came).
  bool unreachable = false;

  [[nodiscard]] bool Refused() const { return refusal.has_value(); }
};

// The playurl addresses (the query keys and fixed values are the site's).
[[nodiscard]] std::string DashPlayUrlAddress(std::string_view cid, std::string_view bvid,
                                             std::string_view aid);
[[nodiscard]] std::string ProgressivePlayUrlAddress(std::string_view aid, std::string_view cid);

// One playurl answer. A request that got no JSON back reads as an answer
// without `code`.
struct PlayUrlAnswer {
  JsonDocument json;
  // The name lookup or the connection failed: the site gave no answer.
  bool unreachable = false;

  // The site decides by `code`: 0 is success, whatever `message` says
  // (current answers carry "OK", older ones "0").
  [[nodiscard]] bool Accepted() const;
  // The refusal text of an answer that was not accepted.
  [[nodiscard]] std::string RefusalText() const;
};

inline constexpr std::string_view kPlayUrlPath = "/x/player/playurl";
inline constexpr std::string_view kSignedPlayUrlPath = "/x/player/wbi/playurl";

using PlayUrlGet = std::function<PlayUrlAnswer(std::string_view url)>;
// The DASH playurl as the site's own player asks for it: the signed call
// (kSignedPlayUrlPath, the same query plus the fingerprint fields, signed),
// its keys fetched again once on -352; when refused, the unsigned call.
// The signed call's refusal is the answer when the site explained it and the
// unsigned call failed too. Blocking; worker threads only.
[[nodiscard]] PlayUrlAnswer RequestSignedPlayUrl(std::string_view unsignedUrl, WbiKeyCache& keys,
                                                 const PlayUrlGet& get, const UnixClock& now = {});

// Blocking requests; worker threads only. The DASH form sends the cookie text
// (the log-in cookie of 编辑框_cookies); an empty text sends no cookie.
[[nodiscard]] PlayUrlAnswer RequestDashPlayUrl(std::string_view cid, std::string_view bvid,
                                               std::string_view aid, std::string_view cookies);
[[nodiscard]] PlayUrlAnswer RequestProgressivePlayUrl(std::string_view aid, std::string_view cid);

// The player call of a licensed work's episode (番剧, 电影 ...): DASH for a
// split task, else one MP4 file; the answer's "result" read as "data".
inline constexpr std::string_view kLicensedPlayUrlPath = "/pgc/player/web/playurl";
[[nodiscard]] std::string LicensedPlayUrlAddress(std::string_view epId, std::string_view cid,
                                                 bool dash);
[[nodiscard]] PlayUrlAnswer RequestLicensedPlayUrl(std::string_view epId, std::string_view cid,
                                                   bool dash, std::string_view cookies);
// Whether the log-in cookie belongs to a VIP member (/x/space/myinfo); false
// without asking for an empty cookie.
[[nodiscard]] bool VipLogin(std::string_view cookies);

// The settings that decide the stream, read when the download starts (so a
// change in the panel after a task was added changes what it downloads).
struct StreamSettings {
  std::string cookies;           // 编辑框_cookies
  int codecIndex = 0;            // selected index of 下拉框_默认编码
  std::int64_t sourceValue = 0;  // value of the selected item of 下拉框_默认下载源

  [[nodiscard]] static StreamSettings Read(const Controls& controls);
};

// Video and audio addresses chosen from a DASH answer.
inline constexpr int kAv1CodecIndex = 2;

struct DashPick {
  std::string video;
  std::string audio;
  std::vector<std::string> videoBackups;  // the backup addresses of each
  std::vector<std::string> audioBackups;
};

// 下拉框_默认编码: index 0 asks for AVC, kAv1CodecIndex for AV1, any other for
// HEVC. The first video entry of that codec is taken (entries come best
// quality first); an answer without AV1 is taken as HEVC; one without the
// codec gives entry 0 (index 0) or entry 1. The audio is the entry
// with the highest bandwidth.
[[nodiscard]] DashPick PickByCodecIndex(const JsonDocument& answer, int codecIndex);
// A stream-list value: the first video entry whose codec prefix and quality
// id match what the value names, else entry 0; audio as above.
[[nodiscard]] DashPick PickBySourceValue(const JsonDocument& answer, std::int64_t sourceValue);

// Stream selection for one task record (the keys AddVideo writes). Blocking.
[[nodiscard]] StreamChoice SelectStream(std::string_view taskRecord,
                                        const StreamSettings& settings);
// The same with the settings read from the controls at this moment.
[[nodiscard]] StreamChoice SelectStream(std::string_view taskRecord, const Controls& controls);

// The items of 下拉框_默认下载源 for a DASH answer, in the answer's order.
[[nodiscard]] std::vector<DropItem> StreamListItems(const JsonDocument& answer);

}  // namespace korvid
