#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "app/tasks/task_list.h"

namespace korvid {

// Megabytes of a size cell ("20.00MB"); nullopt for any other text.
[[nodiscard]] std::optional<double> CellMegabytes(std::string_view text);
// Kibibytes per second of a speed cell ("1.5 MB/S", "120.0 KB/S").
[[nodiscard]] std::optional<double> CellKibPerSecond(std::string_view text);
// 0..100 from the size and received cells; nullopt while the size is unknown.
[[nodiscard]] std::optional<int> ProgressPercent(std::string_view sizeText,
                                                 std::string_view receivedText);
// Seconds until the rest arrives at the speed shown; nullopt when unknown or
// standing still.
[[nodiscard]] std::optional<std::int64_t> SecondsLeft(std::string_view sizeText,
                                                      std::string_view receivedText,
                                                      std::string_view speedText);
// "45秒", "2分05秒", "1小时02分".
[[nodiscard]] std::string TimeLeftText(std::int64_t seconds);

// "下载完成：N 个成功，M 个失败".
[[nodiscard]] std::string FinishedSummaryText(int succeeded, int failed);

// Sees the queue run dry: remembers every row that waits or runs, and once
// all of them have ended tells how they ended, once per batch. Rows paused or
// removed meanwhile count as neither.
class FinishedBatch {
 public:
  // List lock held by the caller. The summary when the batch just ended.
  [[nodiscard]] std::optional<std::string> Look(const TaskList& tasks);

 private:
  std::set<int> m_rows;
};

}  // namespace korvid
