#include "site/site_transport.h"

namespace korvid {

std::string NetTransport::GetPage(std::string_view url) {
  return PlainGet(url);
}

std::string NetTransport::GetApi(std::string_view url) {
  HttpRequestOptions options;
  options.session = &m_session;
  HttpResponse response = HttpRequest(url, options);
  return response.Completed() ? std::move(response.body) : std::string();
}

}  // namespace korvid
