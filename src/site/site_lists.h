#pragma once

#include <string>
#include <string_view>
#include <vector>

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

// The end of a run in which some videos could not be read (the rest were
// added): kSpaceListDone + "，N 个视频解析失败".
[[nodiscard]] std::string UnreadVideosNotice(int unread);

// What a run added: stopped early (asked to, or a list refused, which has
// been reported), and how many listed videos could not be read.
struct RunResult {
  bool ended = false;
  int unread = 0;
};
// The end notice of a run that was not ended: `done`, or UnreadVideosNotice.
void ShowRunEnd(SiteJob& job, const RunResult& run, std::string_view done);
// AddVideo for each, in order, counting the unread; false when asked to stop.
[[nodiscard]] bool AddVideos(SiteJob& job, const std::vector<std::string>& bvids, RunResult& run);

inline constexpr int kSpacePageSize = 30;
// A whole space is read for at most this many pages, whatever count the
// site claims.
inline constexpr int kSpaceMaxPages = 10000;
inline constexpr int kFavouritesPageSize = 20;
inline constexpr int kFavouritesMaxPages = 50;

// The space-list request for the link-box text. page > 0 adds that page
// number to a whole-space link; 0 keeps the link's own page.
[[nodiscard]] std::string SpaceListUrl(std::string_view boxText, ListMode mode, int page,
                                       const SiteHosts& hosts);
[[nodiscard]] std::string FavouritesUrl(std::string_view folderId, int page,
                                        const SiteHosts& hosts);

// The one place a space-list page is asked for (url from SpaceListUrl, the
// older call's address): the signed call first, the older one as its
// fallback (FetchSpaceListPage). False when both are refused, with the
// notice naming the refusal in `notice`.
[[nodiscard]] bool ReadSpaceListPage(SiteJob& job, std::string_view url, JsonDocument& answer,
                                     std::string& notice);

// The number of pages a whole space is read for, from the count its first
// page claims: count / 30 + 1, at most kSpaceMaxPages, which is also the
// number for a count that is not a whole number of at least 0.
[[nodiscard]] int SpacePagesForCount(double count);

// Reads 编辑框_解析下载 (as ClassifyLink left it) and adds the listed videos,
// positions 29 .. 0 of each page, pages last first for a whole space. The
// pages of a whole space are asked for first to last until one is empty, and
// then added. A video that cannot be read leaves its "解析失败" row and the run
// carries on; the end notice counts such videos.
void EnumerateSpaceList(SiteJob& job, ListMode mode);
// Adds the folder's videos page by page (at most 50 pages of 20); unread
// videos as for a space.
void EnumerateFavourites(SiteJob& job, std::string_view folderId);

}  // namespace korvid
