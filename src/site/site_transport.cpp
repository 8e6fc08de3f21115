#include "site/site_transport.h"

#include "net/site_hosts.h"
#include "site/signed_space_list.h"
#include "site/site_headers.h"

namespace korvid {

std::string NetTransport::GetPage(std::string_view url) {
  return PlainGet(url);
}

std::string NetTransport::GetApi(std::string_view url) {
  ApiReply reply = GetApiReply(url);
  return reply.failure == HttpFailure::kNone ? std::move(reply.body) : std::string();
}

ApiReply NetTransport::GetApiReply(std::string_view url) {
  HttpRequestOptions options;
  options.session = &m_session;
  options.headers = SiteRequestHeaders(CurrentSiteHosts());
  // Only cookies already known: fetching them is left to the calls that
  // are refused without them.
  std::string cookies = VisitorCookieStore::Shared().Known().CookieText();
  if (!cookies.empty()) {
    options.cookies = &cookies;
    options.mergeCookies = false;
  }
  HttpResponse response = HttpRequest(url, options);
  return {std::move(response.body), response.status, response.failure};
}

std::string SiteTransport::GetApiLoggedIn(std::string_view url, std::string_view loginCookie) {
  HttpRequestOptions options;
  options.headers = SiteRequestHeaders(CurrentSiteHosts());
  std::string cookies = SiteCookieText(loginCookie, VisitorCookieStore::Shared().Known());
  if (!cookies.empty()) {
    options.cookies = &cookies;
    options.mergeCookies = false;
  }
  HttpResponse response = HttpRequest(url, options);
  return response.Completed() ? std::move(response.body) : std::string();
}

ApiReply NetTransport::GetSpaceList(std::string_view url) {
  return SpaceListReply(url);
}

}  // namespace korvid
