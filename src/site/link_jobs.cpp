#include "site/link_jobs.h"

#include <memory>
#include <utility>

#include "site/add_video.h"
#include "site/classify_link.h"

namespace korvid {
namespace {

constexpr std::string_view kAddLinkJob = "link adder";
constexpr std::string_view kAddFromDetailsJob = "details adder";

}  // namespace

LinkJobs::LinkJobs(AppState& app, TransportFactory transports)
    : m_app(app), m_transports(std::move(transports)) {
  if (!m_transports) m_transports = [] { return std::make_unique<NetTransport>(); };
}

LinkJobs::~LinkJobs() {
  m_stop.request_stop();
  m_workers.JoinAll();
}

void LinkJobs::OnAddLinkPressed() {
  BusyGuard busy = m_app.Busy().TryAcquire(BusyFlag::kLinkAdd);
  if (!busy) {
    m_app.Ui().ShowNotice(kAddLater, kNoticeFailed);
    return;
  }
  Start(
      kAddLinkJob, [](SiteJob& job) { ClassifyLink(job); }, std::move(busy));
}

void LinkJobs::OnAddFromDetailsPressed() {
  Start(
      kAddFromDetailsJob, [](SiteJob& job) { AddVideoFromDetails(job); }, BusyGuard());
}

void LinkJobs::WaitAll() {
  m_workers.JoinAll();
}

// The busy flag is shared, because the job is copied into a std::function;
// it clears when the job ends, however it ends, and also when no thread
// could be had.
void LinkJobs::Start(std::string_view name, std::function<void(SiteJob&)> work, BusyGuard busy) {
  auto held = std::make_shared<BusyGuard>(std::move(busy));
  (void)m_workers.Start(
      name, [this, work = std::move(work), held, split = m_split, stop = m_stop.get_token()] {
        const std::unique_ptr<SiteTransport> transport = m_transports();
        SiteJob job{m_app, *transport, stop, split};
        work(job);
        held->Release();
      });
}

}  // namespace korvid
