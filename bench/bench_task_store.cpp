// What keeping the task list costs the disk: 4 downloads report progress for a
// minute (every 495 ms, as the stream downloader does) in a list of 1,000 kept
// rows, then finish. Prints the bytes this process wrote meanwhile (the
// database, its WAL and the checkpoints: /proc/self/io wchar) and the number
// of write batches. The minute runs on a simulated clock, so the bench takes
// seconds; the writer is driven exactly as its thread drives it.
//
//   bench_task_store [--rows N] [--seconds S]
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/tasks/task_store.h"
#include "app/tasks/task_store_writer.h"

namespace {

long long WrittenBytes() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value) {
    if (key == "wchar:") return value;
  }
  return -1;
}

// A record about the size of a real video-information answer.
std::string Record(int row) {
  return R"({"data":{"bvid":"BV1xx411c7mD","desc":")" + std::string(4000, 'x') +
         R"("},"任务id":")" + std::to_string(row) + R"("})";
}

}  // namespace

int main(int argc, char** argv) {
  int rows = 1000;
  int seconds = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--rows") rows = std::stoi(argv[i + 1]);
    if (option == "--seconds") seconds = std::stoi(argv[i + 1]);
  }
  namespace fs = std::filesystem;
  const fs::path folder =
      fs::temp_directory_path() / ("korvid-bench-store-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const std::string path = (folder / "任务.db").string();
  korvid::TaskStore::Opened opened = korvid::TaskStore::Open(path);
  if (!opened.store) return 1;
  korvid::TaskList tasks;
  auto clock = std::chrono::steady_clock::time_point{};
  korvid::TaskStoreWriter writer(tasks, *opened.store, [&clock] { return clock; });
  for (int row = 1; row <= rows; ++row) {
    tasks.AppendRow();
    tasks.SetCellText(row, korvid::kColTitle, "标题 " + std::to_string(row));
    tasks.NoteQueued(row, Record(row));
    tasks.SetCellText(row, korvid::kColState, korvid::kStateWaiting);
  }
  if (!writer.FlushAll()) return 1;
  const int writesBefore = writer.Writes();
  const long long before = WrittenBytes();

  constexpr int kDownloads = 4;
  constexpr auto kReport = std::chrono::milliseconds(495);
  constexpr auto kTick = std::chrono::milliseconds(250);  // the writer thread's wake-up
  for (int row = 1; row <= kDownloads; ++row) {
    tasks.SetCellText(row, korvid::kColRecord, Record(row) + " ");
    tasks.SetCellText(row, korvid::kColState, korvid::kStateStarted);
  }
  const auto end = clock + std::chrono::seconds(seconds);
  auto nextReport = clock;
  long long received = 0;
  for (; clock < end; clock += kTick) {
    while (nextReport <= clock) {
      received += 512 * 1024;
      for (int row = 1; row <= kDownloads; ++row) {
        tasks.SetCellText(row, korvid::kColReceived, std::to_string(received) + "B");
        tasks.SetCellText(row, korvid::kColTime,
                          std::to_string((nextReport - std::chrono::steady_clock::time_point{}) /
                                         std::chrono::seconds(1)) +
                              "秒");
        tasks.SetCellText(row, korvid::kColSpeed, std::to_string(received % 97) + " MB/S");
        tasks.SetCellText(row, korvid::kColState, korvid::kStateDownloading);
      }
      nextReport += kReport;
    }
    writer.FlushDue();
  }
  for (int row = 1; row <= kDownloads; ++row) {
    tasks.SetCellText(row, korvid::kColState, korvid::kStateDone);
  }
  if (!writer.FlushAll()) return 1;
  const long long written = WrittenBytes() - before;
  std::printf("%d kept rows, %d downloads reporting every %lld ms for %d s\n", rows, kDownloads,
              static_cast<long long>(kReport.count()), seconds);
  std::printf("written %lld bytes (%.1f KiB) in %d batches\n", written,
              static_cast<double>(written) / 1024.0, writer.Writes() - writesBefore);
  writer.Stop();
  opened.store.reset();
  fs::remove_all(folder);
  return 0;
}
