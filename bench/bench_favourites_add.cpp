// Adds a favourites folder from the fake site (by default the 1,000-video one)
// the way 按钮_解析下载 does, and prints the wall time, the share of it spent
// outside the network wait, CPU time and peak memory.
//
//   bench_favourites_add [--folder ID] [--fakesite PATH] [--store yes]
//
// --store yes keeps the task list in a task store (a fresh 任务.db), as the
// window and `korvid-cli download` do; the time includes its last write.
//
// The fake site runs as its own process (korvid-fakesite beside this program),
// so its work counts as network wait, as the real site's would; the TCP
// connections it accepted are counted too. bench/favourites_bench.sh runs it
// a few times and gives the median and range.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/app_state.h"
#include "app/tasks/task_store_writer.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "net/site_hosts.h"
#include "site/link_jobs.h"
#include "site/site_transport.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<long long> g_networkNs{0};
std::atomic<int> g_requests{0};

// The real transport with a stopwatch around every request.
class TimedTransport final : public korvid::SiteTransport {
 public:
  std::string GetPage(std::string_view url) override {
    return Timed([&] { return m_net.GetPage(url); });
  }
  std::string GetApi(std::string_view url) override {
    return Timed([&] { return m_net.GetApi(url); });
  }

 private:
  template <typename Fn>
  std::string Timed(Fn fetch) {
    const auto start = Clock::now();
    std::string body = fetch();
    g_networkNs +=
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    ++g_requests;
    return body;
  }

  korvid::NetTransport m_net;
};

struct FakeSiteProcess {
  pid_t pid = -1;
  int stdinFd = -1;
  int stderrFd = -1;  // its closing line counts the connections it accepted
  std::string base;
};

// Starts korvid-fakesite and reads its "listening on URL" line.
bool StartFakeSite(const std::string& program, FakeSiteProcess& site) {
  int toChild[2];
  int fromChild[2];
  int errors[2];
  if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0 || ::pipe(errors) != 0) return false;
  site.pid = ::fork();
  if (site.pid < 0) return false;
  if (site.pid == 0) {
    ::dup2(toChild[0], STDIN_FILENO);
    ::dup2(fromChild[1], STDOUT_FILENO);
    ::dup2(errors[1], STDERR_FILENO);
    ::close(toChild[1]);
    ::close(fromChild[0]);
    ::close(errors[0]);
    ::execl(program.c_str(), program.c_str(), "--stdin-lifetime", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  ::close(errors[1]);
  site.stdinFd = toChild[1];
  site.stderrFd = errors[0];
  std::string line;
  char c = 0;
  while (::read(fromChild[0], &c, 1) == 1 && c != '\n') line += c;
  ::close(fromChild[0]);
  const std::string prefix = "listening on ";
  if (!line.starts_with(prefix)) return false;
  site.base = line.substr(prefix.size());
  return true;
}

// Stops the site; returns what it wrote to stderr.
std::string StopFakeSite(FakeSiteProcess& site) {
  if (site.stdinFd >= 0) ::close(site.stdinFd);
  std::string errors;
  char buffer[4096];
  ssize_t n = 0;
  while (site.stderrFd >= 0 && (n = ::read(site.stderrFd, buffer, sizeof buffer)) > 0) {
    errors.append(buffer, static_cast<std::size_t>(n));
  }
  if (site.stderrFd >= 0) ::close(site.stderrFd);
  if (site.pid > 0) ::waitpid(site.pid, nullptr, 0);
  return errors;
}

// "korvid-fakesite: N connections accepted" -> N; -1 when it is missing.
long AcceptedConnections(const std::string& errors) {
  const std::string suffix = " connections accepted";
  const std::size_t end = errors.rfind(suffix);
  if (end == std::string::npos) return -1;
  std::size_t start = end;
  while (start > 0 && std::isdigit(static_cast<unsigned char>(errors[start - 1]))) --start;
  return start == end ? -1 : std::stol(errors.substr(start, end - start));
}

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

std::string FakeSiteBesideUs() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return (self.parent_path() / "korvid-fakesite").string();
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder = "31000";
  std::string fakesite = FakeSiteBesideUs();
  bool keep = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--folder") folder = argv[i + 1];
    if (option == "--fakesite") fakesite = argv[i + 1];
    if (option == "--store") keep = std::string(argv[i + 1]) == "yes";
  }
  ::signal(SIGPIPE, SIG_IGN);
  FakeSiteProcess site;
  if (!StartFakeSite(fakesite, site)) {
    std::fprintf(stderr, "cannot start %s\n", fakesite.c_str());
    (void)StopFakeSite(site);
    return 1;
  }
  korvid::SetCurrentSiteHosts(
      korvid::SiteHosts{site.base, site.base, site.base, site.base, site.base});
  const long rssBefore = [] {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
  }();

  korvid::ControlStore controls;
  korvid::CreateMainWindowControls(controls);
  const std::filesystem::path program =
      std::filesystem::temp_directory_path() / ("korvid-bench-add-" + std::to_string(::getpid()));
  korvid::AppState app(controls, korvid::AppPaths{program});
  controls.SetText(korvid::kTaskLinkBox, site.base + "/1/favlist?fid=" + folder);
  korvid::KeptTaskList kept;
  if (keep && kept.Open(app) != korvid::KeptTaskList::Outcome::kKept) return 1;
  const auto start = Clock::now();
  {
    korvid::LinkJobs jobs(app, [] { return std::make_unique<TimedTransport>(); });
    jobs.OnAddLinkPressed();
    jobs.WaitAll();
  }
  kept.Close();
  const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  const long connections = AcceptedConnections(StopFakeSite(site));

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double networkMs = static_cast<double>(g_networkNs.load()) / 1e6;
  const double outside = wallMs - networkMs;
  std::printf("folder %s: %d rows, %d records queued, %d requests, %ld connections\n",
              folder.c_str(), app.Tasks().RowCount(), app.TaskQueue().Count(), g_requests.load(),
              connections);
  std::printf("wall %.0f ms, network wait %.0f ms, outside it %.0f ms (%.1f %%)\n", wallMs,
              networkMs, outside, 100.0 * outside / wallMs);
  std::printf("cpu %.2f s (user %.2f, sys %.2f)\n",
              Seconds(usage.ru_utime) + Seconds(usage.ru_stime), Seconds(usage.ru_utime),
              Seconds(usage.ru_stime));
  std::printf("peak rss %ld KiB (%ld KiB before adding), task queue %zu KiB\n", usage.ru_maxrss,
              rssBefore, app.TaskQueue().Capacity() / 1024);
  for (const auto& notice : controls.NoticeHistory()) {
    std::printf("notice %s: %s\n", notice.title.c_str(), notice.text.c_str());
  }
  std::error_code error;
  std::filesystem::remove_all(program, error);
  return app.Tasks().RowCount() > 0 ? 0 : 1;
}
