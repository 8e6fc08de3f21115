#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "app/app_state.h"
#include "download/download_engine.h"

namespace korvid {

// What the list menu and its keys do to the selected task rows (1-based).
// Each action skips rows it does not apply to and returns how many rows it
// changed. They take the list lock and wait for stopped downloads to end, so
// they run on a worker (the window's action thread), never the window thread.
class RowActions {
 public:
  // How long a stopped download may take to end before the row is left as it is.
  static constexpr int kDefaultStopWaitMs = 15000;

  RowActions(AppState& state, DownloadEngine& engine) : m_state(state), m_engine(engine) {}

  // "暂停": a running download stops with its part kept, a waiting row leaves
  // the queue; both read "已暂停" and stay so, also across a restart.
  int Pause(std::span<const int> rows);
  // "继续": paused rows go to the head of the queue, the first selected first;
  // the download goes on from the part.
  int Continue(std::span<const int> rows);
  // "取消": the download stops and its part goes, the row goes from the list and
  // from the kept tasks. A finished file is never touched.
  int Cancel(std::span<const int> rows);
  // "重试": failed or paused rows go to the end of the queue.
  int Retry(std::span<const int> rows);
  // "重试全部失败": every failed row of the list.
  int RetryAllFailed();
  // The space key: pauses the rows when any of them can be paused, else
  // continues them.
  int TogglePause(std::span<const int> rows);

  // Runs the menu item's action; nullopt when the item is no row action.
  std::optional<int> Handle(std::string_view item, std::span<const int> rows);

  void SetStopWait(int ms) { m_stopWaitMs = ms; }

 private:
  bool PauseRow(int row);
  bool CancelRow(int row);
  // Stops the row's download and waits until the engine lets go of the row.
  void StopAndWait(int row, bool keepPart);
  // The row's part file, when nothing else may still write it. List lock held.
  void RemovePartOf(int row);

  AppState& m_state;
  DownloadEngine& m_engine;
  int m_stopWaitMs = kDefaultStopWaitMs;
};

// True when the row is paused, or waits or runs and so could be.
[[nodiscard]] bool CanPause(std::string_view state);

}  // namespace korvid
