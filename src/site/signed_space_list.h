#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "site/wbi_keys.h"
#include "site/wbi_signer.h"

// The uploader list as the site serves it today: the signed call, with the
// older unsigned call as a fallback.
namespace korvid {

inline constexpr std::string_view kOldSpaceListPath = "/x/space/arc/search";
inline constexpr std::string_view kSignedSpaceListPath = "/x/space/wbi/arc/search";
// Refusals of the site's risk control.
inline constexpr int kCodeRiskControl = -352;
inline constexpr int kCodeBlocked = -412;
inline constexpr std::string_view kRiskControlNotice = "被风控拦截，请登录后重试";

// The browser fingerprint fields a browser sends with the list call; the site
// refuses lists asked for without them.
[[nodiscard]] QueryParams BrowserFingerprintParams();

// The signed address for an address of the older list call (any host):
// its path becomes the signed one, its query is kept, the fingerprint fields
// are added and the whole is signed with keys and wts.
[[nodiscard]] std::string SignedSpaceListUrl(std::string_view oldUrl, const WbiKeys& keys,
                                             std::int64_t wts);

struct SpaceListAnswer {
  std::string body;         // the accepted answer; "" when both calls were refused
  bool accepted = false;    // an answer with code 0
  bool signedCall = false;  // the accepted answer came from the signed call
  // When refused: the text for the user, naming the refusal.
  std::string notice;
};

// One page of an uploader's list. oldUrl is the address of the older call as
// the link gives it. The signed call goes first; when it is refused with -352
// the keys are fetched again and, when they changed, it is tried once more.
// A refused or unanswered signed call falls back to the older call once.
// get fetches an address (empty: SpaceListGet), now gives wts.
// Worker threads only.
[[nodiscard]] SpaceListAnswer FetchSpaceListPage(std::string_view oldUrl, WbiKeyCache& keys,
                                                 const ApiGet& get = {}, const UnixClock& now = {});

// A list request as a browser sends it: the site headers with Origin and the
// visitor cookies of VisitorCookieStore::Shared(), no log-in cookie.
[[nodiscard]] std::string SpaceListGet(std::string_view url);

// The notice for a refused list: kRiskControlNotice for -352 and -412, else
// "读取列表失败" with the site's message and code, or alone without an answer.
[[nodiscard]] std::string ListRefusalNotice(std::string_view body);

}  // namespace korvid
