// The passport host's newer QR log-in (/x/passport-login/web/qrcode/...) and
// the switch that retires either generation.

#include <array>
#include <cstdio>

#include "support/fakesite/site_routes.h"

namespace korvid::fakesite {

namespace {

constexpr int kNotScanned = 86101;
constexpr int kNotConfirmed = 86090;
constexpr int kExpired = 86038;

Reply WebPollAnswer(int code, const char* message) {
  Json data;
  data["url"] = "";
  data["refresh_token"] = "";
  data["timestamp"] = 0;
  data["code"] = code;
  data["message"] = message;
  return JsonReply(DumpApiJson(Json{{"code", 0}, {"message", "0"}, {"ttl", 1}, {"data", data}}));
}

}  // namespace

void SiteRoutes::RetireQrLogin(QrLoginRetirement retirement) {
  std::lock_guard lock(m_mutex);
  m_qrRetirement = retirement;
}

std::optional<Reply> SiteRoutes::PassportRoute(const Incoming& in) {
  const std::string& path = in.request.path;
  const bool get = in.request.method == "GET" || in.request.method == "HEAD";
  const bool newer = path.rfind("/x/passport-login/web/qrcode/", 0) == 0;
  QrLoginRetirement retired;
  {
    std::lock_guard lock(m_mutex);
    retired = m_qrRetirement;
  }
  if (newer && retired.newer) {
    return TextReply(404, "not found");
  }
  if (path == "/qrcode/getLoginInfo" && retired.older) {
    return JsonReply(R"({"code":20000,"status":false,"message":"请使用新版登录"})");
  }
  if (get && path == "/x/passport-login/web/qrcode/generate") {
    return WebQrGenerate();
  }
  if (get && path == "/x/passport-login/web/qrcode/poll") {
    return WebQrPoll(in);
  }
  return std::nullopt;
}

Reply SiteRoutes::WebQrGenerate() {
  std::string key;
  {
    std::lock_guard lock(m_mutex);
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%016llx%016llx", 0x8587cf8106a0b863ULL,
                  static_cast<unsigned long long>(++m_issuedKeys));
    key = text.data();
    m_loginKeys[key] = LoginKey{m_loginScript, 0, false};
  }
  Json data;
  data["url"] =
      "https://passport.bilibili.com/h5-app/passport/login/scan?navhide=1&qrcode_key=" + key +
      "&from=";
  data["qrcode_key"] = key;
  return JsonReply(DumpApiJson(Json{{"code", 0}, {"message", "0"}, {"ttl", 1}, {"data", data}}));
}

Reply SiteRoutes::WebQrPoll(const Incoming& in) {
  LoginKey state;
  {
    std::lock_guard lock(m_mutex);
    const auto it = m_loginKeys.find(in.Param("qrcode_key"));
    if (it == m_loginKeys.end() || it->second.finished) {
      return WebPollAnswer(kExpired, "二维码已失效");
    }
    state = it->second;
    state.polls = ++it->second.polls;
    it->second.finished =
        state.polls > state.script.notScannedPolls + state.script.notConfirmedPolls;
  }
  if (state.polls <= state.script.notScannedPolls) {
    return WebPollAnswer(kNotScanned, "未扫码");
  }
  if (state.polls <= state.script.notScannedPolls + state.script.notConfirmedPolls) {
    return WebPollAnswer(kNotConfirmed, "二维码已扫码未确认");
  }
  if (state.script.expire) {
    return WebPollAnswer(kExpired, "二维码已失效");
  }
  const Json& account = m_catalogue->Settings()["account"];
  Json data;
  data["url"] = "https://passport.biligame.com/crossDomain?DedeUserID=" +
                account["dedeUserId"].get<std::string>() +
                "&SESSDATA=" + account["sessdata"].get<std::string>() +
                "&gourl=https%3A%2F%2Fpassport.bilibili.com";
  data["refresh_token"] = kQrRefreshToken;
  data["timestamp"] = 1662363009601;
  data["code"] = 0;
  data["message"] = "";
  Reply reply =
      JsonReply(DumpApiJson(Json{{"code", 0}, {"message", "0"}, {"ttl", 1}, {"data", data}}));
  reply.headers = LoginSetCookies();
  return reply;
}

HeaderList SiteRoutes::LoginSetCookies() const {
  const Json& account = m_catalogue->Settings()["account"];
  const std::string tail = "; Path=/; Domain=bilibili.com; Expires=Sat, 04 Mar 2037 07:30:09 GMT";
  return {{"set-cookie", "sid=fakesid1" + tail},
          {"set-cookie", "DedeUserID=" + account["dedeUserId"].get<std::string>() + tail},
          {"set-cookie", "DedeUserID__ckMd5=0f1e2d3c4b5a6978" + tail},
          {"set-cookie",
           "SESSDATA=" + account["sessdata"].get<std::string>() + tail + "; HttpOnly; Secure"},
          {"set-cookie", "bili_jct=" + account["biliJct"].get<std::string>() + tail}};
}

}  // namespace korvid::fakesite
