#include "site/details_site_calls.h"

#include "net/http_client.h"
#include "net/regex_matcher.h"
#include "net/site_hosts.h"

// Until the video-adding code lands, a minimal version of its two pieces.
namespace korvid {

namespace {

constexpr std::string_view kStatePattern = "window.__INITIAL_STATE__=.+function()";

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::optional<JsonDocument> FromPage(std::string_view bvid) {
  RegexMatcher matcher;
  if (!matcher.Execute(kStatePattern, PlainGet(VideoPageUrl(bvid))) || matcher.Count() != 1) {
    return std::nullopt;
  }
  std::string state = ReplaceAll(matcher.MatchText(1), "window.__INITIAL_STATE__=", "");
  state = ReplaceAll(ReplaceAll(std::move(state), ";(function", ""), "videoData", "data");
  JsonDocument video;
  if (!video.Parse(state) || video.GetValue("data.bvid") != bvid) return std::nullopt;
  return video;
}

std::optional<JsonDocument> FromViewApi(std::string_view bvid) {
  const HttpResponse response =
      HttpRequest(ApiUrl("/x/web-interface/view?bvid=" + std::string(bvid)));
  JsonDocument video;
  if (!response.Completed() || !video.Parse(response.body)) return std::nullopt;
  if (video.GetValue("message") == "请求被拦截" || video.GetJson("code") != "0") {
    return std::nullopt;
  }
  return video;
}

}  // namespace

std::optional<JsonDocument> ObtainVideoInfo(std::string_view bvid) {
  if (auto video = FromPage(bvid)) return video;
  return FromViewApi(bvid);
}

std::string CleanFileName(std::string_view name) {
  std::string cleaned(name);
  for (std::string_view removed :
       {"\\", "/", ":", "*", "?", "\"", "<", ">", "|", "-", ".", "(", ")", "）", "（"}) {
    cleaned = ReplaceAll(std::move(cleaned), removed, "");
  }
  while (!cleaned.empty() && cleaned.back() == ' ') cleaned.pop_back();
  return cleaned;
}

}  // namespace korvid
