// Streams one large file from a loopback web server with Korvid's download
// engine and with the curl program, in the same run, one at a time and N at a
// time, and prints throughput, its ratio to the network ceiling (curl writing
// to /dev/null), CPU seconds per GiB and peak memory. Each case runs in
// processes of its own so that rusage gives its CPU time and peak memory.
//
//   bench_transfer URL OUTPUT_FOLDER [PARALLEL=4] [ROUNDS=3]
//   bench_transfer --child URL OUTPUT_FOLDER COUNT   (the engine case)
//   bench_transfer --plain URL FILE                  (a plain read/write loop)
//   bench_transfer --disk FILE BYTES                 (the disk alone)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "transfer/stream_downloader.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;

// The engine case: COUNT transfers of URL at once; exit 0 when all complete.
int RunEngine(const std::string& url, const fs::path& folder, int count) {
  std::vector<std::unique_ptr<korvid::StreamDownloader>> downloaders;
  std::vector<std::unique_ptr<korvid::CompletionEvent>> events;
  for (int i = 0; i < count; ++i) {
    downloaders.push_back(std::make_unique<korvid::StreamDownloader>());
    events.push_back(std::make_unique<korvid::CompletionEvent>());
    korvid::StreamDownloader::Request request;
    request.url = url;
    request.targetPath = (folder / ("engine-" + std::to_string(i) + ".bin")).string();
    request.handler = [](const korvid::ProgressReport&) {};  // reports run, as in the program
    request.done = events.back().get();
    if (!downloaders.back()->StartTransfer(std::move(request))) return 1;
  }
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    events[static_cast<std::size_t>(i)]->Wait();
    if (!downloaders[static_cast<std::size_t>(i)]->Outcome().Complete()) ++failures;
  }
  return failures == 0 ? 0 : 1;
}

constexpr std::size_t kChunk = 1024 * 1024;

// The baseline the engine is held to: HTTP/1.0 over a plain socket, then
// 1 MiB reads and 1 MiB writes through the page cache. Only http://HOST:PORT/.
int RunPlainLoop(const std::string& url, const fs::path& file) {
  const std::string rest = url.substr(url.find("//") + 2);
  const std::string hostPort = rest.substr(0, rest.find('/'));
  const std::string path = rest.substr(hostPort.size());
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port =
      htons(static_cast<std::uint16_t>(std::stoi(hostPort.substr(hostPort.find(':') + 1))));
  ::inet_pton(AF_INET, hostPort.substr(0, hostPort.find(':')).c_str(), &address.sin_addr);
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;
  const std::string request = "GET " + path + " HTTP/1.0\r\nHost: " + hostPort + "\r\n\r\n";
  if (::write(sock, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
    return 1;
  const int out = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  std::vector<char> buffer(kChunk);
  bool inHeader = true;
  std::string header;
  for (;;) {
    const ssize_t n = ::read(sock, buffer.data(), buffer.size());
    if (n <= 0) return n == 0 && !inHeader ? 0 : 1;
    const char* body = buffer.data();
    std::size_t size = static_cast<std::size_t>(n);
    if (inHeader) {
      header.append(body, size);
      const std::size_t end = header.find("\r\n\r\n");
      if (end == std::string::npos) continue;
      inHeader = false;
      body = header.data() + end + 4;
      size = header.size() - end - 4;
    }
    if (size > 0 && ::write(out, body, size) != static_cast<ssize_t>(size)) return 1;
  }
}

// What the disk takes with nothing else to do: BYTES written past the page
// cache in 1 MiB writes from memory already filled.
int RunDiskAlone(const fs::path& file, std::size_t bytes) {
  const int out = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_DIRECT | O_CLOEXEC, 0644);
  if (out < 0) return 1;
  void* memory = std::aligned_alloc(4096, kChunk);
  std::memset(memory, 0x5a, kChunk);
  for (std::size_t at = 0; at < bytes; at += kChunk) {
    if (::pwrite(out, memory, kChunk, static_cast<off_t>(at)) != static_cast<ssize_t>(kChunk))
      return 1;
  }
  std::free(memory);
  return ::close(out) == 0 ? 0 : 1;
}

struct Measure {
  double seconds = 0;
  double cpuSeconds = 0;
  double peakMiB = 0;  // the largest process; summed for several processes at once
  bool ok = true;
};

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  return ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// Runs the commands at once and waits for all of them.
Measure RunTogether(const std::vector<std::vector<std::string>>& commands) {
  Measure measure;
  const auto start = Clock::now();
  std::vector<pid_t> pids;
  for (const auto& command : commands) pids.push_back(Spawn(command));
  for (pid_t pid : pids) {
    if (pid < 0) {
      measure.ok = false;
      continue;
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    measure.ok = measure.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    measure.cpuSeconds +=
        static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    measure.peakMiB += static_cast<double>(usage.ru_maxrss) / 1024.0;
  }
  measure.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return measure;
}

std::vector<std::vector<std::string>> CurlCommands(const std::string& url, const fs::path& folder,
                                                   int count, bool toDisk) {
  std::vector<std::vector<std::string>> commands;
  for (int i = 0; i < count; ++i) {
    const std::string target =
        toDisk ? (folder / ("curl-" + std::to_string(i) + ".bin")).string() : "/dev/null";
    commands.push_back({"curl", "-sS", "--fail", "-o", target, url});
  }
  return commands;
}

// Also waits for the disk: the writeback of one case must not slow the next.
void ClearOutputs(const fs::path& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) fs::remove(entry.path(), ec);
  ::sync();
}

Measure Median(std::vector<Measure> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Measure& a, const Measure& b) { return a.seconds < b.seconds; });
  Measure median = runs[runs.size() / 2];
  for (const Measure& run : runs) median.ok = median.ok && run.ok;
  return median;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "--child") {
    return RunEngine(args[1], args[2], std::stoi(args[3]));
  }
  if (args.size() == 3 && args[0] == "--plain") return RunPlainLoop(args[1], args[2]);
  if (args.size() == 3 && args[0] == "--disk") return RunDiskAlone(args[1], std::stoull(args[2]));
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: bench_transfer URL OUTPUT_FOLDER [PARALLEL] [ROUNDS]\n");
    return 2;
  }
  const std::string url = args[0];
  const fs::path folder = args[1];
  const int parallel = args.size() > 2 ? std::stoi(args[2]) : 4;
  const int rounds = args.size() > 3 ? std::stoi(args[3]) : 3;
  const std::string self = fs::canonical("/proc/self/exe").string();
  fs::create_directories(folder);

  // One plain download first: it warms the server and gives the size.
  const fs::path warmFile = folder / "warm.bin";
  const Measure warm = RunTogether({{"curl", "-sS", "--fail", "-o", warmFile.string(), url}});
  std::error_code ec;
  const double bytes = warm.ok ? static_cast<double>(fs::file_size(warmFile, ec)) : 0.0;
  if (ec || bytes <= 0) {
    std::fprintf(stderr, "bench_transfer: %s cannot be fetched\n", url.c_str());
    return 1;
  }

  struct Case {
    std::string name;
    int count;
    std::vector<std::vector<std::string>> commands;
  };
  std::vector<Case> cases;
  for (int count : {1, parallel}) {
    cases.push_back({"curl -o /dev/null", count, CurlCommands(url, folder, count, false)});
    cases.push_back({"curl -o file", count, CurlCommands(url, folder, count, true)});
    std::vector<std::vector<std::string>> plain, disk;
    for (int i = 0; i < count; ++i) {
      const std::string name = std::to_string(i) + ".bin";
      plain.push_back({self, "--plain", url, (folder / ("plain-" + name)).string()});
      disk.push_back({self, "--disk", (folder / ("disk-" + name)).string(),
                      std::to_string(static_cast<std::uint64_t>(bytes))});
    }
    cases.push_back({"plain loop -o file", count, plain});
    cases.push_back({"disk alone (direct)", count, disk});
    cases.push_back(
        {"korvid engine", count, {{self, "--child", url, folder.string(), std::to_string(count)}}});
  }
  std::map<std::string, std::vector<Measure>> runs;
  for (int round = 0; round < rounds; ++round) {
    // Every other round backwards, so no case always follows the same one.
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const Case& c = cases[round % 2 == 0 ? i : cases.size() - 1 - i];
      ClearOutputs(folder);
      runs[c.name + "/" + std::to_string(c.count)].push_back(RunTogether(c.commands));
    }
  }
  ClearOutputs(folder);

  std::printf(
      "file %.0f bytes (%.2f GiB), median and range of %d rounds; ceiling: curl -o "
      "/dev/null in the same round\n",
      bytes, bytes / kGiB, rounds);
  std::printf("%-20s %4s %10s %20s %12s %10s %s\n", "case", "n", "MiB/s", "x ceiling (range)",
              "CPU-s/GiB", "peak MiB", "ok");
  for (int count : {1, parallel}) {
    const std::vector<Measure>& ceilings = runs["curl -o /dev/null/" + std::to_string(count)];
    for (const char* name : {"curl -o /dev/null", "curl -o file", "plain loop -o file",
                             "disk alone (direct)", "korvid engine"}) {
      const std::vector<Measure>& all = runs[std::string(name) + "/" + std::to_string(count)];
      std::vector<double> ratios;
      for (std::size_t r = 0; r < all.size(); ++r) {
        ratios.push_back(ceilings[r].seconds / all[r].seconds);
      }
      std::sort(ratios.begin(), ratios.end());
      const Measure m = Median(all);
      const double rate = bytes * count / m.seconds;
      char ratio[64];
      std::snprintf(ratio, sizeof ratio, "%.2f (%.2f-%.2f)", ratios[ratios.size() / 2],
                    ratios.front(), ratios.back());
      std::printf("%-20s %4d %10.0f %20s %12.3f %10.1f %s\n", name, count, rate / (1024.0 * 1024.0),
                  ratio, m.cpuSeconds / (bytes * count / kGiB), m.peakMiB, m.ok ? "yes" : "NO");
    }
  }
  return 0;
}
