#include "download/download_engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "controls/control_store.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"
#include "transfer/command_runner.h"

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
  EXPECT_EQ(SpeedText(0.0F), "0.0 MB/S");
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
  EXPECT_EQ(State(1), kStateDownloading);

  Engine().HandleProgress(Report(1, kReportReadFailed, 100, 20'971'520, 10'485'760));
  EXPECT_EQ(State(1), "");
  EXPECT_EQ(m_state.RunningCount().load(), 1);

  Engine().HandleProgress(Report(1, kReportEnded, 100, 20'971'520, 20'971'520));
  EXPECT_EQ(State(1), kStateDone);
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
};

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
    ::testing::Values(MergeCase{"Merged", true, kStateMerged, kColorMerged, false},
                      MergeCase{"FfmpegFails", false, kStateMergeFailed, kColorCrimson, true}),
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

 protected:
  void SetUp() override {
    ASSERT_TRUE(m_site.Start());
    CannedReply reply;
    reply.contentType = "application/octet-stream";
    reply.body = m_body;
    m_site.SetCanned("GET", "/bulk/a.bin", reply);
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

struct SiteCase {
  const char* name;
  std::function<DownloadRequest(DownloadEngineSite&)> request;
  std::string_view state;
  std::uint32_t color;
  std::int64_t fileBytes;  // -1: no file
  std::string lastUrlPath;
};

class DownloadEngineSiteCase : public DownloadEngineSite,
                               public ::testing::WithParamInterface<SiteCase> {};

TEST_P(DownloadEngineSiteCase, RowShowsHowTheDownloadEnded) {
  const SiteCase& param = GetParam();
  AddRows(1);
  DownloadRequest request = param.request(*this);
  std::atomic<int> ownEnds{0};
  request.onEnd = [&](const DownloadEnd& end) { ownEnds += end.row == 1 ? 1 : 100; };
  ASSERT_EQ(Engine().StartDownload(request), kDownloadStarted);
  ASSERT_TRUE(Engine().WaitIdle(kWaitMs));
  EXPECT_EQ(State(1), param.state);
  EXPECT_EQ(StateColor(1), param.color);
  EXPECT_FALSE(m_state.Downloads().Contains(1));
  EXPECT_EQ(m_state.RunningCount().load(), 0);
  const std::string file = test::ReadWholeFile(request.targetPath);
  if (param.fileBytes < 0) {
    EXPECT_FALSE(fs::exists(request.targetPath));
  } else {
    EXPECT_EQ(file, m_body.substr(0, static_cast<std::size_t>(param.fileBytes)));
  }
  const auto ends = Ends();
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].row, 1);
  EXPECT_EQ(ends[0].outcome.Complete(), param.state == kStateDone);
  EXPECT_EQ(ownEnds.load(), 1);
  if (!param.lastUrlPath.empty()) {
    EXPECT_EQ(ends[0].url, Url(param.lastUrlPath));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadEngineSiteCase,
    ::testing::Values(
        SiteCase{"Whole",
                 [](DownloadEngineSite& site) { return site.Request(1, site.Url("/bulk/a.bin")); },
                 kStateDone, kColorDone, 300'003, "/bulk/a.bin"},
        SiteCase{"EmptyAddress", [](DownloadEngineSite& site) { return site.Request(1, ""); },
                 kStateStartFailed, kColorCrimson, -1, ""},
        SiteCase{"DroppedMidBody",
                 [](DownloadEngineSite& site) {
                   site.Site().SetFault("/bulk/a.bin", Fault::DropAfter(100'000));
                   return site.Request(1, site.Url("/bulk/a.bin"));
                 },
                 kStateShort, kColorCrimson, 100'000, "/bulk/a.bin"},
        SiteCase{"AllAddressesRefused",
                 [](DownloadEngineSite& site) {
                   DownloadRequest request = site.Request(1, site.Url("/bulk/missing.bin"));
                   request.fallbackUrls = {site.Url("/bulk/gone.bin")};
                   site.Site().SetFault("/bulk/", Fault::Status(403));
                   return request;
                 },
                 kStateStartFailed, kColorCrimson, -1, "/bulk/gone.bin"},
        SiteCase{"BackupAfterNotFound",
                 [](DownloadEngineSite& site) {
                   DownloadRequest request = site.Request(1, site.Url("/bulk/missing.bin"));
                   request.fallbackUrls = {site.Url("/bulk/a.bin")};
                   site.Site().SetFault("/bulk/missing.bin", Fault::Status(404));
                   return request;
                 },
                 kStateDone, kColorDone, 300'003, "/bulk/a.bin"},
        SiteCase{"NoBackupAfterAServerError",
                 [](DownloadEngineSite& site) {
                   DownloadRequest request = site.Request(1, site.Url("/bulk/missing.bin"));
                   request.fallbackUrls = {site.Url("/bulk/a.bin")};
                   site.Site().SetFault("/bulk/missing.bin", Fault::Status(500));
                   return request;
                 },
                 kStateStartFailed, kColorCrimson, -1, "/bulk/missing.bin"}),
    [](const auto& instance) { return instance.param.name; });

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
