// Times the comment conversion on generated documents (median of 5, peak
// memory), raw inflate against one zlib call, and the whole
// `korvid-cli danmaku` process on the 100,000-comment document.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/file_helpers.h"
#include "danmaku/danmaku_to_ass.h"
#include "danmaku/inflate_raw.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kRounds = 5;
constexpr const char* kStyle =
    "Style: R2L,黑体,大小参数,&H80FFFFFF,&H80FFFFFF,&H80000000,&H80000000,0,0,0,0,100,100,0.00,"
    "0.00,1,1.00,0.00,2,30,30,30,0";

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double CpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1000 + static_cast<double>(now.tv_nsec) / 1e6;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Mb(std::size_t bytes) {
  return static_cast<double>(bytes) / (1 << 20);
}

long PeakRssKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A current-format document (nine fields, one line) with texts of the site's
// usual mix: short Chinese and ASCII, some top and bottom comments, a few
// blocked and repeated ones; textChars sets the length of the longer texts.
std::string GeneratedDocument(int comments, int textChars) {
  static const char* const kWords[] = {"哈",  "好",   "看",   "这",   "个", "真",
                                       "的",  "是",   "太",   "强",   "了", "awsl",
                                       "233", "前方", "高能", "泪目", "!",  "?"};
  std::mt19937 random(static_cast<unsigned>(comments));
  const int seconds = 1500;
  std::string doc =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><chatserver>chat.bilibili.com</chatserver>"
      "<chatid>35306865840</chatid><mission>0</mission><maxlimit>8000</maxlimit><state>0</state>"
      "<real_name>0</real_name><source>k-v</source>";
  for (int i = 0; i < comments; ++i) {
    const unsigned roll = random() % 100;
    const char* mode = roll < 85 ? "1" : roll < 93 ? "5" : "4";
    char p[160];
    std::snprintf(p, sizeof p, "<d p=\"%d.%05u,%s,25,%u,%u,0,%08x,%llu,%u\">",
                  static_cast<int>(random() % seconds), static_cast<unsigned>(random() % 100000),
                  mode, static_cast<unsigned>(random() % 0xFFFFFF), 1700000000u + i % 100000,
                  static_cast<unsigned>(random()),
                  35306865840000000ull + static_cast<unsigned long long>(i),
                  static_cast<unsigned>(random() % 11));
    doc += p;
    if (roll % 17 == 0) {
      doc += "打卡";
    } else {
      const int words = 2 + static_cast<int>(random() % static_cast<unsigned>(textChars));
      for (int w = 0; w < words; ++w) doc += kWords[random() % std::size(kWords)];
    }
    doc += "</d>";
  }
  return doc + "</i>";
}

korvid::DanmakuSettings Settings() {
  return {"20", "20", "1,2,3,打卡,再来一遍,好,来了,卧槽,666,999,yyds", kStyle};
}

// Runs fn in a child process, so its peak memory is its own.
long ChildPeakKib(const std::function<void()>& fn) {
  const pid_t child = fork();
  if (child == 0) {
    fn();
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  return usage.ru_maxrss;
}

void BenchConversion(int comments, int textChars) {
  const long peak = ChildPeakKib([&] {
    const std::string doc = GeneratedDocument(comments, textChars);
    const long before = PeakRssKib();
    std::vector<double> times;
    std::vector<double> cpu;
    korvid::DanmakuStats stats;
    std::size_t assBytes = 0;
    for (int round = 0; round < kRounds; ++round) {
      const auto start = Clock::now();
      const double cpuStart = CpuMilliseconds();
      const std::string ass = korvid::DanmakuToAss(doc, "35306865840", "BV1xx", Settings(), &stats);
      times.push_back(MillisecondsSince(start));
      cpu.push_back(CpuMilliseconds() - cpuStart);
      assBytes = ass.size();
    }
    std::printf(
        "convert %7d comments (%5.2f MB, texts up to %d words): median %7.2f ms wall, %7.2f ms "
        "CPU (%.0f MB/s), %d shown, ASS %.2f MB; RSS with document %.1f MB -> peak %.1f MB\n",
        comments, Mb(doc.size()), textChars + 1, Median(times), Median(cpu),
        Mb(doc.size()) / Median(cpu) * 1000, stats.shown, Mb(assBytes), before / 1024.0,
        PeakRssKib() / 1024.0);
  });
  (void)peak;
}

std::string Deflate(const std::string& bytes) {
  z_stream stream{};
  deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, bytes.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// The floor: one inflate call into a buffer of the known inflated size.
std::size_t InflateOnce(const std::string& compressed, std::size_t size) {
  std::string out(size, '\0');
  z_stream stream{};
  inflateInit2(&stream, -15);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  inflate(&stream, Z_FINISH);
  const std::size_t total = stream.total_out;
  inflateEnd(&stream);
  return total;
}

// Each timing in a fresh child process, so neither side finds its output
// pages already mapped by an earlier round (a program inflates once).
double TimeInChild(const std::function<double()>& fn) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    const double ms = fn();
    (void)!write(fds[1], &ms, sizeof ms);
    _exit(0);
  }
  close(fds[1]);
  double ms = -1;
  (void)!read(fds[0], &ms, sizeof ms);
  close(fds[0]);
  waitpid(child, nullptr, 0);
  return ms;
}

void BenchInflate() {
  std::string doc;
  for (int comments = 200000; doc.size() < (20u << 20); comments += 20000) {
    doc = GeneratedDocument(comments, 8);
  }
  const std::string compressed = Deflate(doc);
  const bool same = korvid::InflateRaw(compressed) == doc;
  std::vector<double> ours;
  std::vector<double> once;
  for (int round = 0; round < kRounds; ++round) {
    once.push_back(TimeInChild([&] {
      const double start = CpuMilliseconds();
      (void)InflateOnce(compressed, doc.size());
      return CpuMilliseconds() - start;
    }));
    ours.push_back(TimeInChild([&] {
      const double start = CpuMilliseconds();
      const std::string inflated = korvid::InflateRaw(compressed);
      return CpuMilliseconds() - start;
    }));
  }
  std::printf(
      "inflate %.2f MB from %.2f MB (CPU time): InflateRaw median %.2f ms, one zlib call %.2f "
      "ms, speed ratio %.2f (goal >= 0.90)%s\n",
      Mb(doc.size()), Mb(compressed.size()), Median(ours), Median(once),
      Median(once) / Median(ours), same ? "" : " MISMATCH");
}

struct ProcessRun {
  double ms = 0;
  double cpuMs = 0;
  long peakKib = 0;
  int status = -1;
};

ProcessRun RunCli(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  ProcessRun run;
  const auto start = Clock::now();
  pid_t child = 0;
  if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    rusage usage{};
    wait4(child, &run.status, 0, &usage);
    run.peakKib = usage.ru_maxrss;
    const auto ms = [](const timeval& t) {
      return static_cast<double>(t.tv_sec) * 1000 + static_cast<double>(t.tv_usec) / 1000;
    };
    run.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
  }
  run.ms = MillisecondsSince(start);
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

void BenchCli(const std::string& cli) {
  const fs::path work =
      fs::temp_directory_path() / ("korvid-bench-danmaku-" + std::to_string(getpid()));
  fs::create_directories(work);
  const fs::path xml = work / "100k.xml";
  const fs::path packed = work / "100k.deflate";
  (void)ChildPeakKib([&] {
    const std::string doc = GeneratedDocument(100000, 8);
    (void)korvid::WriteFileAtomically(xml, doc);
    (void)korvid::WriteFileAtomically(packed, Deflate(doc));
  });
  const auto docSize = static_cast<std::size_t>(fs::file_size(xml));
  for (const fs::path& input : {xml, packed}) {
    std::vector<double> times;
    std::vector<double> cpu;
    long peak = 0;
    int failures = 0;
    for (int round = 0; round < kRounds; ++round) {
      const ProcessRun run =
          RunCli({cli, "--home", (work / "home").string(), "danmaku", input.string(), "--cid",
                  "35306865840", "--bvid", "BV1xx", "-o", (work / "out.ass").string()});
      times.push_back(run.ms);
      cpu.push_back(run.cpuMs);
      peak = std::max(peak, run.peakKib);
      failures += run.status == 0 ? 0 : 1;
    }
    std::printf(
        "korvid-cli danmaku %s (%.2f MB document, %.2f MB file): median %.1f ms wall (range "
        "%.1f-%.1f, goal < 100), %.1f ms CPU, peak RSS %.1f MB = %.2fx the document (goal <= "
        "3)%s\n",
        input.filename().c_str(), Mb(docSize), Mb(fs::file_size(input)), Median(times),
        *std::min_element(times.begin(), times.end()),
        *std::max_element(times.begin(), times.end()), Median(cpu), peak / 1024.0,
        peak * 1024.0 / static_cast<double>(docSize), failures ? " FAILED" : "");
  }
  fs::remove_all(work);
}

}  // namespace

// The 100,000-comment document as XML and as raw deflate, for timing the
// program from outside (bench/danmaku_bench.sh).
int WriteDocuments(const fs::path& folder) {
  fs::create_directories(folder);
  const std::string doc = GeneratedDocument(100000, 8);
  const bool written = korvid::WriteFileAtomically(folder / "100k.xml", doc) &&
                       korvid::WriteFileAtomically(folder / "100k.deflate", Deflate(doc));
  return written ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--documents") return WriteDocuments(argv[2]);
  std::string cli = argc > 1 ? argv[1] : "";
#ifdef KORVID_CLI_PATH
  if (cli.empty()) cli = KORVID_CLI_PATH;
#endif
  BenchConversion(10000, 8);
  BenchConversion(100000, 8);
  BenchConversion(19500, 120);  // about 5 MB of long texts
  // Each part in a child process of its own: a child started by this one
  // would otherwise report this process's memory as part of its peak.
  (void)ChildPeakKib(BenchInflate);
  if (!cli.empty() && fs::exists(cli)) {
    BenchCli(cli);
  } else {
    std::printf("korvid-cli not found; pass its path as the first argument\n");
  }
  return 0;
}
