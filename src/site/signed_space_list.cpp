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

}  // namespace

QueryParams BrowserFingerprintParams() {
  return {{"dm_img_list", "[]"},
          {"dm_img_str", UnpaddedBase64(kWebGlVersion)},
          {"dm_cover_img_str", UnpaddedBase64(kWebGlRenderer)}};
}

std::string SignedSpaceListUrl(std::string_view oldUrl, const WbiKeys& keys, std::int64_t wts) {
  const std::size_t mark = oldUrl.find('?');
  std::string base(oldUrl.substr(0, mark));
  const std::string_view query =
      mark == std::string_view::npos ? std::string_view() : oldUrl.substr(mark + 1);
  if (const std::size_t at = base.rfind(kOldSpaceListPath);
      at != std::string::npos && at + kOldSpaceListPath.size() == base.size()) {
    base.replace(at, kOldSpaceListPath.size(), kSignedSpaceListPath);
  }
  QueryParams params = ParseQuery(query);
  for (auto& field : BrowserFingerprintParams()) {
    const bool given = std::any_of(params.begin(), params.end(),
                                   [&](const auto& pair) { return pair.first == field.first; });
    if (!given) params.push_back(std::move(field));
  }
  return base + "?" + SignQuery(std::move(params), WbiMixinKey(keys), wts);
}

std::string SpaceListGet(std::string_view url) {
  return GetSiteApi(url, SiteRequest{true, VisitorCookieStore::Shared().Get().CookieText()});
}

std::string ListRefusalNotice(std::string_view body) {
  const ApiCode refusal = CodeOf(body);
  if (!refusal.answered) return std::string(kListFailedText);
  if (IsRiskControl(refusal.code)) return std::string(kRiskControlNotice);
  std::string text(kListFailedText);
  if (!refusal.message.empty()) text += "：" + refusal.message;
  return text + "（" + std::to_string(refusal.code) + "）";
}

SpaceListAnswer FetchSpaceListPage(std::string_view oldUrl, WbiKeyCache& keys, const ApiGet& get,
                                   const UnixClock& now) {
  const UnixClock clock = now ? now : UnixClock(SystemUnixSeconds);
  const ApiGet fetch = get ? get : ApiGet(SpaceListGet);
  const auto signedCall = [&](const WbiKeys& used) {
    return fetch(SignedSpaceListUrl(oldUrl, used, clock()));
  };
  std::string refusedSigned;
  if (const std::optional<WbiKeys> used = keys.Keys()) {
    std::string body = signedCall(*used);
    if (const ApiCode code = CodeOf(body); code.answered && code.code == kCodeRiskControl) {
      keys.Invalidate();
      const std::optional<WbiKeys> fresh = keys.Keys();
      if (fresh && *fresh != *used) body = signedCall(*fresh);
    }
    if (const ApiCode code = CodeOf(body); code.answered && code.code == 0) {
      return {std::move(body), true, true, {}};
    }
    refusedSigned = std::move(body);
  }
  std::string body = fetch(oldUrl);
  const ApiCode code = CodeOf(body);
  if (code.answered && code.code == 0) return {std::move(body), true, false, {}};
  // The risk control's refusal tells the user what to do, so it is named
  // when either call met it.
  const ApiCode signedCode = CodeOf(refusedSigned);
  const bool nameSigned = IsRiskControl(signedCode.code) || (!code.answered && signedCode.answered);
  return {{}, false, false, ListRefusalNotice(nameSigned ? refusedSigned : body)};
}

}  // namespace korvid
