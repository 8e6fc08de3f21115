#include "site/player_subtitles.h"

#include <nlohmann/json.hpp>
#include <optional>

#include "net/site_hosts.h"
#include "site/site_headers.h"

namespace korvid {
namespace {

using Json = nlohmann::json;

constexpr int kAiSubtitleType = 1;
constexpr std::int64_t kCodeRiskControl = -352;

std::string StringMember(const Json& object, const char* name) {
  const auto found = object.find(name);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

bool SafeFileNamePart(std::string_view text) {
  return !text.empty() && text.find_first_of("/\\:*?\"<>|") == std::string_view::npos &&
         text.find("..") == std::string_view::npos;
}

std::optional<SubtitleTrack> TrackOf(const Json& entry) {
  if (!entry.is_object()) return std::nullopt;
  SubtitleTrack track;
  track.lan = StringMember(entry, "lan");
  track.lanDoc = StringMember(entry, "lan_doc");
  track.url = StringMember(entry, "subtitle_url");
  if (!SafeFileNamePart(track.lan) || track.url.empty()) return std::nullopt;
  if (track.url.starts_with("//")) track.url.insert(0, "https:");
  const auto type = entry.find("type");
  track.ai = track.lan.starts_with("ai-") ||
             (type != entry.end() && type->is_number_integer() && *type == kAiSubtitleType);
  return track;
}

// The answer's code when it is an answer at all.
std::optional<std::int64_t> CodeOf(const Json& answer) {
  if (!answer.is_object()) return std::nullopt;
  const auto code = answer.find("code");
  if (code == answer.end() || !code->is_number_integer()) return std::nullopt;
  return code->get<std::int64_t>();
}

bool Accepted(std::string_view body) {
  return CodeOf(Json::parse(body, nullptr, false)) == 0;
}

std::string PlayerQuery(const SubtitleRequest& request) {
  return "aid=" + request.aid + "&cid=" + request.cid;
}

}  // namespace

std::vector<SubtitleTrack> ParseSubtitleTracks(std::string_view playerAnswer) {
  std::vector<SubtitleTrack> tracks;
  const Json answer = Json::parse(playerAnswer, nullptr, false);
  if (CodeOf(answer) != 0) return tracks;
  const Json::json_pointer listPointer("/data/subtitle/subtitles");
  if (!answer.contains(listPointer) || !answer.at(listPointer).is_array()) return tracks;
  for (const Json& entry : answer.at(listPointer)) {
    if (std::optional<SubtitleTrack> track = TrackOf(entry)) tracks.push_back(std::move(*track));
  }
  return tracks;
}

std::vector<SubtitleTrack> FetchSubtitleTracks(const SubtitleRequest& request, WbiKeyCache& keys,
                                               const ApiGet& get, const UnixClock& now) {
  const ApiGet fetch = get ? get : ApiGet([&request](std::string_view url) {
    return GetSiteApi(url, SiteRequest{false, request.cookies});
  });
  const UnixClock clock = now ? now : UnixClock(SystemUnixSeconds);
  const auto signedCall = [&](const WbiKeys& used) {
    const std::string query =
        SignQuery({{"aid", request.aid}, {"cid", request.cid}}, WbiMixinKey(used), clock());
    return fetch(ApiUrl(std::string(kSignedPlayerPath) + "?" + query));
  };
  if (const std::optional<WbiKeys> used = keys.Keys()) {
    std::string body = signedCall(*used);
    // -352: the keys changed before the day was over.
    if (CodeOf(Json::parse(body, nullptr, false)) == kCodeRiskControl) {
      keys.Invalidate();
      const std::optional<WbiKeys> fresh = keys.Keys();
      if (fresh && *fresh != *used) body = signedCall(*fresh);
    }
    if (Accepted(body)) return ParseSubtitleTracks(body);
  }
  return ParseSubtitleTracks(fetch(ApiUrl(std::string(kPlayerPath) + "?" + PlayerQuery(request))));
}

}  // namespace korvid
