#include "site/classify_link.h"

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <vector>

#include "controls/control_names.h"
#include "net/http_text.h"
#include "net/regex_matcher.h"
#include "site/add_video.h"
#include "site/source_jobs.h"

namespace korvid {

namespace {

constexpr std::string_view kBvidPattern = "BV[0-9a-zA-Z]{10}";
constexpr std::size_t kBvidLength = 12;
constexpr std::string_view kListQuery = "?tid=0&keyword=&order=pubdate";
constexpr std::string_view kTrackingQuery = "?spm_id_from";

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// The base as a literal inside a pattern.
std::string QuotedForPattern(std::string_view text) {
  static constexpr std::string_view kSpecial = "\\^$.|?*+()[]{}/";
  std::string quoted;
  for (char c : text) {
    if (kSpecial.find(c) != std::string_view::npos) quoted += '\\';
    quoted += c;
  }
  return quoted;
}

std::optional<std::string> FirstMatchOf(std::string_view pattern, std::string_view text) {
  RegexMatcher matcher;
  if (!matcher.Execute(pattern, text) || matcher.Count() == 0) return std::nullopt;
  return matcher.MatchText(1);
}

ClassifiedLink SpaceList(ListMode mode, std::optional<std::string> boxText = std::nullopt) {
  return ClassifiedLink{LinkKind::kSpaceList, {}, {}, mode, std::move(boxText)};
}

std::optional<ClassifiedLink> FavouritesLink(std::string_view text, const std::string& space) {
  const auto match = FirstMatchOf(space + "/[0-9]{1,15}/favlist\\?fid=[0-9]{1,15}", text);
  if (!match) return std::nullopt;
  return ClassifiedLink{LinkKind::kFavourites,
                        TextBetween(*match + "$", "fid=", "$"),
                        {},
                        ListMode::kFiltered,
                        std::nullopt};
}

ClassifiedLink SpaceHome(std::string_view text, const std::string& space) {
  const auto match = FirstMatchOf(space + "/[0-9]{1,15}", text);
  if (!match) return {};
  const std::string home = AsciiLower(*match);
  const std::string whole = AsciiLower(text);
  const bool bare = whole == home;
  const bool tracked = whole.compare(0, home.size() + kTrackingQuery.size(),
                                     home + std::string(kTrackingQuery)) == 0;
  if (!bare && !tracked) return {};
  return SpaceList(ListMode::kWholeSpace, home + "/video" + std::string(kListQuery));
}

// An address split at its path and query: the host base it starts with
// (compared without regard to case), the path's segments, the query pairs.
struct LinkParts {
  std::vector<std::string> segments;
  std::vector<std::pair<std::string, std::string>> query;

  [[nodiscard]] std::string Query(std::string_view key) const {
    for (const auto& [name, value] : query) {
      if (name == key) return value;
    }
    return {};
  }
  [[nodiscard]] bool Path(std::initializer_list<std::string_view> wanted) const {
    if (segments.size() < wanted.size()) return false;
    std::size_t i = 0;
    for (std::string_view part : wanted) {
      if (!part.empty() && AsciiLower(segments[i]) != part) return false;
      ++i;
    }
    return true;
  }
};

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view kBlank = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

std::vector<std::string> SplitOn(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(separator, start), text.size());
    if (end > start) pieces.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

std::optional<LinkParts> PartsOf(std::string_view text, std::string_view base) {
  if (text.size() < base.size() || AsciiLower(text.substr(0, base.size())) != AsciiLower(base)) {
    return std::nullopt;
  }
  std::string_view rest = text.substr(base.size());
  if (!rest.empty() && rest.front() != '/' && rest.front() != '?') return std::nullopt;
  rest = rest.substr(0, rest.find('#'));
  const std::size_t mark = rest.find('?');
  LinkParts parts;
  parts.segments = SplitOn(rest.substr(0, mark), '/');
  if (mark != std::string_view::npos) {
    for (const std::string& pair : SplitOn(rest.substr(mark + 1), '&')) {
      const std::size_t equals = pair.find('=');
      parts.query.emplace_back(pair.substr(0, equals),
                               equals == std::string::npos ? "" : pair.substr(equals + 1));
    }
  }
  return parts;
}

constexpr std::size_t kMaxIdDigits = 15;

bool IsId(std::string_view text) {
  return !text.empty() && text.size() <= kMaxIdDigits &&
         text.find_first_not_of("0123456789") == std::string_view::npos;
}

// "ep123" -> "123" for prefix "ep"; empty when the rest is no id.
std::string PrefixedId(std::string_view segment, std::string_view prefix) {
  if (segment.size() <= prefix.size() || AsciiLower(segment.substr(0, prefix.size())) != prefix) {
    return {};
  }
  const std::string_view id = segment.substr(prefix.size());
  return IsId(id) ? std::string(id) : std::string();
}

ClassifiedLink Source(LinkKind kind, std::string id, std::string mid, std::string box) {
  return ClassifiedLink{kind, std::move(id), std::move(mid), ListMode::kFiltered, std::move(box)};
}

// The lists page names a collection by type "season" (also when no type is
// given) and a series by "series".
constexpr std::string_view kSeasonType = "season";
constexpr std::string_view kSeriesType = "series";

std::string ListType(const LinkParts& link) {
  const std::string type = AsciiLower(link.Query("type"));
  return type.empty() ? std::string(kSeasonType) : type;
}

std::optional<ClassifiedLink> CollectionOrSeries(const LinkParts& link, const SiteHosts& hosts) {
  if (link.segments.size() < 2 || !IsId(link.segments[0])) return std::nullopt;
  const std::string& mid = link.segments[0];
  std::string id;
  std::string type;  // kSeasonType or kSeriesType
  if (link.segments.size() == 3 && link.Path({"", "channel", "collectiondetail"})) {
    id = link.Query("sid");
    type = kSeasonType;
  } else if (link.segments.size() == 3 && link.Path({"", "channel", "seriesdetail"})) {
    id = link.Query("sid");
    type = kSeriesType;
  } else if (link.segments.size() == 3 && link.Path({"", "lists"})) {
    id = link.segments[2];
    type = ListType(link);
  } else if (link.segments.size() == 2 && link.Path({"", "lists"})) {
    id = link.Query("sid");
    type = ListType(link);
  }
  if (!IsId(id) || (type != kSeasonType && type != kSeriesType)) return std::nullopt;
  const LinkKind kind = type == kSeasonType ? LinkKind::kCollection : LinkKind::kSeries;
  return Source(kind, id, mid, hosts.space + "/" + mid + "/lists/" + id + "?type=" + type);
}

bool IsWatchLater(const LinkParts& link) {
  return link.Path({"watchlater"}) || link.Path({"list", "watchlater"}) ||
         link.Path({"medialist", "play", "watchlater"});
}

std::optional<ClassifiedLink> LicensedWork(const LinkParts& link, const SiteHosts& hosts) {
  if (link.segments.size() != 3) return std::nullopt;
  const std::string play = hosts.web + "/bangumi/play/";
  if (link.Path({"bangumi", "play"})) {
    if (std::string id = PrefixedId(link.segments[2], "ep"); !id.empty()) {
      return Source(LinkKind::kPgcEpisode, id, {}, play + "ep" + id);
    }
    if (std::string id = PrefixedId(link.segments[2], "ss"); !id.empty()) {
      return Source(LinkKind::kPgcSeason, id, {}, play + "ss" + id);
    }
  }
  if (link.Path({"bangumi", "media"})) {
    if (std::string id = PrefixedId(link.segments[2], "md"); !id.empty()) {
      return Source(LinkKind::kPgcMedia, id, {}, hosts.web + "/bangumi/media/md" + id);
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<ClassifiedLink> SourceLinkOf(std::string_view text, const SiteHosts& hosts) {
  const std::string_view link = Trimmed(text);
  if (const auto space = PartsOf(link, hosts.space)) {
    if (auto found = CollectionOrSeries(*space, hosts)) return found;
  }
  const auto web = PartsOf(link, hosts.web);
  if (!web) return std::nullopt;
  if (IsWatchLater(*web)) {
    return Source(LinkKind::kWatchLater, {}, {}, hosts.web + "/watchlater/#/list");
  }
  return LicensedWork(*web, hosts);
}

ClassifiedLink ClassifyLinkText(std::string_view text, const SiteHosts& hosts) {
  // A watch-later address may name the video playing in it; the link still
  // means the whole list.
  if (auto source = SourceLinkOf(text, hosts)) return std::move(*source);
  if (const auto bvid = FirstMatchOf(kBvidPattern, text); bvid && bvid->size() == kBvidLength) {
    return ClassifiedLink{LinkKind::kVideo, *bvid, {}, ListMode::kFiltered, std::nullopt};
  }
  if (FindIgnoreCase(text, "/search/video?") != std::string_view::npos) {
    return SpaceList(ListMode::kSpaceSearch);
  }
  if (FindIgnoreCase(text, "/video?tid=") != std::string_view::npos) {
    return SpaceList(ListMode::kFiltered);
  }
  if (text.size() >= 6 && AsciiLower(text.substr(text.size() - 6)) == "/video") {
    return SpaceList(ListMode::kFiltered, std::string(text) + std::string(kListQuery));
  }
  const std::string space = QuotedForPattern(hosts.space);
  if (auto favourites = FavouritesLink(text, space)) return std::move(*favourites);
  return SpaceHome(text, space);
}

void ClassifyLink(SiteJob& job) {
  Controls& ui = job.app.Ui();
  const ClassifiedLink link = ClassifyLinkText(ui.Text(kTaskLinkBox), CurrentSiteHosts());
  if (link.boxText) ui.SetText(kTaskLinkBox, *link.boxText);
  switch (link.kind) {
    case LinkKind::kVideo:
      if (ui.Checked(kWholeCollectionCheck)) {
        AddVideoOrItsCollection(job, link.id);
      } else {
        AddNamedVideo(job, link.id);
      }
      break;
    case LinkKind::kSpaceList:
      EnumerateSpaceList(job, link.mode);
      break;
    case LinkKind::kFavourites:
      EnumerateFavourites(job, link.id);
      break;
    case LinkKind::kCollection:
      EnumerateCollection(job, link.mid, link.id);
      break;
    case LinkKind::kSeries:
      EnumerateSeries(job, link.mid, link.id);
      break;
    case LinkKind::kWatchLater:
      EnumerateWatchLater(job);
      break;
    case LinkKind::kPgcEpisode:
    case LinkKind::kPgcSeason:
    case LinkKind::kPgcMedia:
      AddLicensedWork(job, link.kind, link.id);
      break;
    case LinkKind::kUnknown:
      ui.ShowNotice(kCannotParseLink, kNoticeFailed);
      break;
  }
}

}  // namespace korvid
