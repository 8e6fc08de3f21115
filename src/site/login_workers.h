#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "app/app_state.h"
#include "site/qr_login.h"
#include "transfer/worker_set.h"

namespace korvid {

// The workers of the log-in: the QR log-in (one at a time, behind its busy
// flag) and the account display. Handlers return at once; every request runs
// on a worker of its own. The destructor stops a log-in that is polling and
// joins every worker. Methods are for one thread (the window thread).
class LoginWorkers {
 public:
  using ApiFactory = std::function<std::unique_ptr<QrLoginApi>()>;

  explicit LoginWorkers(AppState& state, ApiFactory makeApi = DefaultQrLoginApi);
  ~LoginWorkers();
  LoginWorkers(const LoginWorkers&) = delete;
  LoginWorkers& operator=(const LoginWorkers&) = delete;

  // 按钮_获取二维码: starts the QR log-in, or "请勿重复获取二维码" while one runs.
  void StartQrLogin();
  // 按钮_验证是否登录: the account display for the cookie box, or the failure
  // display when it is empty.
  void CheckLogin();
  // At start: the account display when restored cookies exist. True when a
  // worker started.
  bool StartAccountCheckIfLoggedIn();

  // Replaces the wait between polls (tests: an injected clock). Set before
  // any log-in starts.
  void SetPollWait(std::function<void(std::chrono::milliseconds)> wait);
  // Blocks until every worker has ended (tests, the command line).
  void Join();

 private:
  // Waits between polls; false once the workers must stop.
  bool WaitOrStop(std::chrono::milliseconds interval);

  AppState& m_state;
  ApiFactory m_makeApi;
  std::function<void(std::chrono::milliseconds)> m_pollWait;

  std::mutex m_mutex;
  std::condition_variable m_stopSignal;
  bool m_stopping = false;
  // Last: its destructor joins the workers before what they use goes.
  WorkerSet m_workers;
};

}  // namespace korvid
