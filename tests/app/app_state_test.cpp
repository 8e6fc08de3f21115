#include "app/app_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "controls/control_names.h"
#include "controls/control_store.h"

namespace korvid {
namespace {

int GuardedJob(BusyFlags& busy, bool failEarly) {
  BusyGuard guard = busy.TryAcquire(BusyFlag::kDetails);
  if (!guard) return -1;
  if (failEarly) return 1;
  throw std::runtime_error("worker failed");
}

TEST(BusyGuard, ClearsTheFlagOnEveryExitPath) {
  BusyFlags busy;
  EXPECT_EQ(GuardedJob(busy, true), 1);
  EXPECT_FALSE(busy.IsSet(BusyFlag::kDetails));
  EXPECT_THROW(GuardedJob(busy, false), std::runtime_error);
  EXPECT_FALSE(busy.IsSet(BusyFlag::kDetails));

  BusyGuard held = busy.TryAcquire(BusyFlag::kDetails);
  ASSERT_TRUE(held);
  EXPECT_EQ(GuardedJob(busy, true), -1);         // a second request is refused
  EXPECT_FALSE(busy.IsSet(BusyFlag::kQrLogin));  // flags are independent

  // Handed over to the worker thread, which clears it when it ends.
  std::thread worker([guard = std::move(held)] {});
  EXPECT_FALSE(held.Owns());
  worker.join();
  EXPECT_FALSE(busy.IsSet(BusyFlag::kDetails));
}

TEST(BusyGuard, ExactlyOneOfManyRacingStartersWins) {
  BusyFlags busy;
  for (int round = 0; round < 50; ++round) {
    std::atomic<int> winners{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> starters;
    std::vector<BusyGuard> kept(8);
    for (std::size_t i = 0; i < kept.size(); ++i) {
      starters.emplace_back([&, i] {
        while (!go.load()) std::this_thread::yield();
        kept[i] = busy.TryAcquire(BusyFlag::kLibraryScan);
        if (kept[i]) ++winners;
      });
    }
    go = true;
    for (auto& starter : starters) starter.join();
    EXPECT_EQ(winners.load(), 1);
    kept.clear();
    EXPECT_FALSE(busy.IsSet(BusyFlag::kLibraryScan));
  }
}

TEST(DownloadRegistry, RefusesASecondDownloadForARow) {
  DownloadRegistry registry;
  EXPECT_TRUE(registry.Register(3));
  EXPECT_FALSE(registry.Register(3));
  EXPECT_TRUE(registry.Register(4));
  EXPECT_EQ(registry.Count(), 2);
  registry.Unregister(3);
  EXPECT_FALSE(registry.Contains(3));
  EXPECT_TRUE(registry.Register(3));
  registry.Unregister(99);  // unknown rows are ignored
  EXPECT_EQ(registry.Count(), 2);
}

TEST(AppState, CreatedHeadlessWithAControlStore) {
  ControlStore controls;
  controls.Add(kMaxDownloadsBox, ControlKind::EditBox);
  AppState state(controls, AppPaths{"/tmp/korvid-unused"});
  state.Ui().SetText(kMaxDownloadsBox, "2");
  EXPECT_EQ(controls.Text(kMaxDownloadsBox), "2");
  EXPECT_EQ(state.Paths().DownloadFolder(), std::filesystem::path("/tmp/korvid-unused/下载"));
  EXPECT_EQ(state.RunningCount().load(), 0);
  EXPECT_EQ(state.TaskQueue().Count(), 0);

  {
    std::lock_guard listLock(state.ListLock());
    const int row = state.Tasks().AppendRow();
    ASSERT_TRUE(state.TaskQueue().PushText("{\"任务id\":\"" + std::to_string(row) + "\"}"));
  }
  EXPECT_EQ(state.Tasks().RowCount(), 1);
  EXPECT_EQ(state.TaskQueue().Count(), 1);

  EXPECT_EQ(state.LastClipboardText(), "");
  state.SetLastClipboardText("BV1xx411c7mD");
  EXPECT_EQ(state.LastClipboardText(), "BV1xx411c7mD");
}

}  // namespace
}  // namespace korvid
