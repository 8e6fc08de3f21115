// The list menu's row actions against the fake site: pause and continue keep
// what arrived, cancel removes the row and its part but never a finished
// file, retry queues failed rows again.

#include "download/row_actions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/list_actions.h"
#include "app/menus.h"
#include "app/tasks/task_progress.h"
#include "app/tasks/task_record.h"
#include "app/text_helpers.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "download/task_download.h"
#include "net/json_document.h"
#include "site/link_jobs.h"
#include "support/fake_site_test.h"
#include "support/sandbox.h"
#include "transfer/target_lock.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;
using fakesite::MediaKind;

constexpr int kWaitMs = 60000;
constexpr std::string_view kThreePages = "BV1Mp411T7bb";
constexpr std::string_view kOnePage = "BV1Ks411D7aa";
constexpr std::int64_t kBigMedia = 600 * 1024;
constexpr std::int64_t kSlowBytesPerSecond = 150 * 1024;

// -1 while there is no part.
std::int64_t PartSize(const fs::path& part) {
  std::error_code error;
  const auto size = fs::file_size(part, error);
  return error ? -1 : static_cast<std::int64_t>(size);
}

class RowActionsTest : public test::FakeSiteTest {
 protected:
  RowActionsTest() { CreateMainWindowControls(m_controls); }

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(FakeSiteTest::SetUp());
    fs::create_directories(m_sandbox / "library");
    m_controls.SetText(kDownloadPathBox, (m_sandbox / "library").string());
    m_app = std::make_unique<AppState>(m_controls, AppPaths{m_sandbox / "program"});
    m_engine = std::make_unique<DownloadEngine>(*m_app);
    m_actions = std::make_unique<RowActions>(*m_app, *m_engine);
  }
  void TearDown() override {
    m_engine->StopAll();
    EXPECT_TRUE(m_engine->WaitIdle(kWaitMs));
    FakeSiteTest::TearDown();
  }

  void AddLink(std::string_view link) {
    LinkJobs jobs(*m_app);
    m_controls.SetText(kTaskLinkBox, std::string(link));
    jobs.OnAddLinkPressed();
    jobs.WaitAll();
  }
  [[nodiscard]] std::string State(int row) const { return m_app->Tasks().CellText(row, kColState); }
  [[nodiscard]] std::vector<std::string> States() const {
    std::vector<std::string> states;
    for (int row = 1; row <= m_app->Tasks().RowCount(); ++row) states.push_back(State(row));
    return states;
  }
  // Empties the queue: the rows of its records in order.
  [[nodiscard]] std::vector<int> TakeQueuedRows() {
    std::vector<int> rows;
    std::string text;
    while (m_app->TaskQueue().PopText(text)) {
      JsonDocument record;
      EXPECT_TRUE(record.Parse(text));
      rows.push_back(std::stoi(Unquote(record.GetValue(record::kRow))));
    }
    return rows;
  }
  // Hands the next queued task to the engine, as a download worker does.
  TaskDownloadEnd StartNext() { return DownloadOneTask(*m_app, *m_engine); }
  [[nodiscard]] bool WaitForState(int row, std::string_view state) {
    return test::WaitFor([&] { return State(row) == state; }, kWaitMs);
  }
  // The received cell passes megabytes (the part is written in large
  // blocks, so its size on disk lags behind).
  [[nodiscard]] bool WaitForBytes(int row, double megabytes) {
    return test::WaitFor(
        [&] {
          const auto received = CellMegabytes(m_app->Tasks().CellText(row, kColReceived));
          return received && *received > megabytes;
        },
        kWaitMs);
  }
  [[nodiscard]] fs::path MediaPath(int row) const { return RowMediaPath(m_app->Tasks(), row); }

  test::Sandbox m_sandbox;
  ControlStore m_controls;
  std::unique_ptr<AppState> m_app;
  std::unique_ptr<DownloadEngine> m_engine;
  std::unique_ptr<RowActions> m_actions;
};

// Waiting rows: the actions change the states and the queue, nothing else.
TEST_F(RowActionsTest, WaitingRowsLeaveAndRejoinTheQueue) {
  struct Step {
    std::string_view item;
    std::vector<int> rows;
    int changed;
  };
  struct Case {
    std::string_view name;
    std::vector<Step> steps;
    std::vector<std::string> states;
    std::vector<int> queue;
  };
  const std::string waiting(kStateWaiting);
  const std::string paused(kStatePaused);
  const std::vector<Case> cases = {
      {.name = "pause takes a row off the queue",
       .steps = {{kPauseItem, {2}, 1}, {kPauseItem, {2}, 0}},
       .states = {waiting, paused, waiting},
       .queue = {1, 3}},
      {.name = "continue puts rows first, the first selected first",
       .steps = {{kPauseItem, {2, 3}, 2}, {kContinueItem, {1, 2, 3}, 2}},
       .states = {waiting, waiting, waiting},
       .queue = {2, 3, 1}},
      {.name = "space pauses, and continues when all are paused",
       .steps = {{kTogglePauseItem, {1}, 1},
                 {kTogglePauseItem, {1, 3}, 1},
                 {kTogglePauseItem, {1, 3}, 2}},
       .states = {waiting, waiting, waiting},
       .queue = {1, 3, 2}},
      {.name = "cancel removes the row, the others keep their numbers",
       .steps = {{kCancelItem, {2}, 1}, {kCancelItem, {2}, 0}},
       .states = {waiting, "", waiting},
       .queue = {1, 3}},
      {.name = "retry takes paused rows to the end, not waiting ones",
       .steps = {{kRetryItem, {1}, 0}, {kPauseItem, {1}, 1}, {kRetryItem, {1}, 1}},
       .states = {waiting, waiting, waiting},
       .queue = {2, 3, 1}},
      {.name = "rows that do not exist are skipped",
       .steps = {{kPauseItem, {0, 4, 99}, 0}, {kCancelItem, {-1, 4}, 0}},
       .states = {waiting, waiting, waiting},
       .queue = {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_app->Tasks().Clear();
    (void)TakeQueuedRows();
    AddLink(kThreePages);
    ASSERT_EQ(m_app->Tasks().RowCount(), 3);
    for (const Step& step : c.steps) {
      EXPECT_EQ(m_actions->Handle(step.item, step.rows), step.changed) << step.item;
    }
    EXPECT_EQ(States(), c.states);
    EXPECT_EQ(TakeQueuedRows(), c.queue);
  }
  EXPECT_EQ(m_actions->Handle("打开路径", std::vector<int>{1}), std::nullopt);
}

// A worker that took the record just before the pause leaves the row paused.
TEST_F(RowActionsTest, AWorkerHoldingAPausedRowsRecordLeavesIt) {
  AddLink(kOnePage);
  const std::string record = m_app->Tasks().QueuedRecord(1);
  EXPECT_EQ(m_actions->Pause(std::vector<int>{1}), 1);
  ASSERT_TRUE(m_app->TaskQueue().PushText(record));
  EXPECT_EQ(StartNext(), TaskDownloadEnd::kSetAside);
  EXPECT_EQ(State(1), kStatePaused);
  EXPECT_EQ(m_engine->ActiveCount(), 0);
}

// A running download paused keeps its part; continued, it asks for the rest
// only and ends with the whole file.
TEST_F(RowActionsTest, PausedDownloadResumesFromItsPart) {
  m_site.SetProgressiveMediaSize(kBigMedia);
  m_site.SetFault("/media/", fakesite::Fault::Throttle(kSlowBytesPerSecond));
  AddLink(kOnePage);
  ASSERT_EQ(StartNext(), TaskDownloadEnd::kStarted);
  const fs::path media = MediaPath(1);
  const fs::path part = PartPathOf(media.string());
  ASSERT_TRUE(WaitForBytes(1, 0.1));
  EXPECT_EQ(m_actions->Pause(std::vector<int>{1}), 1);
  EXPECT_EQ(State(1), kStatePaused);
  EXPECT_FALSE(m_app->Downloads().Contains(1));
  const std::int64_t kept = PartSize(part);
  EXPECT_GT(kept, 0);
  EXPECT_FALSE(fs::exists(media));
  EXPECT_EQ(m_actions->Pause(std::vector<int>{1}), 0);

  m_site.ClearFaults();
  m_site.ClearRequests();
  EXPECT_EQ(m_actions->Continue(std::vector<int>{1}), 1);
  EXPECT_EQ(State(1), kStateWaiting);
  ASSERT_EQ(StartNext(), TaskDownloadEnd::kStarted);
  ASSERT_TRUE(WaitForState(1, kStateDone)) << State(1);
  EXPECT_EQ(test::ReadWholeFile(media), m_site.MediaBytes(MediaKind::Progressive));
  bool resumed = false;
  for (const auto& request : m_site.Requests()) {
    resumed = resumed || request.Header("Range").starts_with("bytes=" + std::to_string(kept));
  }
  EXPECT_TRUE(resumed) << kept;
}

// Cancel stops a download and removes its part; a finished row goes from the
// list while its file stays.
TEST_F(RowActionsTest, CancelRemovesRowsAndPartsButNeverAFinishedFile) {
  AddLink(kThreePages);
  ASSERT_EQ(StartNext(), TaskDownloadEnd::kStarted);
  ASSERT_TRUE(WaitForState(1, kStateDone)) << State(1);
  const fs::path finished = MediaPath(1);
  m_site.SetProgressiveMediaSize(kBigMedia);
  m_site.SetFault("/media/", fakesite::Fault::Throttle(kSlowBytesPerSecond));
  ASSERT_EQ(StartNext(), TaskDownloadEnd::kStarted);
  const fs::path part = PartPathOf(MediaPath(2).string());
  ASSERT_TRUE(WaitForBytes(2, 0.05));

  EXPECT_EQ(m_actions->Cancel(std::vector<int>{1, 2}), 2);
  EXPECT_TRUE(m_app->Tasks().IsRemovedRow(1));
  EXPECT_TRUE(m_app->Tasks().IsRemovedRow(2));
  EXPECT_TRUE(fs::is_regular_file(finished));
  EXPECT_FALSE(fs::exists(part));
  EXPECT_FALSE(fs::exists(MediaPath(2)));
  EXPECT_EQ(TakeQueuedRows(), std::vector<int>{3});
}

// Failed rows go back to the queue by "重试全部失败" and complete.
TEST_F(RowActionsTest, RetryAllFailedQueuesEveryFailedRowAgain) {
  RetryPolicy once;
  once.retries = 0;
  m_engine->SetRetryPolicy(once);
  m_site.SetFault("/media/", fakesite::Fault::Status(404));
  AddLink(kThreePages);
  for (int row = 1; row <= 3; ++row) {
    (void)StartNext();
    ASSERT_TRUE(test::WaitFor([&] { return IsFailedState(State(row)); }, kWaitMs)) << State(row);
  }
  ASSERT_TRUE(m_engine->WaitIdle(kWaitMs));
  m_site.ClearFaults();
  EXPECT_EQ(m_actions->Handle(kRetryFailedItem, {}), 3);
  EXPECT_EQ(States(), std::vector<std::string>(3, std::string(kStateWaiting)));
  for (int row = 1; row <= 3; ++row) {
    ASSERT_EQ(StartNext(), TaskDownloadEnd::kStarted);
    ASSERT_TRUE(WaitForState(row, kStateDone)) << State(row);
  }
  EXPECT_EQ(m_actions->RetryAllFailed(), 0);
}

}  // namespace
}  // namespace korvid
