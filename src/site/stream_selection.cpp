#include "site/stream_selection.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "app/tasks/task_record.h"
#include "app/text_helpers.h"
#include "controls/control_names.h"
#include "net/http_client.h"
#include "net/site_hosts.h"
#include "site/licensed_work.h"
#include "site/quality_table.h"
#include "site/signed_space_list.h"
#include "site/site_headers.h"

namespace korvid {

namespace {

constexpr std::string_view kVideoEntries = "data.dash.video";
constexpr std::string_view kAudioEntries = "data.dash.audio";

std::string Entry(std::string_view array, int index, std::string_view field) {
  return std::string(array) + "[" + std::to_string(index) + "]." + std::string(field);
}

// The name lookup or the connection failed, or nothing came back in time.
bool SiteUnreachable(const HttpResponse& response) {
  return response.failure == HttpFailure::kConnect || response.failure == HttpFailure::kNoResponse;
}

PlayUrlAnswer ParseAnswer(const HttpResponse& response) {
  PlayUrlAnswer answer;
  if (response.Completed()) (void)answer.json.Parse(response.body);
  answer.unreachable = SiteUnreachable(response);
  return answer;
}

// The backup addresses of one entry: backupUrl in DASH entries, backup_url
// in the single-file form.
std::vector<std::string> Backups(const JsonDocument& answer, const std::string& entry) {
  std::string list = entry + ".backupUrl";
  if (answer.TypeOf(list) == kJsonMissing) list = entry + ".backup_url";
  std::vector<std::string> backups;
  const int count = answer.GetCount(list);
  for (int i = 0; i < count; ++i) {
    std::string url = answer.GetValue(list + "[" + std::to_string(i) + "]");
    if (!url.empty()) backups.push_back(std::move(url));
  }
  return backups;
}

int BestAudio(const JsonDocument& answer) {
  const int count = answer.GetCount(kAudioEntries);
  int best = 0;
  for (int i = 1; i < count; ++i) {
    if (answer.GetNumber(Entry(kAudioEntries, i, "bandwidth")) >
        answer.GetNumber(Entry(kAudioEntries, best, "bandwidth"))) {
      best = i;
    }
  }
  return best;
}

DashPick PickEntries(const JsonDocument& answer, int video) {
  const std::string videoEntry = std::string(kVideoEntries) + "[" + std::to_string(video) + "]";
  const std::string audioEntry =
      std::string(kAudioEntries) + "[" + std::to_string(BestAudio(answer)) + "]";
  return {answer.GetValue(videoEntry + ".baseUrl"), answer.GetValue(audioEntry + ".baseUrl"),
          Backups(answer, videoEntry), Backups(answer, audioEntry)};
}

// HDR and Dolby Vision: most players show them wrong, so an SDR entry of
// the same height goes first when the codec alone is chosen.
constexpr std::array<std::string_view, 2> kHighRangeIds{"125", "126"};

std::string VideoId(const JsonDocument& answer, int index) {
  return answer.GetObject(Entry(kVideoEntries, index, "id")).ToText();
}

bool InFamily(const JsonDocument& answer, int index, std::string_view familyPrefix) {
  return CodecFamilyOf(answer.GetValue(Entry(kVideoEntries, index, "codecs"))).prefix ==
         familyPrefix;
}

bool HighRange(const JsonDocument& answer, int index) {
  return std::ranges::find(kHighRangeIds, VideoId(answer, index)) != kHighRangeIds.end();
}

// First video entry of the codec family (hev1, hvc1, dvh1 and dvhe are all
// HEVC) and, when qualityId is given, whose id equals it; -1 when none does.
int FindVideo(const JsonDocument& answer, std::string_view familyPrefix,
              std::optional<std::int64_t> qualityId) {
  const int count = answer.GetCount(kVideoEntries);
  for (int i = 0; i < count; ++i) {
    if (InFamily(answer, i, familyPrefix) &&
        (!qualityId || VideoId(answer, i) == std::to_string(*qualityId))) {
      return i;
    }
  }
  return -1;
}

// An SDR entry of the family with the height of an HDR or Dolby Vision one,
// else that one.
int PreferSdr(const JsonDocument& answer, int video, std::string_view familyPrefix) {
  if (video < 0 || !HighRange(answer, video)) return video;
  const std::string height = answer.GetValue(Entry(kVideoEntries, video, "height"));
  const int count = answer.GetCount(kVideoEntries);
  for (int i = 0; i < count; ++i) {
    if (InFamily(answer, i, familyPrefix) && !HighRange(answer, i) &&
        answer.GetValue(Entry(kVideoEntries, i, "height")) == height) {
      return i;
    }
  }
  return video;
}

struct TaskKeys {
  std::string bvid;
  std::string aid;
  std::string cid;
  bool split = false;
  bool audio = false;
  bool customSource = false;
  std::string epId;  // set for an episode of a licensed work
  bool vipOnly = false;
};

TaskKeys ReadTaskKeys(std::string_view record) {
  JsonDocument doc;
  (void)doc.Parse(record);
  const auto read = [&doc](std::string_view path) { return Unquote(doc.GetValue(path)); };
  TaskKeys keys;
  keys.bvid = read("data.bvid");
  keys.aid = read("data.aid");
  keys.cid = read(record::kCid);
  keys.split = read(record::kSplit) == record::kTrue;
  keys.audio = read(record::kStreamKind) == record::kAudio;
  keys.customSource = read(record::kCustomSource) == record::kCustomSource;
  const std::string episode = std::string(record::kLicensedEpisode);
  keys.epId = read(episode + ".ep_id");
  if (keys.epId.empty()) keys.epId = read(episode + ".id");
  keys.vipOnly = !keys.epId.empty() && VipOnlyEpisode(doc.GetObject(episode));
  return keys;
}

StreamChoice Refusal(std::string text, bool unreachable = false) {
  StreamChoice choice;
  choice.refusal = std::move(text);
  choice.unreachable = unreachable;
  return choice;
}

StreamChoice PickDash(const PlayUrlAnswer& answer, const TaskKeys& keys,
                      const StreamSettings& settings) {
  const DashPick pick = keys.customSource ? PickBySourceValue(answer.json, settings.sourceValue)
                                          : PickByCodecIndex(answer.json, settings.codecIndex);
  StreamChoice choice;
  choice.url = keys.audio ? pick.audio : pick.video;
  choice.backups = keys.audio ? pick.audioBackups : pick.videoBackups;
  choice.suffix = keys.audio ? ".音频" : ".视频";
  if (choice.url.empty()) choice.refusal = std::string(kNoStreamAddress);
  return choice;
}

StreamChoice ChooseDash(const TaskKeys& keys, const StreamSettings& settings) {
  const PlayUrlAnswer answer = RequestDashPlayUrl(keys.cid, keys.bvid, keys.aid, settings.cookies);
  if (!answer.Accepted()) return Refusal(answer.RefusalText(), answer.unreachable);
  return PickDash(answer, keys, settings);
}

StreamChoice PickProgressive(const PlayUrlAnswer& answer) {
  StreamChoice choice;
  choice.url = answer.json.GetValue("data.durl[0].url");
  choice.backups = Backups(answer.json, "data.durl[0]");
  if (choice.url.empty()) choice.refusal = std::string(kNoStreamAddress);
  return choice;
}

StreamChoice ChooseProgressive(const TaskKeys& keys) {
  const PlayUrlAnswer answer = RequestProgressivePlayUrl(keys.aid, keys.cid);
  if (!answer.Accepted()) return Refusal(answer.RefusalText(), answer.unreachable);
  return PickProgressive(answer);
}

// An episode of a licensed work: its own player call, whose streams sit
// under "result"; an episode for VIP members only is not asked for without
// a VIP log-in.
StreamChoice ChooseLicensed(const TaskKeys& keys, const StreamSettings& settings) {
  if (keys.vipOnly && !VipLogin(settings.cookies)) return Refusal(std::string(kNeedsVip));
  const bool dash = keys.split && !settings.cookies.empty();
  const PlayUrlAnswer answer = RequestLicensedPlayUrl(keys.epId, keys.cid, dash, settings.cookies);
  if (!answer.Accepted()) return Refusal(answer.RefusalText(), answer.unreachable);
  return dash ? PickDash(answer, keys, settings) : PickProgressive(answer);
}

// The licensed player's answer in the form of the video player's: "result"
// becomes "data".
PlayUrlAnswer ParseLicensedAnswer(const HttpResponse& response) {
  PlayUrlAnswer answer;
  answer.unreachable = SiteUnreachable(response);
  if (!response.Completed()) return answer;
  nlohmann::ordered_json json = nlohmann::ordered_json::parse(response.body, nullptr, false);
  if (!json.is_object()) return answer;
  if (json.contains("result") && !json.contains("data")) {
    json["data"] = std::move(json["result"]);
    json.erase("result");
  }
  (void)answer.json.Parse(SerializeJson(json));
  return answer;
}

}  // namespace

std::string LicensedPlayUrlAddress(std::string_view epId, std::string_view cid, bool dash) {
  return ApiUrl(std::string(kLicensedPlayUrlPath) + "?ep_id=" + std::string(epId) + "&cid=" +
                std::string(cid) + (dash ? "&fnval=4048" : "&fnval=1") + "&fourk=1&fnver=0");
}

PlayUrlAnswer RequestLicensedPlayUrl(std::string_view epId, std::string_view cid, bool dash,
                                     std::string_view cookies) {
  HttpRequestOptions options;
  options.headers = SiteRequestHeaders(CurrentSiteHosts());
  std::string cookieText;
  if (!cookies.empty()) {
    cookieText = SiteCookieText(cookies, VisitorCookieStore::Shared().Known());
    options.cookies = &cookieText;
  }
  return ParseLicensedAnswer(HttpRequest(LicensedPlayUrlAddress(epId, cid, dash), options));
}

bool VipLogin(std::string_view cookies) {
  if (cookies.empty()) return false;
  HttpRequestOptions options;
  options.headers = SiteRequestHeaders(CurrentSiteHosts());
  std::string cookieText(cookies);
  options.cookies = &cookieText;
  const HttpResponse response = HttpRequest(ApiUrl("/x/space/myinfo"), options);
  JsonDocument account;
  if (!response.Completed() || !account.Parse(response.body)) return false;
  const std::string status = account.GetValue("data.vip.status");
  return account.GetValue("code") == "0" && !status.empty() && status != "0";
}

// fnval 4048 asks for every stream kind the site has (HDR, 4K, Dolby,
// 8K, AV1); fnval 16 alone gets AVC and HEVC only.
std::string DashPlayUrlAddress(std::string_view cid, std::string_view bvid, std::string_view aid) {
  return ApiUrl(std::string(kPlayUrlPath) + "?cid=" + std::string(cid) +
                "&qn=80&otype=json&fourk=1&fnver=0&fnval=4048&bvid=" + std::string(bvid) +
                "&avid=" + std::string(aid));
}

std::string ProgressivePlayUrlAddress(std::string_view aid, std::string_view cid) {
  return ApiUrl("/x/player/playurl?avid=" + std::string(aid) + "&cid=" + std::string(cid) +
                "&qn=1&type=&otype=json&platform=html5&high_quality=1");
}

bool PlayUrlAnswer::Accepted() const {
  return json.TypeOf("code") != kJsonMissing && json.GetValue("code") == "0";
}

std::string PlayUrlAnswer::RefusalText() const {
  if (json.TypeOf("code") == kJsonMissing) return std::string(kNoPlayUrlAnswer);
  const std::string message = json.GetValue("message");
  return message.empty() ? json.GetValue("code") : message;
}

PlayUrlAnswer RequestDashPlayUrl(std::string_view cid, std::string_view bvid, std::string_view aid,
                                 std::string_view cookies) {
  // The visitor cookies ride beside the log-in cookie; a request without a
  // log-in cookie stays without cookies (it asks for the progressive form).
  std::string cookieText;
  if (!cookies.empty()) cookieText = SiteCookieText(cookies, VisitorCookieStore::Shared().Known());
  const auto get = [&cookieText](std::string_view url) {
    HttpRequestOptions options;
    options.headers = SiteRequestHeaders(CurrentSiteHosts());
    if (!cookieText.empty()) options.cookies = &cookieText;
    return ParseAnswer(HttpRequest(url, options));
  };
  return RequestSignedPlayUrl(DashPlayUrlAddress(cid, bvid, aid), WbiKeyCache::Shared(), get);
}

PlayUrlAnswer RequestSignedPlayUrl(std::string_view unsignedUrl, WbiKeyCache& keys,
                                   const PlayUrlGet& get, const UnixClock& now) {
  const UnixClock clock = now ? now : UnixClock(SystemUnixSeconds);
  const auto signedCall = [&](const WbiKeys& used) {
    return get(SignedCallUrl(unsignedUrl, kPlayUrlPath, kSignedPlayUrlPath, used, clock()));
  };
  std::optional<PlayUrlAnswer> refusedSigned;
  if (const std::optional<WbiKeys> used = keys.Keys()) {
    PlayUrlAnswer answer = signedCall(*used);
    if (answer.json.GetValue("code") == std::to_string(kCodeRiskControl)) {
      keys.Invalidate();
      const std::optional<WbiKeys> fresh = keys.Keys();
      if (fresh && *fresh != *used) answer = signedCall(*fresh);
    }
    if (answer.Accepted()) return answer;
    // A refusal the site explained is kept; a call that brought no JSON
    // back (gone, cut off) leaves the word to the older call.
    if (answer.json.TypeOf("code") != kJsonMissing) refusedSigned = std::move(answer);
  }
  PlayUrlAnswer answer = get(unsignedUrl);
  if (answer.Accepted() || !refusedSigned) return answer;
  return std::move(*refusedSigned);
}

PlayUrlAnswer RequestProgressivePlayUrl(std::string_view aid, std::string_view cid) {
  HttpRequestOptions options;
  options.headers = SiteRequestHeaders(CurrentSiteHosts());
  return ParseAnswer(HttpRequest(ProgressivePlayUrlAddress(aid, cid), options));
}

StreamSettings StreamSettings::Read(const Controls& controls) {
  StreamSettings settings;
  settings.cookies = controls.Text(kCookiesBox);
  settings.codecIndex = controls.SelectedIndex(kCodecDrop);
  settings.sourceValue = controls.SelectedValue(kSourceDrop);
  return settings;
}

DashPick PickByCodecIndex(const JsonDocument& answer, int codecIndex) {
  int video = -1;
  if (codecIndex == kAv1CodecIndex) video = FindVideo(answer, kAv1Family.prefix, std::nullopt);
  // A video without AV1 streams is taken in HEVC, as before the AV1 item.
  if (video < 0) {
    const std::string_view prefix = codecIndex == 0 ? kAvcFamily.prefix : kHevcFamily.prefix;
    video = FindVideo(answer, prefix, std::nullopt);
    if (codecIndex != 0) video = PreferSdr(answer, video, prefix);
  }
  if (video < 0) video = codecIndex == 0 ? 0 : 1;
  return PickEntries(answer, video);
}

DashPick PickBySourceValue(const JsonDocument& answer, std::int64_t sourceValue) {
  const WantedStream wanted = WantedStreamOf(sourceValue);
  return PickEntries(answer, std::max(FindVideo(answer, wanted.prefix, wanted.qualityId), 0));
}

StreamChoice SelectStream(std::string_view taskRecord, const StreamSettings& settings) {
  const TaskKeys keys = ReadTaskKeys(taskRecord);
  if (!keys.epId.empty()) return ChooseLicensed(keys, settings);
  if (keys.split && !settings.cookies.empty()) return ChooseDash(keys, settings);
  return ChooseProgressive(keys);
}

StreamChoice SelectStream(std::string_view taskRecord, const Controls& controls) {
  return SelectStream(taskRecord, StreamSettings::Read(controls));
}

std::vector<DropItem> StreamListItems(const JsonDocument& answer) {
  std::vector<DropItem> items;
  const int count = answer.GetCount(kVideoEntries);
  for (int i = 0; i < count; ++i) {
    const std::string id = answer.GetObject(Entry(kVideoEntries, i, "id")).ToText();
    const std::string codecs = answer.GetValue(Entry(kVideoEntries, i, "codecs"));
    DropItem item;
    item.text = StreamLabel(id, codecs);
    item.value = StreamValue(id, codecs).value_or(0);
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace korvid
