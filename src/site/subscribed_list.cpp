#include "site/subscribed_list.h"

#include <utility>

#include "app/tasks/library_store.h"
#include "net/json_document.h"
#include "site/signed_space_list.h"
#include "site/site_lists.h"
#include "site/source_lists.h"
#include "site/wbi_keys.h"

namespace korvid {

namespace {

bool IsRiskControl(std::string_view notice) {
  return notice == kRiskControlNotice;
}

std::vector<std::string> Column(const JsonDocument& answer, std::string_view array, int entries) {
  std::vector<std::string> bvids;
  for (int i = 0; i < entries; ++i) {
    std::string bvid = answer.GetValue(std::string(array) + "[" + std::to_string(i) + "].bvid");
    if (!bvid.empty()) bvids.push_back(std::move(bvid));
  }
  return bvids;
}

ListPageRead Refused(std::string notice) {
  ListPageRead read;
  read.refused = true;
  read.riskControl = IsRiskControl(notice);
  read.notice = std::move(notice);
  return read;
}

// One page of an uploader's list, in the site's order (newest first).
// `whole`: the link names every page (else only the link's own page).
ListPageRead ReadSpacePage(SiteTransport& transport, const std::string& boxText, ListMode mode,
                           int page, const SiteHosts& hosts) {
  const bool paged = mode == ListMode::kWholeSpace;
  if (!paged && page > 1) return {};
  const std::string url = SpaceListUrl(boxText, mode, paged ? page : 0, hosts);
  SpaceListAnswer answer = FetchSpaceListPage(
      url, WbiKeyCache::Shared(),
      [&transport](std::string_view address) { return transport.GetSpaceList(address); });
  JsonDocument list;
  if (!answer.accepted || !list.Parse(answer.body)) {
    return Refused(answer.notice.empty() ? std::string(kListFailed) : std::move(answer.notice));
  }
  ListPageRead read;
  read.bvids = Column(list, "data.list.vlist", list.GetCount("data.list.vlist"));
  const double count = list.GetNumber("data.page.count");
  read.more = paged && !read.bvids.empty() && page < SpacePagesForCount(count) &&
              static_cast<double>(page) * kSpacePageSize < count;
  return read;
}

ListPageRead ReadFavouritesPage(SiteTransport& transport, const std::string& folderId, int page,
                                const SiteHosts& hosts) {
  const ApiReply reply(transport.GetApi(FavouritesUrl(folderId, page, hosts)));
  JsonDocument answer;
  if (!answer.Parse(reply.body) || answer.GetJson("code") != "0") {
    return Refused(ListRefusalNotice(reply));
  }
  ListPageRead read;
  const int entries = answer.GetCount("data.medias");
  read.bvids = Column(answer, "data.medias", entries);
  read.more = entries > 0 && answer.GetJson("data.has_more") == "true";
  return read;
}

// A collection, a series or watch later, as the link box reads them.
ListPageRead ReadOtherSource(SiteTransport& transport, const ClassifiedLink& link, int page,
                             const std::string& loginCookie) {
  SourcePage source = ReadSourcePage(transport, link, page, loginCookie, false);
  if (source.refusal) return Refused(std::move(*source.refusal));
  ListPageRead read;
  read.more = !LastSourcePage(source, page, SourcePageSize(link));
  read.bvids = std::move(source.bvids);
  return read;
}

// The whole season, each episode by its key; the answer kept for the rows.
ListPageRead ReadSeasonEpisodes(SiteTransport& transport, const ClassifiedLink& link, int page,
                                bool extras, SeasonAnswer& kept) {
  if (page > 1) return {};
  SeasonAnswer season = ReadLinkedSeason(transport, link.kind, link.id);
  if (season.refusal) return Refused(std::move(*season.refusal));
  ListPageRead read;
  for (const SeasonEpisode& episode : SeasonEpisodes(season.answer, extras)) {
    const std::string id = EpisodeId(season.answer, episode);
    if (!id.empty()) read.bvids.push_back(EpisodeKey(id));
  }
  kept = std::move(season);
  return read;
}

}  // namespace

std::string_view ListKindName(LinkKind kind) {
  switch (kind) {
    case LinkKind::kFavourites:
      return "收藏夹";
    case LinkKind::kSpaceList:
      return "UP主";
    case LinkKind::kCollection:
      return "合集";
    case LinkKind::kSeries:
      return "列表";
    case LinkKind::kWatchLater:
      return "稍后再看";
    case LinkKind::kPgcEpisode:
    case LinkKind::kPgcSeason:
    case LinkKind::kPgcMedia:
      return "番剧";
    case LinkKind::kVideo:
    case LinkKind::kUnknown:
      break;
  }
  return {};
}

std::optional<SubscribedList> SubscribedListFor(std::string_view link, const SiteHosts& hosts,
                                                SubscribedListOptions options) {
  const ClassifiedLink classified = ClassifyLinkText(link, hosts);
  SubscribedList list;
  list.kind = classified.kind;
  switch (classified.kind) {
    case LinkKind::kFavourites:
      list.id = classified.id;
      list.read = [id = classified.id, hosts](SiteTransport& transport, int page) {
        return ReadFavouritesPage(transport, id, page, hosts);
      };
      return list;
    case LinkKind::kSpaceList:
      list.id = classified.boxText.value_or(std::string(link));
      list.read = [box = list.id, mode = classified.mode, hosts](SiteTransport& transport,
                                                                 int page) {
        return ReadSpacePage(transport, box, mode, page, hosts);
      };
      return list;
    case LinkKind::kCollection:
    case LinkKind::kSeries:
    case LinkKind::kWatchLater:
      list.id = classified.id;
      list.newestFirst = false;
      list.read = [classified, cookie = std::move(options.loginCookie)](SiteTransport& transport,
                                                                        int page) {
        return ReadOtherSource(transport, classified, page, cookie);
      };
      return list;
    case LinkKind::kPgcEpisode:
    case LinkKind::kPgcSeason:
    case LinkKind::kPgcMedia:
      list.id = classified.id;
      list.newestFirst = false;
      list.season = std::make_shared<SeasonAnswer>();
      list.read = [classified, extras = options.extras, kept = list.season](
                      SiteTransport& transport, int page) {
        return ReadSeasonEpisodes(transport, classified, page, extras, *kept);
      };
      return list;
    case LinkKind::kVideo:
    case LinkKind::kUnknown:
      break;
  }
  return std::nullopt;
}

}  // namespace korvid
