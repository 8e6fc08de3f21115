#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "net/http_client.h"
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

// The signed address of a call for the address of its older unsigned form
// (any host): oldPath at the end of the path becomes signedPath, the query is
// kept, the fingerprint fields are added and the whole is signed.
[[nodiscard]] std::string SignedCallUrl(std::string_view oldUrl, std::string_view oldPath,
                                        std::string_view signedPath, const WbiKeys& keys,
                                        std::int64_t wts);

// The signed address for an address of the older list call (any host):
// its path becomes the signed one, its query is kept, the fingerprint fields
// are added and the whole is signed with keys and wts.
[[nodiscard]] std::string SignedSpaceListUrl(std::string_view oldUrl, const WbiKeys& keys,
                                             std::int64_t wts);

// One answer of a list call, with how it failed when no body came.
struct ApiReply {
  std::string body;
  int status = 0;  // 0: not known (or no answer)
  HttpFailure failure = HttpFailure::kNone;

  ApiReply() = default;
  // A body alone, as the stand-ins of tests give it.
  ApiReply(std::string text) : body(std::move(text)) {}  // NOLINT(google-explicit-constructor)
  ApiReply(std::string text, int code, HttpFailure how)
      : body(std::move(text)), status(code), failure(how) {}
};
using ReplyGet = std::function<ApiReply(std::string_view url)>;

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
// When both fail, the notice names the signed call's refusal (a time-out, a
// broken answer, a block): the older call only stands in for it, so its
// answer (a retired call's "too many requests") is named only when the
// signed call could not be made (no keys) or is not served (HTTP 404).
// get fetches an address (empty: SpaceListReply), now gives wts.
// Worker threads only.
[[nodiscard]] SpaceListAnswer FetchSpaceListPage(std::string_view oldUrl, WbiKeyCache& keys,
                                                 const ReplyGet& get = {},
                                                 const UnixClock& now = {});

// A list request as a browser sends it: the site headers with Origin and the
// visitor cookies of VisitorCookieStore::Shared(), no log-in cookie.
[[nodiscard]] ApiReply SpaceListReply(std::string_view url);

// The notice for a refused list, for the space lists and favourites alike:
// kRiskControlNotice for -352 and -412 (and an HTTP 412 without JSON), else
// "读取列表失败" with the site's message and code, with what went wrong when
// no JSON came (time-out, broken connection, HTTP status), or alone.
[[nodiscard]] std::string ListRefusalNotice(const ApiReply& reply);

// Why an API call brought nothing usable, for a notice: what went wrong on
// the way (a time-out, no connection), the HTTP status, or the site's
// message and code; "" when the answer says nothing.
[[nodiscard]] std::string ReplyFailureReason(const ApiReply& reply);

}  // namespace korvid
