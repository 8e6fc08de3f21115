#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/site_hosts.h"
#include "site/classify_link.h"
#include "site/licensed_work.h"
#include "site/site_transport.h"

// The lists a library follows, read a page at a time, newest videos first.
// One reader per kind of link; a new kind of list plugs in with a reader.
namespace korvid {

struct ListPageRead {
  // Newest first. A licensed season's are its episodes' keys (EpisodeKey).
  std::vector<std::string> bvids;
  bool more = false;         // an older page may follow
  bool refused = false;      // not answered, or refused: `notice` says how
  bool riskControl = false;  // refused with -352/-412: worth waiting for
  std::string notice;
};

// Page 1 is the newest. Worker thread.
using ListPageReader = std::function<ListPageRead(SiteTransport& transport, int page)>;

struct SubscribedList {
  LinkKind kind = LinkKind::kUnknown;
  std::string id;  // the folder, collection, series or season id, or the space's link
  // The pages come newest first, so a scan may stop at a known video; a
  // source in its own order (a collection, a series, watch later, a season)
  // is read whole: its order is the uploader's or by publication, so a video
  // added to it may sit on any page.
  bool newestFirst = true;
  ListPageReader read;
  // A licensed season: its episodes are listed by key, and `season` holds
  // the answer the last read gave, for their rows.
  std::shared_ptr<SeasonAnswer> season;
};

struct SubscribedListOptions {
  std::string loginCookie;  // for watch later
  bool extras = false;      // a season's extras (番外/PV) beside its episodes
};

// The reader for a link that names a list; nullopt for a single video or a
// text that names nothing. Lists the site pages newest first (a whole space,
// a favourites folder) are read page by page; one filtered page or a search
// whole, as page 1; a collection, a series and watch later in their own
// order, every page; a licensed season (by ss, md or an episode's ep link)
// whole, as page 1.
[[nodiscard]] std::optional<SubscribedList> SubscribedListFor(std::string_view link,
                                                              const SiteHosts& hosts,
                                                              SubscribedListOptions options = {});

// "收藏夹", "UP主", "合集", "列表", "稍后再看", "番剧"; "" for no list.
[[nodiscard]] std::string_view ListKindName(LinkKind kind);

}  // namespace korvid
