#pragma once

#include <string_view>

#include "site/classify_link.h"
#include "site/site_job.h"

// The link box's sources beyond spaces and favourites: rows for every video
// of a collection, series or the watch-later list, and for the episodes of a
// licensed work, in the source's own order. Worker threads.
namespace korvid {

inline constexpr std::string_view kSeasonDone = "番剧添加完成";

// Every page of the collection, then its videos as if pasted one by one.
void EnumerateCollection(SiteJob& job, std::string_view mid, std::string_view seasonId);
// The same for a series (oldest first).
void EnumerateSeries(SiteJob& job, std::string_view mid, std::string_view seriesId);
// The logged-in user's list; "稍后再看需要登录" and nothing added without a
// log-in. Each entry is read like a pasted video (entries may lack their cid).
void EnumerateWatchLater(SiteJob& job);
// A pasted video with 选择框_解析整个合集 checked: the whole collection it belongs
// to (every section in order), else the video alone.
void AddVideoOrItsCollection(SiteJob& job, std::string_view bvid);
// kPgcEpisode: that episode; kPgcSeason and kPgcMedia: the main episodes of
// the season, and its extras when 选择框_下载番外PV is checked.
void AddLicensedWork(SiteJob& job, LinkKind kind, std::string_view id);

}  // namespace korvid
