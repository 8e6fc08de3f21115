#include "site/video_info.h"

#include <cctype>

#include "net/regex_matcher.h"
#include "net/site_hosts.h"
#include "site/signed_space_list.h"

namespace korvid {

namespace {

constexpr std::string_view kStatePattern = "window.__INITIAL_STATE__=.+function()";
constexpr std::string_view kStatePrefix = "window.__INITIAL_STATE__=";
constexpr std::string_view kStateSuffix = ";(function";
constexpr std::string_view kBlockedMessage = "请求被拦截";

void EraseAll(std::string& text, std::string_view what) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
    text.erase(at, what.size());
  }
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// The "BV" of an identifier may come in lower case from a pasted link; the
// rest is case-sensitive.
bool SameBvid(std::string_view answered, std::string_view asked) {
  constexpr std::size_t kPrefix = 2;
  if (answered.size() != asked.size() || answered.size() < kPrefix) return false;
  for (std::size_t i = 0; i < kPrefix; ++i) {
    if (std::tolower(static_cast<unsigned char>(answered[i])) !=
        std::tolower(static_cast<unsigned char>(asked[i]))) {
      return false;
    }
  }
  return answered.substr(kPrefix) == asked.substr(kPrefix);
}

// The view API's codes for a video that is not there for anyone: -404 (no
// such video), 62002 (made invisible), 62004 (under review), 62012 (only
// its uploader may see it).
bool IsGoneCode(std::string_view code) {
  return code == "-404" || code == "62002" || code == "62004" || code == "62012";
}

VideoInfo FromViewApi(SiteTransport& transport, std::string_view bvid) {
  VideoInfo info;
  const ApiReply reply =
      transport.GetApiReply(ApiUrl("/x/web-interface/view?bvid=" + std::string(bvid)));
  if (reply.failure == HttpFailure::kNone) (void)info.answer.Parse(reply.body);
  // An answer about another video is no answer about this one.
  info.refused = info.answer.GetValue("message") == kBlockedMessage ||
                 info.answer.GetJson("code") != "0" ||
                 !SameBvid(info.answer.GetValue("data.bvid"), bvid);
  info.gone = info.refused && IsGoneCode(info.answer.GetJson("code"));
  if (info.refused) info.reason = ReplyFailureReason(reply);
  return info;
}

}  // namespace

std::optional<std::string> EmbeddedVideoState(std::string_view page) {
  RegexMatcher matcher;
  if (!matcher.Execute(kStatePattern, page) || matcher.Count() != 1) return std::nullopt;
  std::string state = matcher.MatchText(1);
  EraseAll(state, kStatePrefix);
  EraseAll(state, kStateSuffix);
  // Only the member name: a title that mentions videoData keeps its text.
  ReplaceAll(state, "\"videoData\":", "\"data\":");
  return state;
}

VideoInfo FetchVideoInfo(SiteTransport& transport, std::string_view bvid) {
  VideoInfo info;
  const std::optional<std::string> state =
      EmbeddedVideoState(transport.GetPage(VideoPageUrl(bvid)));
  // A page without exactly one state (or no page at all) goes to the view API
  // too, so a video is never dropped without a trace.
  if (state && info.answer.Parse(*state) && info.answer.GetValue("data.bvid") == bvid) {
    info.fromPage = true;
    return info;
  }
  return FromViewApi(transport, bvid);
}

}  // namespace korvid
