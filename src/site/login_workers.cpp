#include "site/login_workers.h"

#include <string_view>
#include <utility>

#include "controls/control_names.h"
#include "site/account_info.h"
#include "site/cookie_refresh.h"

namespace korvid {
namespace {

constexpr std::string_view kQrLoginJob = "QR log-in";
constexpr std::string_view kAccountJob = "account check";

}  // namespace

LoginWorkers::LoginWorkers(AppState& state, ApiFactory makeApi)
    : m_state(state), m_makeApi(std::move(makeApi)) {}

LoginWorkers::~LoginWorkers() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_stopSignal.notify_all();
  Join();
}

void LoginWorkers::StartQrLogin() {
  BusyGuard busy = m_state.Busy().TryAcquire(BusyFlag::kQrLogin);
  if (!busy) {
    m_state.Ui().ShowNotice(kNoticeQrBusy, kNoticeFailed);
    return;
  }
  // Held by the worker, so the flag clears on every way the log-in ends.
  auto held = std::make_shared<BusyGuard>(std::move(busy));
  (void)m_workers.Start(kQrLoginJob, [this, held] {
    const std::unique_ptr<QrLoginApi> api = m_makeApi();
    QrLoginHooks hooks;
    hooks.wait = [this](std::chrono::milliseconds interval) { return WaitOrStop(interval); };
    hooks.loggedIn = [this](const std::string& cookies, const std::string& refreshToken) {
      (void)StoreNewLogin(m_state.Paths().ConfigFile().string(), cookies, refreshToken,
                          UnixNowMs());
    };
    (void)RunQrLogin(m_state.Ui(), *api, hooks);
    held->Release();
  });
}

void LoginWorkers::CheckLogin() {
  if (m_state.Ui().Text(kCookiesBox).empty()) {
    ShowLoginMissing(m_state.Ui());
    return;
  }
  (void)m_workers.Start(kAccountJob, [this] { (void)ShowAccountInfo(m_state.Ui()); });
}

bool LoginWorkers::StartAccountCheckIfLoggedIn() {
  if (m_state.Ui().Text(kCookiesBox).empty()) return false;
  return m_workers.Start(kAccountJob, [this] {
    // Before the first request with the cookie: renew it when the site asks.
    (void)RefreshLoginIfDue(m_state.Ui(), m_state.Paths().ConfigFile().string(), UnixNowMs());
    (void)ShowAccountInfo(m_state.Ui());
  });
}

void LoginWorkers::SetPollWait(std::function<void(std::chrono::milliseconds)> wait) {
  m_pollWait = std::move(wait);
}

void LoginWorkers::Join() {
  m_workers.JoinAll();
}

bool LoginWorkers::WaitOrStop(std::chrono::milliseconds interval) {
  std::unique_lock lock(m_mutex);
  if (m_pollWait) {
    lock.unlock();
    m_pollWait(interval);
    lock.lock();
    return !m_stopping;
  }
  return !m_stopSignal.wait_for(lock, interval, [this] { return m_stopping; });
}

}  // namespace korvid
