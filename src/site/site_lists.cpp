#include "site/site_lists.h"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "controls/control_names.h"
#include "site/add_video.h"
#include "site/signed_space_list.h"

namespace korvid {

namespace {

constexpr std::string_view kListPath = "/video?";
constexpr std::string_view kUploadTail = "/upload";

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EndsWithIgnoreCase(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  const std::string_view end = text.substr(text.size() - tail.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (AsciiLower(end[i]) != tail[i]) return false;
  }
  return true;
}

// The space's list page in any case ("/Video?"), and the newer address of
// the same list ("/upload/video?"), become "/video?" right after the space
// number, so the request names the space alone.
std::string WithoutListTail(std::string url) {
  std::string lower = url;
  for (char& c : lower) c = AsciiLower(c);
  const std::size_t at = lower.find(kListPath);
  if (at == std::string::npos) return url;
  url.replace(at, kListPath.size(), kListPath);
  if (EndsWithIgnoreCase(std::string_view(url).substr(0, at), kUploadTail)) {
    url.erase(at - kUploadTail.size(), kUploadTail.size());
  }
  return url;
}

std::string SpaceApiBase(const SiteHosts& hosts) {
  return hosts.api + "/x/space/arc/search?mid=";
}

// A link that did not turn into an address of the API host is not sent
// anywhere: the text is the user's, the host could be any.
bool OnApiHost(std::string_view url) {
  return url.starts_with(CurrentSiteHosts().api + "/");
}

// Positions 29 .. 0 of one space-list answer; missing positions read empty.
std::vector<std::string> SpacePageVideos(const JsonDocument& answer) {
  std::vector<std::string> bvids;
  for (int k = kSpacePageSize - 1; k >= 0; --k) {
    std::string bvid = answer.GetValue("data.list.vlist[" + std::to_string(k) + "].bvid");
    if (!bvid.empty()) bvids.push_back(std::move(bvid));
  }
  return bvids;
}

// One space page, its refusal reported here.
bool ReadSpacePage(SiteJob& job, const std::string& url, JsonDocument& answer) {
  std::string notice;
  if (ReadSpaceListPage(job, url, answer, notice)) return true;
  job.app.Ui().ShowNotice(notice, kNoticeFailed);
  return false;
}

RunResult AddOneSpacePage(SiteJob& job, const std::string& url) {
  RunResult run;
  JsonDocument answer;
  run.ended = !ReadSpacePage(job, url, answer) || !AddVideos(job, SpacePageVideos(answer), run);
  return run;
}

// Pages 1, 2, ... until an empty one or the count's last; each page's videos
// in adding order. Ends early when a page is refused (reported) or a stop is
// asked for; `complete` says whether every page was read.
std::vector<std::vector<std::string>> ReadWholeSpace(SiteJob& job, const std::string& boxText,
                                                     const SiteHosts& hosts, bool& complete) {
  std::vector<std::vector<std::string>> pages;
  JsonDocument answer;
  complete = false;
  if (!ReadSpacePage(job, SpaceListUrl(boxText, ListMode::kWholeSpace, 0, hosts), answer)) {
    return pages;
  }
  const int last = SpacePagesForCount(answer.GetNumber("data.page.count"));
  for (int page = 1; page <= last; ++page) {
    if (job.stop.stop_requested()) return pages;
    if (page > 1 &&
        !ReadSpacePage(job, SpaceListUrl(boxText, ListMode::kWholeSpace, page, hosts), answer)) {
      return pages;
    }
    std::vector<std::string> videos = SpacePageVideos(answer);
    if (videos.empty()) break;
    pages.push_back(std::move(videos));
  }
  complete = true;
  return pages;
}

RunResult AddWholeSpace(SiteJob& job, const std::string& boxText, const SiteHosts& hosts) {
  bool complete = false;
  const auto pages = ReadWholeSpace(job, boxText, hosts, complete);
  RunResult run;
  // The pages read are added even when a later one was refused: the
  // refusal has been shown, and what was listed is not lost.
  for (auto page = pages.rbegin(); page != pages.rend(); ++page) {
    if (!AddVideos(job, *page, run)) break;
  }
  run.ended = !complete || job.stop.stop_requested();
  return run;
}

// One favourites page; false (reported) when refused.
bool ReadFavouritesPage(SiteJob& job, const std::string& url, JsonDocument& answer) {
  if (OnApiHost(url)) {
    const ApiReply reply(job.transport.GetApi(url));
    if (answer.Parse(reply.body) && answer.GetJson("code") == "0") return true;
    job.app.Ui().ShowNotice(ListRefusalNotice(reply), kNoticeFailed);
  } else {
    job.app.Ui().ShowNotice(kListFailed, kNoticeFailed);
  }
  return false;
}

std::vector<std::string> FavouritesPageVideos(const JsonDocument& answer) {
  std::vector<std::string> bvids;
  const int entries = answer.GetCount("data.medias");
  for (int i = 0; i < entries; ++i) {
    std::string bvid = answer.GetValue("data.medias[" + std::to_string(i) + "].bvid");
    if (!bvid.empty()) bvids.push_back(std::move(bvid));
  }
  return bvids;
}

}  // namespace

void ShowRunEnd(SiteJob& job, const RunResult& run, std::string_view done) {
  if (run.ended) return;
  if (run.unread > 0) {
    job.app.Ui().ShowNotice(UnreadVideosNotice(run.unread), kNoticeFailed);
  } else {
    job.app.Ui().ShowNotice(done, kNoticeDone);
  }
}

bool AddVideos(SiteJob& job, const std::vector<std::string>& bvids, RunResult& run) {
  for (const std::string& bvid : bvids) {
    if (job.stop.stop_requested()) return false;
    if (AddVideo(job, bvid)) ++run.unread;
  }
  return true;
}

std::string UnreadVideosNotice(int unread) {
  return std::string(kSpaceListDone) + "，" + std::to_string(unread) + " 个视频解析失败";
}

int SpacePagesForCount(double count) {
  // A count that is no whole number is no plan: the pages are then read
  // until an empty one, up to the bound.
  if (!std::isfinite(count) || count < 0 || count != std::floor(count)) return kSpaceMaxPages;
  const double pages = std::floor(count / kSpacePageSize) + 1;
  return pages >= kSpaceMaxPages ? kSpaceMaxPages : static_cast<int>(pages);
}

std::string SpaceListUrl(std::string_view boxText, ListMode mode, int page,
                         const SiteHosts& hosts) {
  std::string url = std::string(boxText) + "&jsonp=jsonp";
  if (mode == ListMode::kSpaceSearch) ReplaceAll(url, "/search", "");
  url = WithoutListTail(std::move(url));
  ReplaceAll(url, hosts.space + "/", SpaceApiBase(hosts));
  ReplaceAll(url, kListPath, "&ps=30&");
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
  const RunResult run = mode == ListMode::kWholeSpace
                            ? AddWholeSpace(job, boxText, hosts)
                            : AddOneSpacePage(job, SpaceListUrl(boxText, mode, 0, hosts));
  ShowRunEnd(job, run, kSpaceListDone);
}

void EnumerateFavourites(SiteJob& job, std::string_view folderId) {
  const SiteHosts hosts = CurrentSiteHosts();
  RunResult run;
  for (int page = 1; page <= kFavouritesMaxPages && !run.ended; ++page) {
    JsonDocument answer;
    if (!ReadFavouritesPage(job, FavouritesUrl(folderId, page, hosts), answer)) return;
    const std::vector<std::string> videos = FavouritesPageVideos(answer);
    if (answer.GetCount("data.medias") == 0) break;
    run.ended = !AddVideos(job, videos, run);
  }
  ShowRunEnd(job, run, kFavouritesDone);
}

}  // namespace korvid
