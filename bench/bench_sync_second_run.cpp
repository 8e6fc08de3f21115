// The second sync of a followed folder: the 1,000-video folder of the fake
// site, its videos already in the history, with one new video on top (and,
// for comparison, with none). Prints the requests korvid-cli made and its
// wall time.
//
//   bench_sync_second_run [--folder ID] [--count N]
//
// The fake site runs inside this program; korvid-cli runs as its own process,
// as a timer would start it.
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/app_paths.h"
#include "app/tasks/library_store.h"
#include "app/tasks/task_store_writer.h"
#include "support/fakesite/fake_site.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

std::string Bvid(const std::string& prefix, int k) {
  char digits[16] = {};
  std::snprintf(digits, sizeof digits, "%07d", k);
  return prefix + digits;
}

struct Run {
  int exitCode = -1;
  double wallMs = 0;
};

Run Sync(const std::string& base, const fs::path& home, const fs::path& library) {
  std::string command;
  for (const char* host : {"WEB", "API", "COMMENT", "PASSPORT", "SPACE"}) {
    command += std::string("KORVID_") + host + "_BASE=" + base + " ";
  }
  command += std::string(KORVID_CLI_PATH) + " --home '" + home.string() +
             "' sync --pause 0 --dir '" + library.string() + "' >/dev/null 2>&1";
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  Run run;
  run.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

void Report(const char* what, const Run& run, korvid::fakesite::FakeSite& site) {
  std::map<std::string, int> byKind;
  for (const auto& request : site.Requests()) {
    std::string kind = request.path;
    if (kind.starts_with("/media/")) kind = "/media/ (" + request.method + ")";
    if (kind.starts_with("/video/")) kind = "/video/{bvid}";
    if (kind.ends_with(".xml")) kind = "/{cid}.xml";
    if (kind.starts_with("/img/")) kind = "/img/";
    ++byKind[kind];
  }
  std::printf("%s: exit %d, wall %.0f ms, %zu requests\n", what, run.exitCode, run.wallMs,
              site.Requests().size());
  for (const auto& [kind, count] : byKind) std::printf("  %4d %s\n", count, kind.c_str());
  site.ClearRequests();
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t folder = 31000;
  int count = 1000;
  std::string prefix = "BV1fc";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--folder") folder = std::stoll(argv[i + 1]);
    if (option == "--count") count = std::stoi(argv[i + 1]);
  }
  korvid::fakesite::FakeSite site;
  if (!site.Start()) return 1;
  (void)site.MediaBytes(korvid::fakesite::MediaKind::Progressive);  // made before timing

  const fs::path root =
      fs::temp_directory_path() / ("korvid-bench-sync-" + std::to_string(::getpid()));
  const korvid::AppPaths paths{root / "home"};
  fs::create_directories(paths.ConfigFolder());
  {
    const auto store = korvid::LibraryStore::Open(korvid::TaskStorePath(paths));
    if (!store) return 1;
    const std::string link = site.BaseUrl() + "/1/favlist?fid=" + std::to_string(folder);
    if (!store->AddSubscription(link, "bench", false)) return 1;
    std::vector<korvid::HistoryEntry> history;
    for (int k = 1; k <= count; ++k) {
      history.push_back(
          {Bvid(prefix, k), "1", {}, (root / "lib" / std::to_string(k)).string(), 1, 1, {}});
    }
    if (!store->AddHistory(history)) return 1;
  }
  site.ClearRequests();
  Report("nothing new", Sync(site.BaseUrl(), paths.programFolder, root / "lib"), site);
  if (!site.GrowList(folder, 1)) return 1;
  Report("one new video", Sync(site.BaseUrl(), paths.programFolder, root / "lib"), site);
  std::error_code error;
  fs::remove_all(root, error);
  return 0;
}
