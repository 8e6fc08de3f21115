#include "site/site_lists.h"

#include <string>
#include <utility>

#include "controls/control_names.h"
#include "site/add_video.h"
#include "site/signed_space_list.h"

namespace korvid {

namespace {

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

std::string SpaceApiBase(const SiteHosts& hosts) {
  return hosts.api + "/x/space/arc/search?mid=";
}

// A link that did not turn into an address of the API host is not sent
// anywhere: the text is the user's, the host could be any.
bool OnApiHost(std::string_view url) {
  return url.starts_with(CurrentSiteHosts().api + "/");
}

void ShowListFailure(SiteJob& job, const JsonDocument& answer) {
  const std::string message = answer.GetValue("message");
  const std::string text =
      message.empty() ? std::string(kListFailed) : std::string(kListFailed) + ": " + message;
  job.app.Ui().ShowNotice(text, kNoticeFailed);
}

enum class PageResult { kAdded, kFailed, kStopped };

// Positions 29 .. 0 of one space-list answer; missing positions read empty.
PageResult AddSpacePage(SiteJob& job, const JsonDocument& answer) {
  for (int k = kSpacePageSize - 1; k >= 0; --k) {
    if (job.stop.stop_requested()) return PageResult::kStopped;
    const std::string bvid = answer.GetValue("data.list.vlist[" + std::to_string(k) + "].bvid");
    if (!bvid.empty() && AddVideo(job, bvid)) return PageResult::kFailed;
  }
  return PageResult::kAdded;
}

// One space page, its refusal reported here.
bool ReadSpacePage(SiteJob& job, const std::string& url, JsonDocument& answer) {
  std::string notice;
  if (ReadSpaceListPage(job, url, answer, notice)) return true;
  job.app.Ui().ShowNotice(notice, kNoticeFailed);
  return false;
}

// Requests one space page and adds it.
PageResult AddSpaceRequest(SiteJob& job, const std::string& url) {
  JsonDocument answer;
  if (!ReadSpacePage(job, url, answer)) return PageResult::kFailed;
  return AddSpacePage(job, answer);
}

PageResult AddWholeSpace(SiteJob& job, const std::string& boxText, const SiteHosts& hosts) {
  JsonDocument first;
  if (!ReadSpacePage(job, SpaceListUrl(boxText, ListMode::kWholeSpace, 0, hosts), first)) {
    return PageResult::kFailed;
  }
  const auto count = static_cast<long long>(first.GetNumber("data.page.count"));
  const long long pages = count / kSpacePageSize + 1;
  for (long long page = pages; page >= 1; --page) {
    const std::string url =
        SpaceListUrl(boxText, ListMode::kWholeSpace, static_cast<int>(page), hosts);
    if (const PageResult result = AddSpaceRequest(job, url); result != PageResult::kAdded) {
      return result;
    }
  }
  return PageResult::kAdded;
}

}  // namespace

std::string SpaceListUrl(std::string_view boxText, ListMode mode, int page,
                         const SiteHosts& hosts) {
  std::string url = std::string(boxText) + "&jsonp=jsonp";
  if (mode == ListMode::kSpaceSearch) ReplaceAll(url, "/search", "");
  ReplaceAll(url, hosts.space + "/", SpaceApiBase(hosts));
  ReplaceAll(url, "/video?", "&ps=30&");
  ReplaceAll(url, "page=", "pn=");
  if (mode == ListMode::kWholeSpace && page > 0) {
    ReplaceAll(url, "tid=0&", "tid=0&pn=" + std::to_string(page) + "&");
  }
  return url;
}

std::string FavouritesUrl(std::string_view folderId, int page, const SiteHosts& hosts) {
  return hosts.api + "/x/v3/fav/resource/list?media_id=" + std::string(folderId) +
         "&pn=" + std::to_string(page) + "&ps=20&keyword=&order=mtime&type=0&tid=0&platform=web";
}

bool FetchListPage(SiteJob& job, std::string_view url, JsonDocument& answer) {
  if (!OnApiHost(url)) return false;
  return answer.Parse(job.transport.GetApi(url)) && answer.GetJson("code") == "0";
}

bool ReadSpaceListPage(SiteJob& job, std::string_view url, JsonDocument& answer,
                       std::string& notice) {
  if (!OnApiHost(url)) {
    notice = kListFailed;
    return false;
  }
  SpaceListAnswer page = FetchSpaceListPage(
      url, WbiKeyCache::Shared(),
      [&job](std::string_view address) { return job.transport.GetSpaceList(address); });
  if (page.accepted && answer.Parse(page.body)) return true;
  notice = page.notice.empty() ? std::string(kListFailed) : std::move(page.notice);
  return false;
}

void EnumerateSpaceList(SiteJob& job, ListMode mode) {
  const SiteHosts hosts = CurrentSiteHosts();
  const std::string boxText = job.app.Ui().Text(kTaskLinkBox);
  const PageResult result = mode == ListMode::kWholeSpace
                                ? AddWholeSpace(job, boxText, hosts)
                                : AddSpaceRequest(job, SpaceListUrl(boxText, mode, 0, hosts));
  if (result == PageResult::kAdded) job.app.Ui().ShowNotice(kSpaceListDone, kNoticeDone);
}

void EnumerateFavourites(SiteJob& job, std::string_view folderId) {
  const SiteHosts hosts = CurrentSiteHosts();
  bool failed = false;
  for (int page = 1; page <= kFavouritesMaxPages; ++page) {
    JsonDocument answer;
    if (!FetchListPage(job, FavouritesUrl(folderId, page, hosts), answer)) {
      ShowListFailure(job, answer);
      return;
    }
    const int entries = answer.GetCount("data.medias");
    if (entries == 0) break;
    for (int i = 0; i < entries; ++i) {
      if (job.stop.stop_requested()) return;
      const std::string bvid = answer.GetValue("data.medias[" + std::to_string(i) + "].bvid");
      if (!bvid.empty() && AddVideo(job, bvid)) {
        // Only the rest of this page is skipped; later pages are still read.
        failed = true;
        break;
      }
    }
  }
  if (!failed) job.app.Ui().ShowNotice(kFavouritesDone, kNoticeDone);
}

}  // namespace korvid
