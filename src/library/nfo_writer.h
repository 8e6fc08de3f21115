#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/file_helpers.h"
#include "net/json_document.h"

// The tvshow.nfo a media server reads beside each downloaded video. Built
// from the task record: the view API answer of the video with the task's own
// keys ("cid序号", "视频part", ...) added at the top level.
namespace korvid {

inline constexpr std::string_view kNfoFileName = "tvshow.nfo";

// The video page's tags joined with "|" for one bvid; empty when there are none.
using PageTagSource = std::function<std::string(std::string_view bvid)>;

// Fetches the video page from the configured web host (no cookies) and reads
// its tags. Empty when the page cannot be fetched or holds no tags. Blocks:
// worker threads only.
[[nodiscard]] std::string FetchPageTags(std::string_view bvid);

// The tags of a video page's text, joined with "|", in page order.
[[nodiscard]] std::string PageTagsFromHtml(std::string_view html);

// "YYYY-MM-DD HH:MM:SS" in China Standard Time (UTC+8) for seconds since
// 1970-01-01 00:00 UTC, whatever the time zone of this computer.
[[nodiscard]] std::string ChinaDateTimeText(std::int64_t unixSeconds);

// Text made safe for an XML element: &, < and > escaped, characters that XML
// does not allow (control characters other than tab, LF and CR) dropped.
[[nodiscard]] std::string XmlElementText(std::string_view text);

// Genre elements then tag elements, one of each per non-empty label, the
// last label first; the "无类别" and "无标签" elements when no label is left.
[[nodiscard]] std::string GenreAndTagElements(const std::vector<std::string>& labels);

// The NFO text (UTF-8, no byte-order mark, CR LF line ends) for a task
// record (a season's for an episode of a licensed work). pageTags is asked once for the record's
// bvid. Values missing from the record give empty texts; the text is never empty.
[[nodiscard]] std::string BuildNfo(std::string_view recordText, const PageTagSource& pageTags);
// With the tags fetched from the site (FetchPageTags).
[[nodiscard]] std::string BuildNfo(std::string_view recordText);

// The <id> of a record's tvshow.nfo, which also tells whose a folder is: the
// BV id, or "ss" + season_id for an episode of a licensed work.
[[nodiscard]] std::string NfoIdOf(const JsonDocument& record);

// The <tvshow> NFO of a licensed work's season (record::kLicensed of an
// episode's record): title, original title, plot, genres from the areas and
// styles, rating, premiere date, the season's unique id.
[[nodiscard]] std::string BuildSeasonNfo(const JsonDocument& record);

// Writes videoFolder/tvshow.nfo from the record unless that file exists; the
// page is fetched only when the file is written. Worker threads only.
[[nodiscard]] SideFileResult WriteNfoIfMissing(const std::filesystem::path& videoFolder,
                                               std::string_view recordText,
                                               const PageTagSource& pageTags = FetchPageTags);

}  // namespace korvid
