#include "site/classify_link.h"

#include "controls/control_names.h"
#include "net/http_text.h"
#include "net/regex_matcher.h"
#include "site/add_video.h"

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
  return ClassifiedLink{LinkKind::kSpaceList, {}, mode, std::move(boxText)};
}

std::optional<ClassifiedLink> FavouritesLink(std::string_view text, const std::string& space) {
  const auto match = FirstMatchOf(space + "/[0-9]{1,15}/favlist\\?fid=[0-9]{1,15}", text);
  if (!match) return std::nullopt;
  return ClassifiedLink{LinkKind::kFavourites, TextBetween(*match + "$", "fid=", "$"),
                        ListMode::kFiltered, std::nullopt};
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

}  // namespace

ClassifiedLink ClassifyLinkText(std::string_view text, const SiteHosts& hosts) {
  if (const auto bvid = FirstMatchOf(kBvidPattern, text); bvid && bvid->size() == kBvidLength) {
    return ClassifiedLink{LinkKind::kVideo, *bvid, ListMode::kFiltered, std::nullopt};
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
      (void)AddVideo(job, link.id);
      break;
    case LinkKind::kSpaceList:
      EnumerateSpaceList(job, link.mode);
      break;
    case LinkKind::kFavourites:
      EnumerateFavourites(job, link.id);
      break;
    case LinkKind::kUnknown:
      ui.ShowNotice(kCannotParseLink, kNoticeFailed);
      break;
  }
}

}  // namespace korvid
