#pragma once

#include <string>
#include <string_view>

#include "net/json_document.h"
#include "net/site_hosts.h"
#include "site/site_job.h"

// Uploader spaces and favourites folders, one AddVideo per listed video.
namespace korvid {

enum class ListMode : int {
  kFiltered = 0,     // one page of an uploader's list, as the link filters it
  kWholeSpace = 1,   // every page of the uploader's videos
  kSpaceSearch = 2,  // one page of a search within a space
};

inline constexpr std::string_view kSpaceListDone = "任务添加完成";
inline constexpr std::string_view kFavouritesDone = "任添加收藏夹完成";
// A list the site did not answer, or refused.
inline constexpr std::string_view kListFailed = "读取列表失败";

inline constexpr int kSpacePageSize = 30;
inline constexpr int kFavouritesPageSize = 20;
inline constexpr int kFavouritesMaxPages = 50;

// The space-list request for the link-box text. page > 0 adds that page
// number to a whole-space link; 0 keeps the link's own page.
[[nodiscard]] std::string SpaceListUrl(std::string_view boxText, ListMode mode, int page,
                                       const SiteHosts& hosts);
[[nodiscard]] std::string FavouritesUrl(std::string_view folderId, int page,
                                        const SiteHosts& hosts);

// One list request: the answer, parsed. False when there is no answer or the
// site refused it (code not 0). Worker thread.
[[nodiscard]] bool FetchListPage(SiteJob& job, std::string_view url, JsonDocument& answer);

// The one place a space-list page is asked for (url from SpaceListUrl, the
// older call's address): the signed call first, the older one as its
// fallback (FetchSpaceListPage). False when both are refused, with the
// notice naming the refusal in `notice`.
[[nodiscard]] bool ReadSpaceListPage(SiteJob& job, std::string_view url, JsonDocument& answer,
                                     std::string& notice);

// Reads 编辑框_解析下载 (as ClassifyLink left it) and adds the listed videos,
// positions 29 .. 0 of each page, pages last first for a whole space.
void EnumerateSpaceList(SiteJob& job, ListMode mode);
// Adds the folder's videos page by page (at most 50 pages of 20).
void EnumerateFavourites(SiteJob& job, std::string_view folderId);

}  // namespace korvid
