#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "net/site_hosts.h"
#include "site/site_job.h"
#include "site/site_lists.h"

namespace korvid {

inline constexpr std::string_view kAddLater = "请稍后再添加";
inline constexpr std::string_view kCannotParseLink = "无法解析链接";

enum class LinkKind {
  kVideo,       // id: the BV identifier as found
  kSpaceList,   // mode: which list; boxText: set when the box must be rewritten
  kFavourites,  // id: the folder id
  kCollection,  // mid and id: an uploader's collection (合集, the site's "season")
  kSeries,      // mid and id: an uploader's series (列表)
  kWatchLater,  // the logged-in user's watch-later list
  kPgcEpisode,  // id: an episode of a licensed work (番剧, 电影, ...), ep_id
  kPgcSeason,   // id: the season_id of such a work
  kPgcMedia,    // id: its media_id, which names a season
  kUnknown,
};

struct ClassifiedLink {
  LinkKind kind = LinkKind::kUnknown;
  std::string id;
  std::string mid;  // the uploader of a collection or series
  ListMode mode = ListMode::kFiltered;
  std::optional<std::string> boxText;
};

// The forms that name a whole source (collection, series, watch later, a
// licensed work's episode or season) with the address written the one way
// the box then holds it; none for any other text, malformed forms included.
[[nodiscard]] std::optional<ClassifiedLink> SourceLinkOf(std::string_view text,
                                                         const SiteHosts& hosts);

// Sorts a pasted text into one of the link forms; the first test that applies
// decides: a source link (SourceLinkOf), a BV identifier, a space search, a filtered list, a bare
// video list, a favourites folder, a space home. Space links are matched against the configured
// space base.
[[nodiscard]] ClassifiedLink ClassifyLinkText(std::string_view text, const SiteHosts& hosts);

// Reads 编辑框_解析下载, rewrites it where the form asks for that, and adds
// what the link names; "无法解析链接" when it names nothing. Worker thread.
void ClassifyLink(SiteJob& job);

}  // namespace korvid
