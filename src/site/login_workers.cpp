#include "site/login_workers.h"

#include <utility>

#include "controls/control_names.h"
#include "site/account_info.h"

namespace korvid {

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
  Launch([this, held] {
    const std::unique_ptr<QrLoginApi> api = m_makeApi();
    QrLoginHooks hooks;
    hooks.wait = [this](std::chrono::milliseconds interval) { return WaitOrStop(interval); };
    (void)RunQrLogin(m_state.Ui(), *api, hooks);
    held->Release();
  });
}

void LoginWorkers::CheckLogin() {
  if (m_state.Ui().Text(kCookiesBox).empty()) {
    ShowLoginMissing(m_state.Ui());
    return;
  }
  Launch([this] { (void)ShowAccountInfo(m_state.Ui()); });
}

bool LoginWorkers::StartAccountCheckIfLoggedIn() {
  if (m_state.Ui().Text(kCookiesBox).empty()) return false;
  Launch([this] { (void)ShowAccountInfo(m_state.Ui()); });
  return true;
}

void LoginWorkers::SetPollWait(std::function<void(std::chrono::milliseconds)> wait) {
  m_pollWait = std::move(wait);
}

void LoginWorkers::Join() {
  for (Worker& worker : m_workers) {
    if (worker.thread.joinable()) worker.thread.join();
  }
  m_workers.clear();
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

void LoginWorkers::Launch(std::function<void()> job) {
  // Workers that have ended are joined here, so the list stays short.
  std::erase_if(m_workers, [](Worker& worker) {
    if (!worker.done->load()) return false;
    worker.thread.join();
    return true;
  });
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread thread([job = std::move(job), done] {
    try {
      job();
    } catch (...) {
      // A worker ends quietly rather than taking the program with it.
    }
    done->store(true);
  });
  m_workers.push_back(Worker{std::move(thread), std::move(done)});
}

}  // namespace korvid
