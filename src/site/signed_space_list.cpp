#include "site/signed_space_list.h"

#include <algorithm>
#include <optional>

#include "net/http_text.h"
#include "net/json_document.h"
#include "site/site_headers.h"

namespace korvid {

namespace {

// Fixed strings of a common desktop browser's WebGL context, Base64 without
// padding as browsers send them.
constexpr std::string_view kWebGlVersion = "WebGL 1.0 (OpenGL ES 2.0 Chromium)";
constexpr std::string_view kWebGlRenderer =
    "ANGLE (Intel, Intel(R) UHD Graphics 620 Direct3D11 vs_5_0 ps_5_0, D3D11)Google Inc. (Intel)";
constexpr std::string_view kListFailedText = "读取列表失败";

std::string UnpaddedBase64(std::string_view text) {
  std::string encoded = Base64Encode(text);
  while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
  return encoded;
}

struct ApiCode {
  bool answered = false;  // a JSON answer with a code
  int code = 0;
  std::string message;
};

ApiCode CodeOf(std::string_view body) {
  JsonDocument answer;
  if (body.empty() || !answer.Parse(body) || !answer.Exists("code")) return {};
  return {true, static_cast<int>(answer.GetNumber("code")), answer.GetValue("message")};
}

bool IsRiskControl(int code) {
  return code == kCodeRiskControl || code == kCodeBlocked;
}

constexpr int kHttpBlocked = 412;
constexpr int kHttpNotFound = 404;

// What went wrong on the way, for a call that brought no JSON back.
std::string_view FailureText(HttpFailure failure) {
  switch (failure) {
    case HttpFailure::kNone:
      return {};
    case HttpFailure::kNoResponse:
      return "请求超时";
    case HttpFailure::kRead:
      return "连接中断";
    case HttpFailure::kConnect:
      return "无法连接服务器";
    case HttpFailure::kTls:
      return "安全连接失败";
    case HttpFailure::kTooLarge:
      return "回应过大";
    default:
      return "请求失败";
  }
}

bool Accepted(const ApiReply& reply) {
  const ApiCode code = CodeOf(reply.body);
  return code.answered && code.code == 0;
}

}  // namespace

QueryParams BrowserFingerprintParams() {
  return {{"dm_img_list", "[]"},
          {"dm_img_str", UnpaddedBase64(kWebGlVersion)},
          {"dm_cover_img_str", UnpaddedBase64(kWebGlRenderer)}};
}

std::string SignedSpaceListUrl(std::string_view oldUrl, const WbiKeys& keys, std::int64_t wts) {
  return SignedCallUrl(oldUrl, kOldSpaceListPath, kSignedSpaceListPath, keys, wts);
}

std::string SignedCallUrl(std::string_view oldUrl, std::string_view oldPath,
                          std::string_view signedPath, const WbiKeys& keys, std::int64_t wts) {
  const std::size_t mark = oldUrl.find('?');
  std::string base(oldUrl.substr(0, mark));
  const std::string_view query =
      mark == std::string_view::npos ? std::string_view() : oldUrl.substr(mark + 1);
  if (const std::size_t at = base.rfind(oldPath);
      at != std::string::npos && at + oldPath.size() == base.size()) {
    base.replace(at, oldPath.size(), signedPath);
  }
  QueryParams params = ParseQuery(query);
  for (auto& field : BrowserFingerprintParams()) {
    const bool given = std::any_of(params.begin(), params.end(),
                                   [&](const auto& pair) { return pair.first == field.first; });
    if (!given) params.push_back(std::move(field));
  }
  return base + "?" + SignQuery(std::move(params), WbiMixinKey(keys), wts);
}

ApiReply SpaceListReply(std::string_view url) {
  const HttpResponse response =
      SiteApiRequest(url, SiteRequest{true, VisitorCookieStore::Shared().Get().CookieText()});
  return {response.body, response.status, response.failure};
}

std::string ListRefusalNotice(const ApiReply& reply) {
  const ApiCode refusal = CodeOf(reply.body);
  if (!refusal.answered) {
    if (reply.failure != HttpFailure::kNone) {
      return std::string(kListFailedText) + "：" + std::string(FailureText(reply.failure));
    }
    if (reply.status == kHttpBlocked) return std::string(kRiskControlNotice);
    if (reply.status != 0 && (reply.status < 200 || reply.status > 299)) {
      return std::string(kListFailedText) + "：HTTP " + std::to_string(reply.status);
    }
    return std::string(kListFailedText);
  }
  if (IsRiskControl(refusal.code)) return std::string(kRiskControlNotice);
  std::string text(kListFailedText);
  if (!refusal.message.empty()) text += "：" + refusal.message;
  return text + "（" + std::to_string(refusal.code) + "）";
}

std::string ReplyFailureReason(const ApiReply& reply) {
  const ApiCode refusal = CodeOf(reply.body);
  if (refusal.answered && refusal.code != 0) {
    return refusal.message.empty() ? "代码 " + std::to_string(refusal.code)
                                   : refusal.message + "（" + std::to_string(refusal.code) + "）";
  }
  if (reply.failure != HttpFailure::kNone) return std::string(FailureText(reply.failure));
  if (reply.status != 0 && (reply.status < 200 || reply.status > 299)) {
    return "HTTP " + std::to_string(reply.status);
  }
  return {};
}

SpaceListAnswer FetchSpaceListPage(std::string_view oldUrl, WbiKeyCache& keys, const ReplyGet& get,
                                   const UnixClock& now) {
  const UnixClock clock = now ? now : UnixClock(SystemUnixSeconds);
  const ReplyGet fetch = get ? get : ReplyGet(SpaceListReply);
  const auto signedCall = [&](const WbiKeys& used) {
    return fetch(SignedSpaceListUrl(oldUrl, used, clock()));
  };
  std::optional<ApiReply> refusedSigned;
  if (const std::optional<WbiKeys> used = keys.Keys()) {
    ApiReply reply = signedCall(*used);
    if (const ApiCode code = CodeOf(reply.body); code.answered && code.code == kCodeRiskControl) {
      keys.Invalidate();
      const std::optional<WbiKeys> fresh = keys.Keys();
      if (fresh && *fresh != *used) reply = signedCall(*fresh);
    }
    if (Accepted(reply)) return {std::move(reply.body), true, true, {}};
    refusedSigned = std::move(reply);
  }
  ApiReply reply = fetch(oldUrl);
  if (Accepted(reply)) return {std::move(reply.body), true, false, {}};
  // A signed call the site does not serve (404) had nothing to say.
  const bool signedSpoke = refusedSigned && refusedSigned->status != kHttpNotFound;
  return {{}, false, false, ListRefusalNotice(signedSpoke ? *refusedSigned : reply)};
}

}  // namespace korvid
