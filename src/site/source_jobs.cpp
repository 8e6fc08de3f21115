#include "site/source_jobs.h"

#include <functional>
#include <string>
#include <vector>

#include "controls/control_names.h"
#include "site/add_video.h"
#include "site/licensed_work.h"
#include "site/site_lists.h"
#include "site/source_lists.h"
#include "site/video_info.h"

namespace korvid {
namespace {

using PageReader = std::function<SourcePage(int page)>;

// Pages 1, 2, ... until the claimed total or an empty page; the first
// refusal is reported and ends the run (nothing is added then).
bool ReadAllPages(SiteJob& job, const PageReader& read, int pageSize,
                  std::vector<std::string>& bvids) {
  for (int page = 1; page <= kSourceMaxPages; ++page) {
    if (job.stop.stop_requested()) return false;
    SourcePage got = read(page);
    if (got.refusal) {
      job.app.Ui().ShowNotice(*got.refusal, kNoticeFailed);
      return false;
    }
    bvids.insert(bvids.end(), got.bvids.begin(), got.bvids.end());
    if (LastSourcePage(got, page, pageSize)) break;
  }
  return true;
}

void AddListed(SiteJob& job, const PageReader& read, int pageSize) {
  std::vector<std::string> bvids;
  if (!ReadAllPages(job, read, pageSize, bvids)) return;
  RunResult run;
  run.ended = !AddVideos(job, bvids, run);
  ShowRunEnd(job, run, kSpaceListDone);
}

void AddEpisodes(SiteJob& job, const JsonDocument& season,
                 const std::vector<SeasonEpisode>& episodes) {
  for (const SeasonEpisode& episode : episodes) {
    if (job.stop.stop_requested()) return;
    JsonDocument record = EpisodeRecord(season, episode);
    AddEpisodeRows(job, record, episode.number);
  }
  job.app.Ui().ShowNotice(kSeasonDone, kNoticeDone);
}

}  // namespace

void EnumerateCollection(SiteJob& job, std::string_view mid, std::string_view seasonId) {
  const std::string owner(mid);
  const std::string id(seasonId);
  AddListed(
      job, [&](int page) { return ReadCollectionPage(job.transport, owner, id, page); },
      kCollectionPageSize);
}

void EnumerateSeries(SiteJob& job, std::string_view mid, std::string_view seriesId) {
  const std::string owner(mid);
  const std::string id(seriesId);
  AddListed(
      job, [&](int page) { return ReadSeriesPage(job.transport, owner, id, page); },
      kSeriesPageSize);
}

void EnumerateWatchLater(SiteJob& job) {
  const std::string cookies = job.app.Ui().Text(kCookiesBox);
  const SourcePage list = ReadWatchLater(job.transport, cookies);
  if (list.refusal) {
    job.app.Ui().ShowNotice(*list.refusal, kNoticeFailed);
    return;
  }
  RunResult run;
  run.ended = !AddVideos(job, list.bvids, run);
  ShowRunEnd(job, run, kSpaceListDone);
}

void AddVideoOrItsCollection(SiteJob& job, std::string_view bvid) {
  const VideoInfo info = FetchVideoInfo(job.transport, bvid);
  const std::vector<std::string> collection =
      info.refused ? std::vector<std::string>() : VideoCollectionBvids(info.answer);
  if (collection.empty()) {
    AddNamedVideo(job, bvid);
    return;
  }
  RunResult run;
  run.ended = !AddVideos(job, collection, run);
  ShowRunEnd(job, run, kSpaceListDone);
}

void AddLicensedWork(SiteJob& job, LinkKind kind, std::string_view id) {
  const SeasonAnswer season = ReadLinkedSeason(job.transport, kind, id);
  if (season.refusal) {
    job.app.Ui().ShowNotice(*season.refusal, kNoticeFailed);
    return;
  }
  if (kind != LinkKind::kPgcEpisode) {
    AddEpisodes(job, season.answer,
                SeasonEpisodes(season.answer, job.app.Ui().Checked(kExtrasCheck)));
    return;
  }
  const auto episode = FindEpisode(season.answer, id);
  if (!episode) {
    job.app.Ui().ShowNotice(kSeasonFailed, kNoticeFailed);
    return;
  }
  AddEpisodes(job, season.answer, {*episode});
}

}  // namespace korvid
