#include "download/scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

// A download worker that pops its record and reports the start at once, as
// the download engine does once its transfer begins.
class SchedulerTest : public ::testing::Test {
 protected:
  SchedulerTest() : m_state(m_controls, AppPaths{m_sandbox.Path()}) {
    CreateMainWindowControls(m_controls);
  }

  SchedulerJobs Jobs() {
    SchedulerJobs jobs;
    jobs.downloadWorker = [this] {
      std::string record;
      if (m_state.TaskQueue().PopText(record)) ++m_state.RunningCount();
      ++m_downloadWorkers;
    };
    jobs.detailsLoader = [this] { ++m_detailLoads; };
    return jobs;
  }

  void QueueRecords(int count) {
    for (int i = 1; i <= count; ++i) {
      ASSERT_TRUE(m_state.TaskQueue().PushText("{\"任务id\":\"" + std::to_string(i) + "\"}"));
    }
  }

  // One tick, then wait for what it started, so the next tick sees its effect.
  void TickAndSettle(Scheduler& scheduler) {
    scheduler.Tick();
    scheduler.WaitForWorkers();
  }

  test::Sandbox m_sandbox;
  ControlStore m_controls;
  AppState m_state;
  std::atomic<int> m_downloadWorkers{0};
  std::atomic<int> m_detailLoads{0};
};

TEST_F(SchedulerTest, StartsOneWorkerPerTickUpToTheMaximum) {
  Scheduler scheduler(m_state, Jobs());
  m_controls.SetText(kMaxDownloadsBox, "2");
  QueueRecords(5);

  TickAndSettle(scheduler);
  EXPECT_EQ(m_downloadWorkers, 1);
  TickAndSettle(scheduler);
  TickAndSettle(scheduler);
  TickAndSettle(scheduler);
  EXPECT_EQ(m_downloadWorkers, 2);
  EXPECT_EQ(m_state.TaskQueue().Count(), 3);
  EXPECT_EQ(m_controls.Caption(), "Korvid - 正在下载:2  剩余任务:3");

  m_state.RunningCount() = 1;  // one download ended: the next tick fills the slot
  TickAndSettle(scheduler);
  TickAndSettle(scheduler);
  EXPECT_EQ(m_downloadWorkers, 3);
  EXPECT_EQ(m_controls.Caption(), "Korvid - 正在下载:2  剩余任务:2");
}

// The test drives the clock: a step is one tick, or one download ending (its
// slot freed, no tick). After each step the workers it started have run.
TEST_F(SchedulerTest, CommandLineFillsEverySlotAtOnceWhileTheWindowStartsOnePerTick) {
  enum class Step { kTick, kOneEnds };
  struct Case {
    std::string name;
    bool fillEverySlot;
    std::vector<std::pair<Step, int>> steps;  // with the workers started after it
  };
  const std::vector<Case> cases = {
      {.name = "command line",
       .fillEverySlot = true,
       .steps = {{Step::kTick, 4},
                 {Step::kTick, 4},
                 {Step::kOneEnds, 5},
                 {Step::kOneEnds, 5},  // nothing waits any more
                 {Step::kTick, 5}}},
      {.name = "window",
       .fillEverySlot = false,
       .steps = {{Step::kTick, 1},
                 {Step::kOneEnds, 1},
                 {Step::kTick, 2},
                 {Step::kTick, 3},
                 {Step::kTick, 4},
                 {Step::kTick, 5}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_downloadWorkers = 0;
    m_state.RunningCount() = 0;
    Scheduler scheduler(m_state, Jobs());
    if (c.fillEverySlot) scheduler.FillEverySlot({});
    m_controls.SetText(kMaxDownloadsBox, "4");
    QueueRecords(5);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const auto [step, started] = c.steps[i];
      if (step == Step::kTick) {
        scheduler.Tick();
      } else {
        --m_state.RunningCount();
        scheduler.SlotFreed();
      }
      scheduler.WaitForWorkers();
      EXPECT_EQ(m_downloadWorkers, started) << "after step " << i;
      EXPECT_LE(m_state.RunningCount(), 4) << "after step " << i;
    }
    EXPECT_EQ(m_state.TaskQueue().Count(), 0);
  }
}

// Slots are whatever the caller counts as held (a download handed over and
// waiting to retry holds one), and a worker that ends without a download
// frees its slot at once.
TEST_F(SchedulerTest, FillingCountsTheHeldDownloadsAndRefillsAfterAWorkerWithoutOne) {
  std::atomic<int> held{1};
  std::atomic<int> calls{0};
  SchedulerJobs jobs;
  jobs.downloadWorker = [&] {
    std::string record;
    if (!m_state.TaskQueue().PopText(record)) return;
    // The first record is refused at once; the others hand a download over.
    if (++calls > 1) ++held;
  };
  Scheduler scheduler(m_state, jobs);
  scheduler.FillEverySlot([&] { return held.load(); });
  m_controls.SetText(kMaxDownloadsBox, "3");
  QueueRecords(4);
  scheduler.Tick();
  scheduler.WaitForWorkers();
  EXPECT_EQ(calls, 3);  // two slots, and the refused one's slot again
  EXPECT_EQ(held, 3);
  EXPECT_EQ(m_state.TaskQueue().Count(), 1);

  scheduler.StopClock();  // the run is ending: a freed slot stays free
  --held;
  scheduler.SlotFreed();
  scheduler.WaitForWorkers();
  EXPECT_EQ(calls, 3);
}

// Preparing ahead, a worker needs a slot only to hand its download over: the
// test lets the preparations finish one by one and ends downloads; after each
// step the workers settle into the counts of the case.
TEST_F(SchedulerTest, CommandLinePreparesTheNextTasksWhileEverySlotTransfers) {
  struct Counts {
    int preparing = 0;
    int waiting = 0;  // prepared, waiting for a slot
    int held = 0;     // downloads handed over
    int putBack = 0;  // told that no slot will come
    bool operator==(const Counts&) const = default;
  };
  enum class Act { kTick, kPrepare, kEndDownload, kStopClock };
  struct Step {
    const char* name;
    Act act;
    int prepared = 1;  // preparations let finish
    Counts want;
  };
  const Step steps[] = {
      {.name = "the first tick fills the four slots and prepares four ahead",
       .act = Act::kTick,
       .want = {.preparing = 8}},
      {.name = "four prepared tasks take the four slots",
       .act = Act::kPrepare,
       .prepared = 4,
       .want = {.preparing = 4, .held = 4}},
      {.name = "a fifth prepared waits while four transfer",
       .act = Act::kPrepare,
       .want = {.preparing = 3, .waiting = 1, .held = 4}},
      {.name = "a download ends: the fifth hands over at once",
       .act = Act::kEndDownload,
       .want = {.preparing = 3, .held = 4}},
      {.name = "a sixth waits",
       .act = Act::kPrepare,
       .want = {.preparing = 2, .waiting = 1, .held = 4}},
      {.name = "the run ends: the waiting one does not start",
       .act = Act::kStopClock,
       .want = {.preparing = 2, .held = 4, .putBack = 1}},
      {.name = "nor do those prepared later",
       .act = Act::kPrepare,
       .prepared = 2,
       .want = {.held = 4, .putBack = 3}},
  };
  constexpr auto kBound = std::chrono::seconds(30);
  std::mutex mutex;
  std::condition_variable changed;
  Counts now;
  int released = 0;
  int workers = 0;
  std::atomic<int> held{0};
  Scheduler* scheduler = nullptr;
  SchedulerJobs jobs;
  jobs.downloadWorker = [&] {
    std::string record;
    if (!m_state.TaskQueue().PopText(record)) return;
    std::unique_lock lock(mutex);
    ++workers;
    ++now.preparing;
    if (!changed.wait_for(lock, kBound, [&] { return released > 0; })) return;
    --released;
    --now.preparing;
    ++now.waiting;
    lock.unlock();
    const bool slot = scheduler->WaitForSlot();
    if (slot) ++held;
    lock.lock();
    --now.waiting;
    ++(slot ? now.held : now.putBack);
  };
  Scheduler owner(m_state, jobs);
  scheduler = &owner;
  owner.FillEverySlot([&] { return held.load(); });
  owner.PrepareAhead();
  m_controls.SetText(kMaxDownloadsBox, "4");
  QueueRecords(10);
  const auto counts = [&] {
    const std::lock_guard lock(mutex);
    return now;
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    switch (step.act) {
      case Act::kTick:
        owner.Tick();
        break;
      case Act::kPrepare: {
        const std::lock_guard lock(mutex);
        released += step.prepared;
        changed.notify_all();
        break;
      }
      case Act::kEndDownload:
        --held;
        {
          const std::lock_guard lock(mutex);
          --now.held;
        }
        owner.SlotFreed();
        break;
      case Act::kStopClock:
        owner.StopClock();
        break;
    }
    EXPECT_TRUE(test::WaitFor([&] { return counts() == step.want; }, 30000));
    const Counts got = counts();
    EXPECT_EQ(got.preparing, step.want.preparing);
    EXPECT_EQ(got.waiting, step.want.waiting);
    EXPECT_EQ(got.held, step.want.held);
    EXPECT_EQ(got.putBack, step.want.putBack);
  }
  owner.StopClock();
  owner.WaitForWorkers();
  EXPECT_EQ(workers, 8);
  EXPECT_EQ(m_state.TaskQueue().Count(), 2);
}

TEST_F(SchedulerTest, MaximumThatIsNoNumberStartsNothing) {
  const std::vector<std::pair<std::string, int>> texts = {
      {"abc", 0}, {"", 0}, {"0", 0}, {"-3", 0}, {" 4", 4}, {"3个", 3}, {"99999999999", INT_MAX}};
  for (const auto& [text, maximum] : texts) EXPECT_EQ(ParseMaxDownloads(text), maximum) << text;

  Scheduler scheduler(m_state, Jobs());
  m_controls.SetText(kMaxDownloadsBox, "abc");
  QueueRecords(2);
  TickAndSettle(scheduler);
  TickAndSettle(scheduler);
  EXPECT_EQ(m_downloadWorkers, 0);
  EXPECT_EQ(m_state.TaskQueue().Count(), 2);
}

TEST_F(SchedulerTest, CaptionShowsCountsOnlyWhileDownloadsRun) {
  Scheduler scheduler(m_state, SchedulerJobs{});
  struct Step {
    int running;
    std::string captionBefore;
    std::string captionAfter;
  };
  const std::vector<Step> steps = {
      {1, "Korvid", "Korvid - 正在下载:1  剩余任务:0"},
      {0, "Korvid - 正在下载:1  剩余任务:0", "Korvid"},
      // Both downloads ended within one second: the stale counts go too.
      {0, "Korvid - 正在下载:2  剩余任务:0", "Korvid"},
      {0, "Korvid - 正在下载:1  剩余任务:4", "Korvid"},
      // A caption someone else wrote is left alone.
      {0, "Korvid - 登录成功", "Korvid - 登录成功"},
  };
  for (const Step& step : steps) {
    m_state.RunningCount() = step.running;
    m_controls.SetCaption(step.captionBefore);
    scheduler.Tick();
    EXPECT_EQ(m_controls.Caption(), step.captionAfter) << step.captionBefore;
  }
}

TEST_F(SchedulerTest, CountsShowTheTotalSpeedWhileItMoves) {
  const std::pair<float, std::string> cases[] = {
      {0.0F, "正在下载:2  剩余任务:3"},
      {15.0F, "正在下载:2  剩余任务:3  总速度:15.0 KB/S"},
      {3072.0F, "正在下载:2  剩余任务:3  总速度:3.0 MB/S"},
  };
  for (const auto& [speed, text] : cases) EXPECT_EQ(DownloadCountsText(2, 3, speed), text);
}

// Workers that find the site unreachable put their record back. After three
// in a row nothing starts but one try every 30 s of the reachability clock;
// the first one that reaches the site lets the queue go on.
TEST_F(SchedulerTest, AnUnreachableSiteHoldsNewStartsUntilATryGetsThrough) {
  std::int64_t now = 0;
  m_state.Reachability().SetClock([&now] { return now; });
  std::atomic<bool> siteUp{false};
  SchedulerJobs jobs;
  jobs.downloadWorker = [this, &siteUp] {
    std::string record;
    if (!m_state.TaskQueue().PopText(record)) return;
    ++m_downloadWorkers;
    if (siteUp) {
      m_state.Reachability().NoteReached();
      return;
    }
    m_state.Reachability().NoteUnreachable();
    ASSERT_TRUE(m_state.TaskQueue().PushText(record));
  };
  Scheduler scheduler(m_state, jobs);
  m_controls.SetText(kMaxDownloadsBox, "3");
  QueueRecords(5);
  const std::string held = "Korvid - " + std::string(kUnreachableCaption);

  struct Step {
    const char* name;
    std::int64_t atMs;
    bool up;
    int ticks;
    int workersAfter;
    bool paused;
  };
  const Step steps[] = {
      // The caption follows at the tick after the third failure.
      {.name = "three fail in a row",
       .atMs = 0,
       .up = false,
       .ticks = 4,
       .workersAfter = 3,
       .paused = true},
      {.name = "then nothing starts",
       .atMs = 29'999,
       .up = false,
       .ticks = 5,
       .workersAfter = 3,
       .paused = true},
      {.name = "one try after 30 s fails",
       .atMs = 30'000,
       .up = false,
       .ticks = 3,
       .workersAfter = 4,
       .paused = true},
      {.name = "the next try gets through",
       .atMs = 60'000,
       .up = true,
       .ticks = 2,
       .workersAfter = 6,
       .paused = false},
      {.name = "and the rest follow",
       .atMs = 60'000,
       .up = true,
       .ticks = 10,
       .workersAfter = 9,
       .paused = false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    now = step.atMs;
    siteUp = step.up;
    for (int i = 0; i < step.ticks; ++i) TickAndSettle(scheduler);
    EXPECT_EQ(m_downloadWorkers, step.workersAfter);
    EXPECT_EQ(m_state.Reachability().Paused(), step.paused);
    EXPECT_EQ(m_controls.Caption() == held, step.paused) << m_controls.Caption();
  }
  EXPECT_EQ(m_state.TaskQueue().Count(), 0);
  EXPECT_EQ(m_controls.Caption(), "Korvid");
}

TEST_F(SchedulerTest, ClipboardWatchFillsBothBoxesOncePerNewText) {
  Scheduler scheduler(m_state, Jobs());
  ScriptedShell& clipboard = m_controls.Scripted();
  const std::string page = "https://www.bilibili.com/video/BV1xx411c7mD?p=2";

  clipboard.SetClipboardText(page);
  TickAndSettle(scheduler);
  EXPECT_EQ(m_controls.Text(kDetailsLinkBox), "") << "watch is off";

  m_controls.SetChecked(kClipboardWatchBox, true);
  TickAndSettle(scheduler);
  EXPECT_EQ(m_controls.Text(kDetailsLinkBox), "BV1xx411c7mD");
  EXPECT_EQ(m_controls.Text(kTaskLinkBox), "BV1xx411c7mD");
  EXPECT_EQ(m_detailLoads, 1);
  EXPECT_FALSE(m_state.Busy().IsSet(BusyFlag::kDetails));

  // The same text again changes nothing.
  m_controls.SetText(kDetailsLinkBox, "");
  m_controls.SetText(kTaskLinkBox, "");
  TickAndSettle(scheduler);
  EXPECT_EQ(m_controls.Text(kDetailsLinkBox), "");
  EXPECT_EQ(m_detailLoads, 1);

  // A text without an identifier is only remembered.
  clipboard.SetClipboardText("BV12345 is too short");
  TickAndSettle(scheduler);
  EXPECT_EQ(m_state.LastClipboardText(), "BV12345 is too short");
  EXPECT_EQ(m_controls.Text(kTaskLinkBox), "");

  // While the details loader runs the boxes are filled, the loader not started.
  BusyGuard loading = m_state.Busy().TryAcquire(BusyFlag::kDetails);
  clipboard.SetClipboardText("BV1ZF411g7EZ");
  TickAndSettle(scheduler);
  EXPECT_EQ(m_controls.Text(kDetailsLinkBox), "BV1ZF411g7EZ");
  EXPECT_EQ(m_detailLoads, 1);
}

TEST_F(SchedulerTest, OwnClockDrainsTheQueue) {
  Scheduler scheduler(m_state, Jobs());
  m_controls.SetText(kMaxDownloadsBox, "3");
  QueueRecords(1);
  scheduler.StartClock();
  EXPECT_TRUE(test::WaitFor([&] { return m_state.TaskQueue().Count() == 0; }, 5000));
  scheduler.StopClock();
  scheduler.WaitForWorkers();
  EXPECT_EQ(m_downloadWorkers, 1);
}

}  // namespace
}  // namespace korvid
