#include "site/licensed_work.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <utility>

#include "app/tasks/task_record.h"
#include "site/signed_space_list.h"

namespace korvid {
namespace {

using Json = JsonDocument::Json;

constexpr std::string_view kMainEpisodes = "result.episodes";
constexpr std::string_view kSections = "result.section";
constexpr std::string_view kVipBadge = "会员";
constexpr std::string_view kVipStatus = "13";
// The unit of an episode's duration is not stated; the site's values are
// those of milliseconds (about 1.4 million for 24 minutes).
constexpr double kMillisecondsPerSecond = 1000;

std::string Item(std::string_view array, int index) {
  return std::string(array) + "[" + std::to_string(index) + "]";
}

bool IsNumber(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

const Json& At(const Json& json, std::string_view key) {
  static const Json kNull;
  const auto found = json.find(std::string(key));
  return found == json.end() ? kNull : *found;
}

// The episode object at a path of the answer ("result.episodes[2]").
Json EpisodeObject(const JsonDocument& season, const SeasonEpisode& episode) {
  JsonDocument object = season.GetObject(episode.path);
  return object.GetEngine().is_object() ? object.GetEngine() : Json::object();
}

Json PageOf(const Json& episode, const std::string& part) {
  Json page = Json::object();
  page["cid"] = At(episode, "cid");
  page["page"] = 1;
  page["part"] = part;
  const Json& duration = At(episode, "duration");
  if (duration.is_number()) {
    page["duration"] = std::llround(duration.get<double>() / kMillisecondsPerSecond);
  }
  return page;
}

}  // namespace

std::string SeasonUrl(SeasonKey key, std::string_view id, const SiteHosts& hosts) {
  const std::string_view name = key == SeasonKey::kSeasonId ? "season_id" : "ep_id";
  return hosts.api + "/pgc/view/web/season?" + std::string(name) + "=" + std::string(id);
}

std::string MediaReviewUrl(std::string_view mediaId, const SiteHosts& hosts) {
  return hosts.api + "/pgc/review/user?media_id=" + std::string(mediaId);
}

SeasonAnswer ReadSeason(SiteTransport& transport, SeasonKey key, std::string_view id) {
  const ApiReply reply(transport.GetApi(SeasonUrl(key, id, CurrentSiteHosts())));
  SeasonAnswer season;
  if (!season.answer.Parse(reply.body) || season.answer.GetValue("code") != "0" ||
      season.answer.TypeOf("result") != kJsonObject) {
    season.refusal = ListRefusalNotice(reply);
  }
  return season;
}

std::optional<std::string> SeasonOfMedia(SiteTransport& transport, std::string_view mediaId,
                                         std::string& refusal) {
  const ApiReply reply(transport.GetApi(MediaReviewUrl(mediaId, CurrentSiteHosts())));
  JsonDocument answer;
  if (answer.Parse(reply.body) && answer.GetValue("code") == "0") {
    std::string season = answer.GetValue("result.media.season_id");
    if (IsNumber(season)) return season;
  }
  refusal = ListRefusalNotice(reply);
  return std::nullopt;
}

SeasonAnswer ReadLinkedSeason(SiteTransport& transport, LinkKind kind, std::string_view id) {
  if (kind == LinkKind::kPgcEpisode) return ReadSeason(transport, SeasonKey::kEpisodeId, id);
  if (kind != LinkKind::kPgcMedia) return ReadSeason(transport, SeasonKey::kSeasonId, id);
  SeasonAnswer season;
  std::string refusal;
  const auto found = SeasonOfMedia(transport, id, refusal);
  if (!found) {
    season.refusal = std::move(refusal);
    return season;
  }
  return ReadSeason(transport, SeasonKey::kSeasonId, *found);
}

std::vector<SeasonEpisode> SeasonEpisodes(const JsonDocument& season, bool extras) {
  std::vector<SeasonEpisode> episodes;
  const int main = season.GetCount(kMainEpisodes);
  episodes.reserve(static_cast<std::size_t>(std::max(main, 0)));
  for (int i = 0; i < main; ++i) episodes.push_back({Item(kMainEpisodes, i), i + 1, false});
  if (!extras) return episodes;
  const int sections = season.GetCount(kSections);
  int number = 0;
  for (int s = 0; s < sections; ++s) {
    const std::string list = Item(kSections, s) + ".episodes";
    const int count = season.GetCount(list);
    for (int i = 0; i < count; ++i) episodes.push_back({Item(list, i), ++number, true});
  }
  return episodes;
}

std::optional<SeasonEpisode> FindEpisode(const JsonDocument& season, std::string_view epId) {
  for (const SeasonEpisode& episode : SeasonEpisodes(season, true)) {
    const std::string path = episode.path;
    if (season.GetValue(path + ".ep_id") == epId || season.GetValue(path + ".id") == epId) {
      return episode;
    }
  }
  return std::nullopt;
}

std::string EpisodeId(const JsonDocument& season, const SeasonEpisode& episode) {
  std::string id = season.GetValue(episode.path + ".ep_id");
  return id.empty() ? season.GetValue(episode.path + ".id") : id;
}

std::string EpisodeTitle(const JsonDocument& season, const SeasonEpisode& episode) {
  std::string show = season.GetValue(episode.path + ".show_title");
  if (!show.empty()) return show;
  const std::string title = season.GetValue(episode.path + ".title");
  const std::string longTitle = season.GetValue(episode.path + ".long_title");
  std::string head = !episode.extra && IsNumber(title) ? "第" + title + "话" : title;
  if (longTitle.empty()) return head;
  return head.empty() ? longTitle : head + " " + longTitle;
}

bool VipOnlyEpisode(const JsonDocument& episode) {
  return episode.GetValue("status") == kVipStatus || episode.GetValue("badge") == kVipBadge ||
         episode.GetValue("badge_info.text") == kVipBadge;
}

JsonDocument EpisodeRecord(const JsonDocument& season, const SeasonEpisode& episode) {
  const Json& result = season.GetEngine().at("result");
  const Json item = EpisodeObject(season, episode);
  const std::string part = EpisodeTitle(season, episode);
  Json data = Json::object();
  data["bvid"] = At(item, "bvid");
  data["aid"] = At(item, "aid");
  data["videos"] = 0;
  data["title"] = At(result, "title");
  data["pic"] = At(result, "cover");
  data["desc"] = At(result, "evaluate");
  data["pubdate"] = At(item, "pub_time");
  data["owner"] = Json{{"name", ""}};
  data["pages"] = Json::array({PageOf(item, part)});
  Json seasonPart = result;
  seasonPart.erase("episodes");
  seasonPart.erase("section");
  Json record = Json::object();
  record["data"] = std::move(data);
  record[std::string(record::kLicensed)] =
      Json{{"season", std::move(seasonPart)},
           {"episode", item},
           {"special", std::string(episode.extra ? record::kTrue : record::kFalse)}};
  JsonDocument document;
  (void)document.Parse(SerializeJson(record));
  return document;
}

}  // namespace korvid
