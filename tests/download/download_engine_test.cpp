#include "download/download_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "support/closed_port.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"
#include "transfer/command_runner.h"
#include "transfer/media_merge.h"
#include "transfer/target_lock.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;
using fakesite::CannedReply;
using fakesite::FakeSite;
using fakesite::Fault;
using fakesite::MediaKind;

constexpr int kWaitMs = 60000;

ProgressReport Report(int row, int kind, std::uint64_t transferId, std::int64_t total,
                      std::int64_t received, int elapsedMs = 0, float speed = 0.0F) {
  ProgressReport report;
  report.userValue = row;
  report.kind = kind;
  report.total = total;
  report.received = received;
  report.elapsedMs = elapsedMs;
  report.speed = speed;
  report.transferId = transferId;
  return report;
}

class DownloadEngineTest : public ::testing::Test {
 protected:
  DownloadEngineTest() : m_state(m_controls, AppPaths{m_sandbox.Path()}) {}

  void AddRows(int count) {
    for (int i = 0; i < count; ++i) (void)Tasks().AppendRow();
  }
  TaskList& Tasks() { return m_state.Tasks(); }
  DownloadEngine& Engine() { return m_engine; }
  std::string State(int row) { return Tasks().CellText(row, kColState); }
  std::uint32_t StateColor(int row) { return Tasks().CellColor(row, kColState); }

  test::Sandbox m_sandbox;
  ControlStore m_controls;
  AppState m_state;
  DownloadEngine m_engine{m_state};
};

TEST(DownloadColumns, TextsOfAReport) {
  EXPECT_EQ(MegabytesText(20'971'520), "20.00MB");
  EXPECT_EQ(MegabytesText(10'485'760), "10.00MB");
  EXPECT_EQ(MegabytesText(10'000'000), "9.54MB");
  EXPECT_EQ(MegabytesText(0), "0.00MB");
  EXPECT_EQ(SecondsText(3400), "3秒");
  EXPECT_EQ(SecondsText(999), "0秒");
  EXPECT_EQ(SpeedText(1536.0F), "1.5 MB/S");
}

// Under 1 MB/s the speed reads in KB/S, so a slow download does not look
// stalled; the time left reads in the largest units that matter.
TEST(DownloadColumns, SpeedTimeLeftAndPercent) {
  struct Case {
    const char* name;
    std::int64_t remaining;
    std::int64_t total;
    float kib;
    std::string speed, timeLeft, percent;
  };
  const Case cases[] = {
      {.name = "stalled",
       .remaining = 1000,
       .total = 2000,
       .kib = 0.0F,
       .speed = "0.0 KB/S",
       .timeLeft = "",
       .percent = "50%"},
      {.name = "slow",
       .remaining = 15 * 1024 * 10,
       .total = 15 * 1024 * 40,
       .kib = 15.0F,
       .speed = "15.0 KB/S",
       .timeLeft = "10秒",
       .percent = "75%"},
      {.name = "just under a megabyte",
       .remaining = 1,
       .total = 3,
       .kib = 1023.9F,
       .speed = "1023.9 KB/S",
       .timeLeft = "1秒",
       .percent = "66%"},
      {.name = "rounds up to a megabyte",
       .remaining = 0,
       .total = 10,
       .kib = 1023.97F,
       .speed = "1.0 MB/S",
       .timeLeft = "0秒",
       .percent = "100%"},
      {.name = "minutes",
       .remaining = 125LL * 2048 * 1024,
       .total = 0,
       .kib = 2048.0F,
       .speed = "2.0 MB/S",
       .timeLeft = "2分05秒",
       .percent = ""},
      {.name = "hours",
       .remaining = 11'220LL * 1024,
       .total = -1,
       .kib = 1.0F,
       .speed = "1.0 KB/S",
       .timeLeft = "3小时07分",
       .percent = ""},
      {.name = "beyond telling",
       .remaining = 1LL << 50,
       .total = 1,
       .kib = 1.0F,
       .speed = "1.0 KB/S",
       .timeLeft = "超过99小时",
       .percent = "0%"},
      {.name = "negative speed",
       .remaining = 10,
       .total = 10,
       .kib = -5.0F,
       .speed = "0.0 KB/S",
       .timeLeft = "",
       .percent = "0%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SpeedText(c.kib), c.speed);
    EXPECT_EQ(TimeLeftText(c.remaining, c.kib), c.timeLeft);
    EXPECT_EQ(PercentText(c.total > 0 ? c.total - c.remaining : 0, c.total), c.percent);
  }
}

TEST(DownloadColumns, RateLimitSettingIsKilobytesASecond) {
  const std::pair<const char*, std::int64_t> cases[] = {
      {"0", 0}, {"", 0}, {"abc", 0}, {"500", 512'000}, {"200KB", 204'800}, {"-3", 0}};
  for (const auto& [text, bytes] : cases) EXPECT_EQ(RateLimitOfSetting(text), bytes) << text;
}

// The 限速 box reaches running downloads with their next report; a rate
// given to the engine (the command line's --limit-rate) stays.
TEST(DownloadEngineRate, TheSettingAppliesAtOnceUnlessTheRateIsFixed) {
  test::Sandbox sandbox;
  ControlStore controls;
  CreateMainWindowControls(controls);
  AppState state(controls, AppPaths{sandbox.Path()});
  DownloadEngine engine(state);
  (void)state.Tasks().AppendRow();
  const std::pair<const char*, std::int64_t> steps[] = {{"100", 102'400}, {"0", 0}, {"", 0}};
  for (const auto& [text, rate] : steps) {
    controls.SetText(kRateLimitBox, text);
    engine.HandleProgress(Report(1, kReportProgress, 1, 10, 5));
    EXPECT_EQ(engine.Limiter().BytesPerSecond(), rate) << text;
  }
  engine.SetRateLimit(5000);
  controls.SetText(kRateLimitBox, "100");
  engine.HandleProgress(Report(1, kReportProgress, 1, 10, 6));
  EXPECT_EQ(engine.Limiter().BytesPerSecond(), 5000);
}

TEST_F(DownloadEngineTest, ReportsBecomeCellsStatesColoursAndTheRunningCount) {
  AddRows(2);
  Tasks().SetCellColor(1, kColState, kColorCrimson);  // as the hand-over leaves it
  Engine().HandleProgress(Report(1, kReportStarted, 100, 20'971'520, 0));
  EXPECT_EQ(State(1), kStateStarted);
  EXPECT_EQ(StateColor(1), kColorDefault);
  EXPECT_EQ(m_state.RunningCount().load(), 1);

  Engine().HandleProgress(Report(1, kReportProgress, 100, 20'971'520, 10'485'760, 3400, 2048.0F));
  EXPECT_EQ(Tasks().CellText(1, kColSize), "20.00MB");
  EXPECT_EQ(Tasks().CellText(1, kColReceived), "10.00MB");
  EXPECT_EQ(Tasks().CellText(1, kColTime), "3秒");
  EXPECT_EQ(Tasks().CellText(1, kColSpeed), "2.0 MB/S");
  EXPECT_EQ(Tasks().CellText(1, kColumnTimeLeft), "5秒");
  EXPECT_EQ(State(1), kStateDownloading);
  // Only registered downloads count towards the total speed.
  EXPECT_FLOAT_EQ(m_state.Downloads().TotalSpeed(), 0.0F);
  ASSERT_TRUE(m_state.Downloads().Register(1));
  Engine().HandleProgress(Report(1, kReportProgress, 100, 20'971'520, 10'485'760, 3400, 2048.0F));
  EXPECT_FLOAT_EQ(m_state.Downloads().TotalSpeed(), 2048.0F);
  m_state.Downloads().Unregister(1);

  Engine().HandleProgress(Report(1, kReportReadFailed, 100, 20'971'520, 10'485'760));
  EXPECT_EQ(State(1), "");
  EXPECT_EQ(m_state.RunningCount().load(), 1);

  Engine().HandleProgress(Report(1, kReportEnded, 100, 20'971'520, 20'971'520));
  EXPECT_EQ(State(1), kStateDone);
  EXPECT_EQ(Tasks().CellText(1, kColumnTimeLeft), "");
  EXPECT_EQ(StateColor(1), kColorDone);
  EXPECT_EQ(m_state.RunningCount().load(), 0);

  // A report of the same transfer that comes after its end changes nothing.
  Engine().HandleProgress(Report(1, kReportProgress, 100, 20'971'520, 10));
  EXPECT_EQ(State(1), kStateDone);
  EXPECT_EQ(Tasks().CellText(1, kColReceived), "20.00MB");

  // An end short of the total; the count never drops below 0.
  Engine().HandleProgress(Report(2, kReportEnded, 101, 20'971'520, 10'000'000));
  EXPECT_EQ(State(2), kStateShort);
  EXPECT_EQ(StateColor(2), kColorCrimson);
  EXPECT_EQ(m_state.RunningCount().load(), 0);

  // The row's next transfer is heard again.
  Engine().HandleProgress(Report(1, kReportStarted, 102, 5, 0));
  EXPECT_EQ(State(1), kStateStarted);
}

struct MergeCase {
  const char* name;
  bool audioIsMedia;
  std::string_view state;
  std::uint32_t color;
  bool halvesKept;
  const char* ffmpegScript;   // a stand-in for ffmpeg (sh); nullptr: the real one
  const char* earlierOutput;  // the merged file of an earlier run; nullptr: none
};

// Writes a cut-off file and reports success, as FFmpeg does on a full disk.
constexpr const char* kFullDiskFfmpeg =
    "for last; do :; done; head -c 4096 \"$5\" > \"$last\"; "
    "echo 'Error writing trailer: No space left on device'; exit 0";

class DownloadEnginePair : public DownloadEngineTest,
                           public ::testing::WithParamInterface<MergeCase> {};

// The audio half ends first; the video half's end starts the merge.
TEST_P(DownloadEnginePair, LaterHalfStartsTheMergeAndBothRowsShowItsResult) {
  const MergeCase& param = GetParam();
  FakeSite site;
  AddRows(2);
  const fs::path output = m_sandbox / "标题 $(x) `y` \"z\"" / "partS1E1.mp4";
  const std::string video = output.string() + ".视频";
  const std::string audio = output.string() + ".音频";
  const std::string audioBytes = param.audioIsMedia ? site.MediaBytes(MediaKind::AudioOnly) : "?";
  fs::create_directories(output.parent_path());
  ASSERT_TRUE(m_sandbox.WriteFile(fs::relative(video, m_sandbox.Path()),
                                  site.MediaBytes(MediaKind::VideoOnly)));
  ASSERT_TRUE(m_sandbox.WriteFile(fs::relative(audio, m_sandbox.Path()), audioBytes));
  Tasks().SetCellText(1, kColRecord, nlohmann::json{{"视频路径", video}}.dump());
  Tasks().SetCellText(2, kColRecord, nlohmann::json{{"视频路径", audio}}.dump());
  if (param.ffmpegScript != nullptr) {
    const fs::path script = m_sandbox / "fake-ffmpeg";
    std::ofstream(script) << "#!/bin/sh\n" << param.ffmpegScript << "\n";
    fs::permissions(script, fs::perms::owner_all);
    Engine().SetFfmpeg(script.string());
  }
  if (param.earlierOutput != nullptr) std::ofstream(output) << param.earlierOutput;
  std::vector<MergeEnd> merges;
  std::mutex mutex;
  Engine().SetObservers({}, [&](const MergeEnd& end) {
    std::lock_guard guard(mutex);
    merges.push_back(end);
  });

  Engine().HandleProgress(Report(2, kReportStarted, 200, 10, 0));
  Engine().HandleProgress(Report(2, kReportEnded, 200, 10, 10));
  EXPECT_EQ(State(2), kStateDone);
  {
    std::lock_guard list(m_state.ListLock());  // the merge waits for the list
    Engine().HandleProgress(Report(1, kReportStarted, 201, 10, 0));
    Engine().HandleProgress(Report(1, kReportEnded, 201, 10, 10));
    EXPECT_EQ(State(1), kStateMerging);
    EXPECT_EQ(State(2), kStateDone);
  }
  ASSERT_TRUE(Engine().WaitIdle(kWaitMs));
  for (int row : {1, 2}) {
    EXPECT_EQ(State(row), param.state);
    EXPECT_EQ(StateColor(row), param.color);
  }
  EXPECT_EQ(fs::exists(video), param.halvesKept);
  EXPECT_EQ(fs::exists(audio), param.halvesKept);
  ASSERT_EQ(merges.size(), 1u);
  EXPECT_EQ(merges[0].videoRow, 1);
  EXPECT_EQ(merges[0].audioRow, 2);
  EXPECT_EQ(merges[0].output, output.string());
  if (param.earlierOutput != nullptr) {
    EXPECT_EQ(test::ReadWholeFile(output), param.earlierOutput);
  }
  EXPECT_FALSE(fs::exists(MergeTempPathOf(output.string())));
  EXPECT_EQ(Tasks().CellTip(1, kColState).empty(), !param.halvesKept);
  if (!param.halvesKept) {
    EXPECT_EQ(RunCommand({"ffprobe", "-v", "error", "-show_entries", "stream=codec_type", "-of",
                          "csv=p=0", output.string()})
                  .output,
              "video\naudio\n");
  }
  EXPECT_EQ(m_state.RunningCount().load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadEnginePair,
    ::testing::Values(
        MergeCase{"Merged", true, kStateMerged, kColorMerged, false, nullptr, nullptr},
        MergeCase{"FfmpegFails", false, kStateMergeFailed, kColorCrimson, true, nullptr, nullptr},
        MergeCase{"FailureKeepsTheEarlierOutput", false, kStateMergeFailed, kColorCrimson, true,
                  nullptr, "merged by an earlier run"},
        MergeCase{"FullDiskCaughtByTheCheck", true, kStateMergeFailed, kColorCrimson, true,
                  kFullDiskFfmpeg, nullptr}),
    [](const auto& instance) { return instance.param.name; });

TEST_F(DownloadEngineTest, SingleTaskEndsDoneWithoutMerge) {
  AddRows(1);
  Tasks().SetCellText(1, kColRecord, R"({"视频路径":"/nowhere/aS1E1.mp4"})");
  Engine().HandleProgress(Report(1, kReportStarted, 300, 10, 0));
  Engine().HandleProgress(Report(1, kReportEnded, 300, 10, 10));
  EXPECT_EQ(State(1), kStateDone);
  EXPECT_EQ(Engine().ActiveCount(), 0);
}

class DownloadEngineSite : public DownloadEngineTest {
 public:
  DownloadRequest Request(int row, std::string url) {
    DownloadRequest request;
    request.row = row;
    request.url = std::move(url);
    request.targetPath = (m_sandbox / ("row" + std::to_string(row) + ".bin")).string();
    return request;
  }
  std::string Url(const std::string& path) const { return m_site.BaseUrl() + path; }
  FakeSite& Site() { return m_site; }
  DownloadEngine& Engine() { return DownloadEngineTest::Engine(); }
  std::string MediaBody() { return m_site.MediaBytes(MediaKind::Progressive); }
  // Retries that wait no longer than a moment, their delays recorded.
  void SetRetries(int retries, std::int64_t clockMs = 0) {
    RetryPolicy policy;
    policy.retries = retries;
    policy.jitterSeed = 7;
    policy.busyPollMs = 20;
    policy.sleep = [this](int ms) {
      {
        std::lock_guard guard(m_mutex);
        if (ms != 20) m_delays.push_back(ms);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 20)));
      return true;
    };
    if (clockMs > 0) policy.clock = [clockMs] { return clockMs; };
    Engine().SetRetryPolicy(policy);
  }
  std::vector<int> Delays() {
    std::lock_guard guard(m_mutex);
    return m_delays;
  }
  int MediaGets(const std::string& prefix) {
    int count = 0;
    for (const auto& request : m_site.Requests()) {
      count += request.method == "GET" && request.path.starts_with(prefix) ? 1 : 0;
    }
    return count;
  }

 protected:
  void SetUp() override {
    ASSERT_TRUE(m_site.Start());
    CannedReply reply;
    reply.contentType = "application/octet-stream";
    reply.body = m_body;
    m_site.SetCanned("GET", "/bulk/a.bin", reply);
    SetRetries(RetryPolicy::kDefaultRetries);
    Engine().SetObservers(
        [this](const DownloadEnd& end) {
          std::lock_guard guard(m_mutex);
          m_ends.push_back(end);
        },
        {});
  }

  std::vector<DownloadEnd> Ends() {
    std::lock_guard guard(m_mutex);
    return m_ends;
  }

  FakeSite m_site;
  const std::string m_body = std::string(300'000, 'k') + "end";
  std::mutex m_mutex;
  std::vector<DownloadEnd> m_ends;
  std::vector<int> m_delays;
};

TEST_F(DownloadEngineSite, SecondStartForARunningRowIsRefusedUntilItEnds) {
  AddRows(1);
  m_site.SetFault("/bulk/a.bin", Fault::Throttle(300'000));
  EXPECT_EQ(Engine().StartDownload(Request(1, Url("/bulk/a.bin"))), kDownloadStarted);
  EXPECT_EQ(Engine().StartDownload(Request(1, Url("/bulk/a.bin"))), kDownloadRefused);
  ASSERT_TRUE(Engine().WaitIdle(kWaitMs));
  EXPECT_EQ(State(1), kStateDone);
  EXPECT_EQ(m_state.Downloads().Count(), 0);
  EXPECT_EQ(Engine().StartDownload(Request(1, Url("/bulk/a.bin"))), kDownloadStarted);
  ASSERT_TRUE(Engine().WaitIdle(kWaitMs));
  EXPECT_EQ(m_state.RunningCount().load(), 0);
}

// A media host nobody answers on fails the row while the site answers;
// once the site is held as unreachable the row waits for it instead.
TEST_F(DownloadEngineSite, AnUnreachableMediaHostFailsOrWaitsWithTheSite) {
  struct Case {
    const char* name;
    int failuresBefore;  // of other tasks, in a row
    std::string_view state;
    int queued;
  };
  const Case cases[] = {
      {.name = "the site answers", .failuresBefore = 0, .state = kStateStartFailed, .queued = 0},
      {.name = "the third in a row", .failuresBefore = 2, .state = kStateWaiting, .queued = 1},
  };
  const int port = test::ClosedPort();
  ASSERT_NE(port, 0);
  SetRetries(0);
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_state.Reachability().NoteReached();
    for (int i = 0; i < c.failuresBefore; ++i) m_state.Reachability().NoteUnreachable();
    AddRows(1);
    ++row;
    Tasks().SetCellText(row, kColRecord, R"({"任务id":")" + std::to_string(row) + "\"}");
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/a.mp4";
    ASSERT_EQ(Engine().StartDownload(Request(row, url)), kDownloadStarted);
    ASSERT_TRUE(Engine().WaitIdle(kWaitMs));
    EXPECT_EQ(State(row), c.state);
    std::string record;
    EXPECT_EQ(m_state.TaskQueue().Count(), c.queued);
    if (c.queued > 0) {
      ASSERT_TRUE(m_state.TaskQueue().PopText(record));
      EXPECT_EQ(record, Tasks().CellText(row, kColRecord));
    }
  }
}

constexpr const char* kMediaPath = "/media/progressive/1-1-80.mp4";
constexpr const char* kFreshPath = "/media/progressive/2-1-80.mp4";

struct SiteCase {
  const char* name;
  std::function<DownloadRequest(DownloadEngineSite&)> request;
  std::string_view state;
  std::uint32_t color;
  // The final file: "body" (the served bytes), "" (none), or other text it holds.
  std::string file = "body";
  std::string lastUrlPath;
  std::string tip;       // how the state cell's tip starts; "PART": the part's path
  int gets = -1;         // GETs of lastUrlPath; -1: not checked
  int delays = 0;        // retry waits
  bool media = true;     // the body is the served media file, not /bulk/a.bin
  bool sentOnce = true;  // the site sent no byte twice (at most 5 % more than the file)
};

class DownloadEngineSiteCase : public DownloadEngineSite,
                               public ::testing::WithParamInterface<SiteCase> {};

// Every way a download can end, and what the row, the file and the server saw.
TEST_P(DownloadEngineSiteCase, RowShowsHowTheDownloadEnded) {
  const SiteCase& param = GetParam();
  AddRows(1);
  const std::string body = param.media ? MediaBody() : m_body;
  DownloadRequest request = param.request(*this);
  std::atomic<int> ownEnds{0};
  request.onEnd = [&](const DownloadEnd& end) { ownEnds += end.row == 1 ? 1 : 100; };
  ASSERT_EQ(Engine().StartDownload(request), kDownloadStarted);
  ASSERT_TRUE(Engine().WaitIdle(kWaitMs));
  EXPECT_EQ(State(1), param.state);
  EXPECT_EQ(StateColor(1), param.color);
  const std::string tip = Tasks().CellTip(1, kColState);
  EXPECT_TRUE(
      param.tip.empty()
          ? tip.empty()
          : tip.starts_with(param.tip == "PART" ? PartPathOf(request.targetPath) : param.tip))
      << tip;
  EXPECT_FALSE(m_state.Downloads().Contains(1));
  EXPECT_EQ(m_state.RunningCount().load(), 0);
  if (param.file.empty()) {
    EXPECT_FALSE(fs::exists(request.targetPath));
  } else {
    // Compared by size first, so a failure does not print the whole body.
    const std::string file = test::ReadWholeFile(request.targetPath);
    const std::string& want = param.file == "body" ? body : param.file;
    EXPECT_EQ(file.size(), want.size());
    EXPECT_TRUE(file == want);
  }
  const auto ends = Ends();
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].row, 1);
  EXPECT_EQ(ends[0].result.end == FetchResult::End::kComplete, param.state == kStateDone);
  EXPECT_EQ(ownEnds.load(), 1);
  if (!param.lastUrlPath.empty()) {
    EXPECT_EQ(ends[0].url, Url(param.lastUrlPath));
  }
  if (param.gets >= 0) {
    EXPECT_EQ(MediaGets(param.lastUrlPath), param.gets);
  }
  EXPECT_EQ(Delays().size(), static_cast<std::size_t>(param.delays));
  // Nothing received twice: a resumed body costs at most 5 % more.
  if (param.state == kStateDone && param.media && param.sentOnce) {
    EXPECT_LE(static_cast<double>(Site().MediaBytesSent()),
              1.05 * static_cast<double>(body.size()));
  }
}

// GCC warns of every field a designated initialiser leaves to its default.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadEngineSiteCase,
    ::testing::Values(
        SiteCase{.name = "Whole",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       return fixture.Request(1, fixture.Url("/bulk/a.bin"));
                     },
                 .state = kStateDone,
                 .color = kColorDone,
                 .lastUrlPath = "/bulk/a.bin",
                 .media = false},
        SiteCase{.name = "EmptyAddress",
                 .request = [](DownloadEngineSite& fixture) { return fixture.Request(1, ""); },
                 .state = kStateStartFailed,
                 .color = kColorCrimson,
                 .file = "",
                 .tip = "no address"},
        SiteCase{.name = "DropsResumedWithRange",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       fixture.Site().SetFault(kMediaPath, Fault::DropAfter(30'000));
                       return fixture.Request(1, fixture.Url(kMediaPath));
                     },
                 .state = kStateDone,
                 .color = kColorDone,
                 .lastUrlPath = kMediaPath,
                 .gets = 3,
                 .delays = 2},
        SiteCase{.name = "ServerErrorThenWhole",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       fixture.Site().SetFault(kMediaPath, Fault::Status(500).Times(1));
                       return fixture.Request(1, fixture.Url(kMediaPath));
                     },
                 .state = kStateDone,
                 .color = kColorDone,
                 .lastUrlPath = kMediaPath,
                 .gets = 2,
                 .delays = 1},
        SiteCase{.name = "StallThenWhole",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       TransferTiming timing;
                       timing.stallTimeoutSeconds = 1;
                       fixture.Engine().SetTransferTiming(timing);
                       fixture.Site().SetFault(kMediaPath, Fault::Delay(4000).Times(1));
                       return fixture.Request(1, fixture.Url(kMediaPath));
                     },
                 .state = kStateDone,
                 .color = kColorDone,
                 .lastUrlPath = kMediaPath,
                 .gets = 2,
                 .delays = 1},
        SiteCase{.name = "RefusedAddressRenewed",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       fixture.Site().SetFault(kMediaPath, Fault::Status(403));
                       DownloadRequest request = fixture.Request(1, fixture.Url(kMediaPath));
                       request.fallbackUrls = {fixture.Url("/bulk/gone.bin")};
                       request.freshAddresses = [&fixture] {
                         return std::vector<std::string>{fixture.Url(kFreshPath)};
                       };
                       return request;
                     },
                 .state = kStateDone,
                 .color = kColorDone,
                 .lastUrlPath = kFreshPath,
                 .gets = 1},
        SiteCase{.name = "ExpiredAddressRenewedBeforeUse",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       fixture.SetRetries(5, RetryPolicy::kAddressLifetimeMs + 1000);
                       DownloadRequest request = fixture.Request(1, fixture.Url(kMediaPath));
                       request.addressesIssuedMs = 0;
                       request.freshAddresses = [&fixture] {
                         return std::vector<std::string>{fixture.Url(kFreshPath)};
                       };
                       return request;
                     },
                 .state = kStateDone,
                 .color = kColorDone,
                 .lastUrlPath = kFreshPath,
                 .gets = 1},
        SiteCase{.name = "RetriesUsedUp",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       fixture.Site().SetFault(kMediaPath, Fault::Status(503));
                       return fixture.Request(1, fixture.Url(kMediaPath));
                     },
                 .state = kStateStartFailed,
                 .color = kColorCrimson,
                 .file = "",
                 .lastUrlPath = kMediaPath,
                 .tip = "HTTP 503",
                 .gets = 6,
                 .delays = 5},
        SiteCase{.name = "AllAddressesRefused",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       DownloadRequest request =
                           fixture.Request(1, fixture.Url("/bulk/missing.bin"));
                       request.fallbackUrls = {fixture.Url("/bulk/gone.bin")};
                       fixture.Site().SetFault("/bulk/", Fault::Status(403));
                       return request;
                     },
                 .state = kStateStartFailed,
                 .color = kColorCrimson,
                 .file = "",
                 .lastUrlPath = "/bulk/gone.bin",
                 .tip = "HTTP 403"},
        SiteCase{.name = "BackupAfterNotFound",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       DownloadRequest request =
                           fixture.Request(1, fixture.Url("/bulk/missing.bin"));
                       request.fallbackUrls = {fixture.Url("/bulk/a.bin")};
                       fixture.Site().SetFault("/bulk/missing.bin", Fault::Status(404));
                       return request;
                     },
                 .state = kStateDone,
                 .color = kColorDone,
                 .lastUrlPath = "/bulk/a.bin",
                 .media = false},
        SiteCase{.name = "ServerErrorWithoutRetriesKeepsTheAddress",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       fixture.SetRetries(0);
                       DownloadRequest request =
                           fixture.Request(1, fixture.Url("/bulk/missing.bin"));
                       request.fallbackUrls = {fixture.Url("/bulk/a.bin")};
                       fixture.Site().SetFault("/bulk/missing.bin", Fault::Status(500));
                       return request;
                     },
                 .state = kStateStartFailed,
                 .color = kColorCrimson,
                 .file = "",
                 .lastUrlPath = "/bulk/missing.bin",
                 .tip = "HTTP 500",
                 .gets = 1},
        // A complete file from an earlier run: a download of it that breaks
        // off leaves it as it was.
        SiteCase{.name = "CompleteFileSurvivesABrokenRerun",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       fixture.SetRetries(0);
                       fixture.Site().SetFault(kMediaPath, Fault::DropAfter(30'000));
                       DownloadRequest request = fixture.Request(1, fixture.Url(kMediaPath));
                       std::ofstream(request.targetPath) << "earlier whole file";
                       return request;
                     },
                 .state = kStateStartFailed,
                 .color = kColorCrimson,
                 .file = "earlier whole file",
                 .lastUrlPath = kMediaPath,
                 .tip = "transfer closed with",
                 .gets = 1},
        // A part left by a run whose answer had another ETag is not continued.
        SiteCase{.name = "PartOfAnotherBodyStartsOver",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       DownloadRequest request = fixture.Request(1, fixture.Url(kMediaPath));
                       const std::string total = std::to_string(fixture.MediaBody().size());
                       std::ofstream(PartPathOf(request.targetPath)) << std::string(1000, 'x');
                       std::ofstream(LockPathOf(request.targetPath))
                           << total << "\n\"other\"\nWed, 01 Jan 2025 00:00:00 GMT\n";
                       return request;
                     },
                 .state = kStateDone,
                 .color = kColorDone,
                 .lastUrlPath = kMediaPath,
                 .gets = 2,
                 .sentOnce = false},
        // Without a note nothing vouches for the part's bytes.
        SiteCase{.name = "PartWithoutItsNoteStartsOver",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       DownloadRequest request = fixture.Request(1, fixture.Url(kMediaPath));
                       std::ofstream(PartPathOf(request.targetPath)) << std::string(1000, 'x');
                       return request;
                     },
                 .state = kStateDone,
                 .color = kColorDone,
                 .lastUrlPath = kMediaPath,
                 .gets = 1},
        SiteCase{.name = "DiskFullKeepsNothingButThePart",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       DownloadRequest request = fixture.Request(1, fixture.Url(kMediaPath));
                       fs::create_symlink("/dev/full", PartPathOf(request.targetPath));
                       return request;
                     },
                 .state = kStateDiskFull,
                 .color = kColorCrimson,
                 .file = "",
                 .tip = "PART"},
        SiteCase{.name = "UnwritableFolder",
                 .request =
                     [](DownloadEngineSite& fixture) {
                       DownloadRequest request = fixture.Request(1, fixture.Url(kMediaPath));
                       request.targetPath = "/sys/korvid-test.mp4";
                       return request;
                     },
                 .state = "无法写入：/sys",
                 .color = kColorCrimson,
                 .file = "",
                 .tip = "/sys/korvid-test.mp4.part"}),
    [](const auto& instance) { return instance.param.name; });
#pragma GCC diagnostic pop

// Many short downloads, ten at a time: every row ends done and the count
// comes back to 0 (also run under ThreadSanitizer).
TEST_F(DownloadEngineSite, TwoHundredShortDownloadsTenAtATime) {
  constexpr int kDownloads = 200;
  constexpr int kParallel = 10;
  AddRows(kDownloads);
  CannedReply reply;
  reply.contentType = "application/octet-stream";
  reply.body = std::string(20'000, 's');
  m_site.SetCanned("GET", "/bulk/short.bin", reply);
  int started = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (started < kDownloads && std::chrono::steady_clock::now() < deadline) {
    if (Engine().ActiveCount() >= kParallel) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    ++started;
    ASSERT_EQ(Engine().StartDownload(Request(started, Url("/bulk/short.bin"))), kDownloadStarted);
  }
  ASSERT_EQ(started, kDownloads);
  ASSERT_TRUE(Engine().WaitIdle(kWaitMs));
  EXPECT_EQ(m_state.RunningCount().load(), 0);
  EXPECT_EQ(m_state.Downloads().Count(), 0);
  EXPECT_EQ(Ends().size(), static_cast<std::size_t>(kDownloads));
  for (int row = 1; row <= kDownloads; ++row) EXPECT_EQ(State(row), kStateDone) << row;
}

}  // namespace
}  // namespace korvid
