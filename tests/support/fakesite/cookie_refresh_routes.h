#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "support/fakesite/fake_site.h"

namespace korvid::fakesite {

struct Reply;
struct Incoming;

// The passport host's cookie refresh: cookie/info, the correspond page on the
// web host, cookie/refresh and confirm/refresh, with an RSA key pair of its
// own (the client is given the public half as its refresh key). Holds the
// log-in the refresh renews: it starts as the catalogue's account with the
// QR log-in's refresh token. Thread-safe.
class CookieRefreshRoutes {
 public:
  struct Keys;

  CookieRefreshRoutes(std::string sessdata, std::string biliJct, std::string refreshToken);
  ~CookieRefreshRoutes();
  CookieRefreshRoutes(const CookieRefreshRoutes&) = delete;
  CookieRefreshRoutes& operator=(const CookieRefreshRoutes&) = delete;

  [[nodiscard]] std::optional<Reply> Route(const Incoming& in);
  // True for the SESSDATA of the log-in now, and of the one before it until
  // the confirm retires it.
  [[nodiscard]] bool Accepts(const std::string& sessdata) const;

  [[nodiscard]] std::string PublicKeyBase64() const;
  void SetRefreshNeeded(bool needed);
  void SetRefreshAnswerCode(int code);
  [[nodiscard]] RefreshCalls Calls() const;
  // The correspond path and the decrypted text the page route saw last.
  [[nodiscard]] std::string LastDecrypted() const;

 private:
  struct Login {
    std::string sessdata;
    std::string biliJct;
    std::string refreshToken;
  };

  [[nodiscard]] Reply Info(const Incoming& in);
  [[nodiscard]] Reply Correspond(const Incoming& in, const std::string& hexPath);
  [[nodiscard]] Reply Refresh(const Incoming& in);
  [[nodiscard]] Reply Confirm(const Incoming& in);
  [[nodiscard]] bool AcceptsLocked(const std::string& sessdata) const;

  mutable std::mutex m_mutex;
  Login m_current;
  std::optional<Login> m_previous;  // until confirmed
  bool m_needed = false;
  int m_answerCode = 0;
  int m_renewals = 0;
  std::set<std::int64_t> m_timestamps;
  std::string m_refreshCsrf;
  std::string m_lastDecrypted;
  RefreshCalls m_calls;
};

}  // namespace korvid::fakesite
