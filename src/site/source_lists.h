#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/json_document.h"
#include "net/site_hosts.h"
#include "site/classify_link.h"
#include "site/site_transport.h"

// The sources a user follows beside spaces and favourites, read one page at a
// time: an uploader's collection (合集) and series (列表), the watch-later
// list, and a video's own collection. Plain calls without rows or notices, so
// the link box and a subscription reader can share them. Blocking: workers only.
namespace korvid {

inline constexpr int kCollectionPageSize = 30;
inline constexpr int kSeriesPageSize = 20;
// Whatever total a source claims, it is read for at most this many pages.
inline constexpr int kSourceMaxPages = 1000;

inline constexpr std::string_view kWatchLaterNeedsLogin = "稍后再看需要登录";

// One page of a source: its videos in the source's own order.
struct SourcePage {
  std::vector<std::string> bvids;
  // A licensed season: the ep_id of each episode, in order (bvids then holds
  // theirs where the season gives them).
  std::vector<std::string> epIds;
  int total = 0;  // the number of videos the source claims (page.total); 0 when unknown
  // Set when the site refused or did not answer: the text for the user.
  std::optional<std::string> refusal;
};

[[nodiscard]] std::string CollectionPageUrl(std::string_view mid, std::string_view seasonId,
                                            int page, const SiteHosts& hosts);
[[nodiscard]] std::string SeriesPageUrl(std::string_view mid, std::string_view seriesId, int page,
                                        const SiteHosts& hosts);
[[nodiscard]] std::string WatchLaterUrl(const SiteHosts& hosts);

// Page `page` (from 1) of a collection, asked with the space list's browser
// headers (seasons_archives_list).
[[nodiscard]] SourcePage ReadCollectionPage(SiteTransport& transport, std::string_view mid,
                                            std::string_view seasonId, int page);
// Page `page` of a series, oldest first (series/archives, sort=asc).
[[nodiscard]] SourcePage ReadSeriesPage(SiteTransport& transport, std::string_view mid,
                                        std::string_view seriesId, int page);
// The whole watch-later list (the site pages it not). Without a log-in
// cookie, or when the site says the cookie is not logged in, the refusal is
// kWatchLaterNeedsLogin and nothing is asked or listed.
[[nodiscard]] SourcePage ReadWatchLater(SiteTransport& transport, std::string_view loginCookie);

// Whether page `page` of pageSize was the last of a source claiming `total`
// videos, or of an empty page.
[[nodiscard]] bool LastSourcePage(const SourcePage& read, int page, int pageSize);

// Page `page` of any source a link names (collection, series, watch later,
// a licensed season by ss, md or ep link: the whole season on page 1, with
// its extras when asked), for readers that follow a source page by page.
// A link of another kind reads as refused.
[[nodiscard]] SourcePage ReadSourcePage(SiteTransport& transport, const ClassifiedLink& link,
                                        int page, std::string_view loginCookie, bool extras);
// The page size of a kind's pages (0 for a source of one page).
[[nodiscard]] int SourcePageSize(const ClassifiedLink& link);

// The videos of the collection a video belongs to (data.ugc_season of its
// information answer), every section in order; empty when it belongs to none.
[[nodiscard]] std::vector<std::string> VideoCollectionBvids(const JsonDocument& videoInfo);

}  // namespace korvid
