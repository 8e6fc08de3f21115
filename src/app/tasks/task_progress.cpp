#include "app/tasks/task_progress.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "app/tasks/task_states.h"

namespace korvid {

namespace {

constexpr double kKibPerMegabyte = 1024.0;
constexpr std::int64_t kMinute = 60;
constexpr std::int64_t kHour = 3600;

std::optional<double> NumberBefore(std::string_view text, std::string_view unit) {
  if (!text.ends_with(unit)) return std::nullopt;
  std::string_view number = text.substr(0, text.size() - unit.size());
  while (number.ends_with(' ')) number.remove_suffix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size() || number.empty()) {
    return std::nullopt;
  }
  return value;
}

std::string TwoDigits(std::int64_t value) {
  return (value < 10 ? "0" : "") + std::to_string(value);
}

}  // namespace

std::optional<double> CellMegabytes(std::string_view text) {
  return NumberBefore(text, "MB");
}

std::optional<double> CellKibPerSecond(std::string_view text) {
  if (const auto kib = NumberBefore(text, "KB/S")) return kib;
  if (const auto mib = NumberBefore(text, "MB/S")) return *mib * kKibPerMegabyte;
  return std::nullopt;
}

std::optional<int> ProgressPercent(std::string_view sizeText, std::string_view receivedText) {
  const auto size = CellMegabytes(sizeText);
  const auto received = CellMegabytes(receivedText);
  if (!size || !received || *size <= 0) return std::nullopt;
  const double share = std::clamp(*received / *size, 0.0, 1.0);
  return static_cast<int>(std::floor(share * 100.0));
}

std::optional<std::int64_t> SecondsLeft(std::string_view sizeText, std::string_view receivedText,
                                        std::string_view speedText) {
  const auto size = CellMegabytes(sizeText);
  const auto received = CellMegabytes(receivedText);
  const auto speed = CellKibPerSecond(speedText);
  if (!size || !received || !speed || *speed <= 0 || *size <= 0) return std::nullopt;
  const double leftKib = std::max(0.0, *size - *received) * kKibPerMegabyte;
  return static_cast<std::int64_t>(std::ceil(leftKib / *speed));
}

std::string TimeLeftText(std::int64_t seconds) {
  seconds = std::max<std::int64_t>(seconds, 0);
  if (seconds < kMinute) return std::to_string(seconds) + "秒";
  if (seconds < kHour) {
    return std::to_string(seconds / kMinute) + "分" + TwoDigits(seconds % kMinute) + "秒";
  }
  return std::to_string(seconds / kHour) + "小时" + TwoDigits(seconds % kHour / kMinute) + "分";
}

std::string FinishedSummaryText(int succeeded, int failed) {
  return "下载完成：" + std::to_string(succeeded) + " 个成功，" + std::to_string(failed) +
         " 个失败";
}

std::optional<std::string> FinishedBatch::Look(const TaskList& tasks) {
  const int count = tasks.RowCount();
  bool running = false;
  for (int row = 1; row <= count; ++row) {
    if (tasks.IsRemovedRow(row) || IsFinalState(tasks.CellText(row, kColState))) continue;
    m_rows.insert(row);
    running = true;
  }
  if (running || m_rows.empty()) return std::nullopt;
  int succeeded = 0;
  int failed = 0;
  for (const int row : m_rows) {
    const std::string state = tasks.CellText(row, kColState);
    succeeded += IsSuccessState(state) ? 1 : 0;
    failed += IsFailedState(state) ? 1 : 0;
  }
  m_rows.clear();
  if (succeeded + failed == 0) return std::nullopt;
  return FinishedSummaryText(succeeded, failed);
}

}  // namespace korvid
