#include "site/link_jobs.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "site/add_video.h"
#include "site/classify_link.h"

namespace korvid {

LinkJobs::LinkJobs(AppState& app, TransportFactory transports)
    : m_app(app), m_transports(std::move(transports)) {
  if (!m_transports) m_transports = [] { return std::make_unique<NetTransport>(); };
}

LinkJobs::~LinkJobs() {
  std::vector<Worker> workers;
  {
    std::lock_guard lock(m_mutex);
    workers.swap(m_workers);
  }
  for (Worker& worker : workers) worker.thread.request_stop();
  // The jthreads join as the vector goes.
}

void LinkJobs::OnAddLinkPressed() {
  BusyGuard busy = m_app.Busy().TryAcquire(BusyFlag::kLinkAdd);
  if (!busy) {
    m_app.Ui().ShowNotice(kAddLater, kNoticeFailed);
    return;
  }
  Start([](SiteJob& job) { ClassifyLink(job); }, std::move(busy));
}

void LinkJobs::OnAddFromDetailsPressed() {
  Start([](SiteJob& job) { AddVideoFromDetails(job); }, BusyGuard());
}

void LinkJobs::WaitAll() {
  std::vector<Worker> workers;
  {
    std::lock_guard lock(m_mutex);
    workers.swap(m_workers);
  }
  for (Worker& worker : workers) worker.thread.join();
}

void LinkJobs::Start(std::function<void(SiteJob&)> work, BusyGuard busy) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::jthread thread([this, work = std::move(work), busy = std::move(busy), done,
                       split = m_split](std::stop_token stop) mutable {
    try {
      const std::unique_ptr<SiteTransport> transport = m_transports();
      SiteJob job{m_app, *transport, stop, split};
      work(job);
    } catch (const std::exception&) {
      // The rows added so far stay; the flag is cleared below all the same.
    }
    busy.Release();
    done->store(true);
  });
  std::lock_guard lock(m_mutex);
  ReapFinished();
  m_workers.push_back(Worker{std::move(thread), std::move(done)});
}

void LinkJobs::ReapFinished() {
  std::erase_if(m_workers, [](Worker& worker) {
    if (!worker.done->load()) return false;
    worker.thread.join();
    return true;
  });
}

}  // namespace korvid
