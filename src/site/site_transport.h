#pragma once

#include <string>
#include <string_view>

#include "net/http_client.h"
#include "site/signed_space_list.h"

namespace korvid {

// How the site client reaches the site. Tests and the benchmark wrap it.
// One instance belongs to one worker thread; no call may run on the window
// thread.
class SiteTransport {
 public:
  virtual ~SiteTransport() = default;
  // A web page, fetched the way PlainGet does: "" on any failure, including a
  // status outside 200..299.
  [[nodiscard]] virtual std::string GetPage(std::string_view url) = 0;
  // An API answer: GET as a browser sends it (the site request headers and
  // the visitor cookies, no log-in cookie). The body whatever the status (the
  // site explains refusals in it); "" when no answer arrived.
  [[nodiscard]] virtual std::string GetApi(std::string_view url) = 0;
  // As GetApi, with how the request failed when no answer arrived.
  [[nodiscard]] virtual ApiReply GetApiReply(std::string_view url) { return GetApi(url); }
  // An uploader-list answer: as GetApi, plus Origin, and the visitor cookies
  // fetched first when there are none yet; with how it failed, for the notice.
  [[nodiscard]] virtual ApiReply GetSpaceList(std::string_view url) { return GetApi(url); }
  // As GetApi, with the log-in cookie (the text of 编辑框_cookies) beside the
  // visitor cookies: for the lists that belong to the logged-in user.
  [[nodiscard]] virtual std::string GetApiLoggedIn(std::string_view url,
                                                   std::string_view loginCookie);
};

// The real transport; keeps one connection session for its API requests.
class NetTransport final : public SiteTransport {
 public:
  [[nodiscard]] std::string GetPage(std::string_view url) override;
  [[nodiscard]] std::string GetApi(std::string_view url) override;
  [[nodiscard]] ApiReply GetApiReply(std::string_view url) override;
  [[nodiscard]] ApiReply GetSpaceList(std::string_view url) override;

 private:
  HttpSession m_session;
};

}  // namespace korvid
