#include "site/source_lists.h"

#include <cmath>
#include <utility>

#include "site/classify_link.h"
#include "site/licensed_work.h"
#include "site/signed_space_list.h"

namespace korvid {
namespace {

constexpr std::string_view kCodeNotLoggedIn = "-101";

bool OnApiHost(std::string_view url, const SiteHosts& hosts) {
  return url.starts_with(hosts.api + "/");
}

// The answer when its code is 0; else the refusal, named as for a space list.
SourcePage Refused(const ApiReply& reply) {
  SourcePage page;
  page.refusal = ListRefusalNotice(reply);
  return page;
}

int WholeCount(double count) {
  if (!std::isfinite(count) || count < 0 || count > 1e9) return 0;
  return static_cast<int>(count);
}

// The bvids of an array of archive objects, in order.
std::vector<std::string> BvidsOf(const JsonDocument& answer, std::string_view array) {
  std::vector<std::string> bvids;
  const int count = answer.GetCount(array);
  for (int i = 0; i < count; ++i) {
    std::string bvid = answer.GetValue(std::string(array) + "[" + std::to_string(i) + "].bvid");
    if (!bvid.empty()) bvids.push_back(std::move(bvid));
  }
  return bvids;
}

SourcePage ReadArchives(const ApiReply& reply, std::string_view totalPath) {
  JsonDocument answer;
  if (!answer.Parse(reply.body) || answer.GetValue("code") != "0") return Refused(reply);
  SourcePage page;
  page.bvids = BvidsOf(answer, "data.archives");
  page.total = WholeCount(answer.GetNumber(totalPath));
  return page;
}

}  // namespace

std::string CollectionPageUrl(std::string_view mid, std::string_view seasonId, int page,
                              const SiteHosts& hosts) {
  return hosts.api + "/x/polymer/web-space/seasons_archives_list?mid=" + std::string(mid) +
         "&season_id=" + std::string(seasonId) +
         "&sort_reverse=false&page_num=" + std::to_string(page) +
         "&page_size=" + std::to_string(kCollectionPageSize) + "&web_location=333.999";
}

std::string SeriesPageUrl(std::string_view mid, std::string_view seriesId, int page,
                          const SiteHosts& hosts) {
  return hosts.api + "/x/series/archives?mid=" + std::string(mid) +
         "&series_id=" + std::string(seriesId) +
         "&only_normal=true&sort=asc&pn=" + std::to_string(page) +
         "&ps=" + std::to_string(kSeriesPageSize);
}

std::string WatchLaterUrl(const SiteHosts& hosts) {
  return hosts.api + "/x/v2/history/toview";
}

SourcePage ReadCollectionPage(SiteTransport& transport, std::string_view mid,
                              std::string_view seasonId, int page) {
  const SiteHosts hosts = CurrentSiteHosts();
  const std::string url = CollectionPageUrl(mid, seasonId, page, hosts);
  if (!OnApiHost(url, hosts)) return Refused(ApiReply());
  return ReadArchives(transport.GetSpaceList(url), "data.page.total");
}

SourcePage ReadSeriesPage(SiteTransport& transport, std::string_view mid, std::string_view seriesId,
                          int page) {
  const SiteHosts hosts = CurrentSiteHosts();
  const std::string url = SeriesPageUrl(mid, seriesId, page, hosts);
  if (!OnApiHost(url, hosts)) return Refused(ApiReply());
  return ReadArchives(ApiReply(transport.GetApi(url)), "data.page.total");
}

SourcePage ReadWatchLater(SiteTransport& transport, std::string_view loginCookie) {
  SourcePage page;
  if (loginCookie.empty()) {
    page.refusal = std::string(kWatchLaterNeedsLogin);
    return page;
  }
  const ApiReply reply(transport.GetApiLoggedIn(WatchLaterUrl(CurrentSiteHosts()), loginCookie));
  JsonDocument answer;
  if (answer.Parse(reply.body) && answer.GetValue("code") == kCodeNotLoggedIn) {
    page.refusal = std::string(kWatchLaterNeedsLogin);
    return page;
  }
  if (!answer.Parse(reply.body) || answer.GetValue("code") != "0") return Refused(reply);
  page.bvids = BvidsOf(answer, "data.list");
  page.total = WholeCount(answer.GetNumber("data.count"));
  return page;
}

bool LastSourcePage(const SourcePage& read, int page, int pageSize) {
  if (read.bvids.empty() || page >= kSourceMaxPages) return true;
  return static_cast<long long>(page) * pageSize >= read.total;
}

namespace {

SourcePage ReadSeasonPage(SiteTransport& transport, const ClassifiedLink& link, bool extras) {
  SourcePage page;
  const SeasonAnswer season = ReadLinkedSeason(transport, link.kind, link.id);
  if (season.refusal) {
    page.refusal = season.refusal;
    return page;
  }
  for (const SeasonEpisode& episode : SeasonEpisodes(season.answer, extras)) {
    page.epIds.push_back(season.answer.GetValue(episode.path + ".ep_id"));
    std::string bvid = season.answer.GetValue(episode.path + ".bvid");
    if (!bvid.empty()) page.bvids.push_back(std::move(bvid));
  }
  page.total = static_cast<int>(page.epIds.size());
  return page;
}

}  // namespace

SourcePage ReadSourcePage(SiteTransport& transport, const ClassifiedLink& link, int page,
                          std::string_view loginCookie, bool extras) {
  switch (link.kind) {
    case LinkKind::kCollection:
      return ReadCollectionPage(transport, link.mid, link.id, page);
    case LinkKind::kSeries:
      return ReadSeriesPage(transport, link.mid, link.id, page);
    case LinkKind::kWatchLater:
      return page == 1 ? ReadWatchLater(transport, loginCookie) : SourcePage{};
    case LinkKind::kPgcEpisode:
    case LinkKind::kPgcSeason:
    case LinkKind::kPgcMedia:
      return page == 1 ? ReadSeasonPage(transport, link, extras) : SourcePage{};
    default:
      break;
  }
  SourcePage refused;
  refused.refusal = std::string(kListFailed);
  return refused;
}

int SourcePageSize(const ClassifiedLink& link) {
  if (link.kind == LinkKind::kCollection) return kCollectionPageSize;
  if (link.kind == LinkKind::kSeries) return kSeriesPageSize;
  return 0;
}

std::vector<std::string> VideoCollectionBvids(const JsonDocument& videoInfo) {
  std::vector<std::string> bvids;
  const std::string sections = "data.ugc_season.sections";
  const int count = videoInfo.GetCount(sections);
  for (int s = 0; s < count; ++s) {
    const std::string episodes = sections + "[" + std::to_string(s) + "].episodes";
    for (std::string& bvid : BvidsOf(videoInfo, episodes)) bvids.push_back(std::move(bvid));
  }
  return bvids;
}

}  // namespace korvid
