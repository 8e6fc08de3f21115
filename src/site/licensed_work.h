#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/json_document.h"
#include "net/site_hosts.h"
#include "site/classify_link.h"
#include "site/site_transport.h"

// Licensed works (番剧, 电影, 纪录片 ...): a season and its episodes as the
// site's season call answers them (under "result", not "data"), and the task
// record of one episode. Blocking calls: workers only.
namespace korvid {

inline constexpr std::string_view kNeedsVip = "需要大会员";
// A season the site did not give.
inline constexpr std::string_view kSeasonFailed = "读取番剧失败";

enum class SeasonKey { kSeasonId, kEpisodeId };

[[nodiscard]] std::string SeasonUrl(SeasonKey key, std::string_view id, const SiteHosts& hosts);
[[nodiscard]] std::string MediaReviewUrl(std::string_view mediaId, const SiteHosts& hosts);

struct SeasonAnswer {
  JsonDocument answer;  // the whole answer; the season under "result"
  std::optional<std::string> refusal;
};
[[nodiscard]] SeasonAnswer ReadSeason(SiteTransport& transport, SeasonKey key, std::string_view id);
// The season_id a media_id (the md of a link) names; the refusal text when
// there is none.
[[nodiscard]] std::optional<std::string> SeasonOfMedia(SiteTransport& transport,
                                                       std::string_view mediaId,
                                                       std::string& refusal);

// The season a link of a licensed work names: an ss link's, an md link's
// (through the media review), or the one an ep link's episode belongs to.
[[nodiscard]] SeasonAnswer ReadLinkedSeason(SiteTransport& transport, LinkKind kind,
                                            std::string_view id);

// One episode of a season answer.
struct SeasonEpisode {
  std::string path;  // its object in the answer: "result.episodes[0]", "result.section[0]..."
  int number = 0;    // from 1: among the main episodes, or among the extras
  bool extra = false;
};
// The main episodes in order, then with extras those of every section in order.
[[nodiscard]] std::vector<SeasonEpisode> SeasonEpisodes(const JsonDocument& season, bool extras);
// The episode of that ep_id, main or extra.
[[nodiscard]] std::optional<SeasonEpisode> FindEpisode(const JsonDocument& season,
                                                       std::string_view epId);

// Its ep_id (else its id).
[[nodiscard]] std::string EpisodeId(const JsonDocument& season, const SeasonEpisode& episode);

// show_title, else "第<title>话 <long_title>" for a main episode whose title
// is a number, else title and long_title.
[[nodiscard]] std::string EpisodeTitle(const JsonDocument& season, const SeasonEpisode& episode);
// Marked for VIP members only: status 13 or the badge "会员".
[[nodiscard]] bool VipOnlyEpisode(const JsonDocument& episode);

// The task record of one episode, before the row keys: "data" shaped like a
// video answer of one page (bvid, aid, title = the season title, pic, desc,
// pubdate, pages[0] with cid, part and duration in seconds) and the episode
// under record::kLicensed.
[[nodiscard]] JsonDocument EpisodeRecord(const JsonDocument& season, const SeasonEpisode& episode);

}  // namespace korvid
