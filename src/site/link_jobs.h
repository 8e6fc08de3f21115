#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string_view>

#include "app/app_state.h"
#include "site/site_job.h"
#include "site/site_transport.h"
#include "transfer/worker_set.h"

namespace korvid {

// The handlers of 按钮_解析下载 and 按钮_下载4K: each press starts its job on a
// worker thread of its own and returns at once, so the window stays
// responsive while a whole space or folder is added. Owns the workers; going
// away asks them to stop after the video in hand and waits for them.
// Presses come from one thread (the window thread, or the command line's).
class LinkJobs {
 public:
  using TransportFactory = std::function<std::unique_ptr<SiteTransport>()>;

  // A new transport per job (NetTransport by default).
  explicit LinkJobs(AppState& app, TransportFactory transports = {});
  ~LinkJobs();
  LinkJobs(const LinkJobs&) = delete;
  LinkJobs& operator=(const LinkJobs&) = delete;

  // 按钮_解析下载: "请稍后再添加" while a link is being added, else ClassifyLink
  // on a worker that holds the link-busy flag until it ends.
  void OnAddLinkPressed();
  // 按钮_下载4K: the details panel's video, split, following the chosen source.
  void OnAddFromDetailsPressed();

  // See SiteJob::splitCondition; applies to jobs started later.
  void SetSplitCondition(std::optional<bool> split) { m_split = split; }
  // Waits until every started job has ended (command line, tests).
  void WaitAll();

 private:
  void Start(std::string_view name, std::function<void(SiteJob&)> work, BusyGuard busy);

  AppState& m_app;
  TransportFactory m_transports;
  std::optional<bool> m_split;
  // Asked when this goes; every job watches it.
  std::stop_source m_stop;
  // Last: its destructor joins the workers before what they use goes.
  WorkerSet m_workers;
};

}  // namespace korvid
