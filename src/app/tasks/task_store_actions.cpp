#include "app/tasks/task_store_actions.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <utility>

#include "app/tasks/task_record.h"
#include "app/tasks/task_store.h"
#include "transfer/target_lock.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;

constexpr std::array<std::pair<std::string_view, StoredTaskAction>, 4> kActionNames{{
    {"pause", StoredTaskAction::kPause},
    {"resume", StoredTaskAction::kResume},
    {"cancel", StoredTaskAction::kCancel},
    {"retry", StoredTaskAction::kRetry},
}};

// The bits of a changed state: the cells, the colours and the queue number
// live in one table row.
constexpr std::uint32_t kStateChangeBits = (1U << kColState) | kStoreColorsBit;

bool HasRecord(const StoredTaskRow& row) {
  return !row.queued.empty() || !row.text[kColRecord].empty();
}

void Wait(StoredTaskRow& row, std::int64_t seq) {
  row.text[kColState] = kStateWaiting;
  row.color.fill(kColorDefault);
  row.seq = seq;
}

// The part file and its lock file go; a target being written elsewhere, or
// the finished file, is never touched.
void RemovePart(const std::string& target) {
  if (target.empty()) return;
  TargetLock lock;
  if (lock.TryAcquire(target) != TargetLock::Result::kHeld) return;
  std::error_code ec;
  fs::remove(PartPathOf(target), ec);
  lock.ReleaseAndRemove();
}

std::optional<std::string> Refuse(std::string_view why, const StoredTaskRow& row) {
  const std::string& state = row.text[kColState];
  return std::string(why) + (state.empty() ? "" : "（" + state + "）");
}

}  // namespace

std::optional<StoredTaskAction> StoredTaskActionNamed(std::string_view name) {
  for (const auto& [text, action] : kActionNames) {
    if (text == name) return action;
  }
  return std::nullopt;
}

std::optional<std::string> ApplyToStoredRow(StoredTaskAction action, StoredTaskRow& row,
                                            std::int64_t firstSeq, std::int64_t lastSeq) {
  const std::string& state = row.text[kColState];
  const bool paused = state == kStatePaused;
  switch (action) {
    case StoredTaskAction::kPause:
      if (paused) return Refuse("已经暂停", row);
      if (!HasRecord(row) || IsFinalState(state)) return Refuse("不在等待或下载中", row);
      row.text[kColState] = kStatePaused;
      row.color.fill(kColorDefault);
      return std::nullopt;
    case StoredTaskAction::kResume:
      if (!paused) return Refuse("没有暂停", row);
      Wait(row, firstSeq - 1);
      return std::nullopt;
    case StoredTaskAction::kRetry:
      if (!HasRecord(row)) return Refuse("没有可下载的记录", row);
      if (!paused && (!IsFinalState(state) || IsSuccessState(state))) {
        return Refuse("没有失败", row);
      }
      Wait(row, lastSeq + 1);
      return std::nullopt;
    case StoredTaskAction::kCancel:
      return std::nullopt;
  }
  return std::nullopt;
}

std::string StoredMediaPath(const StoredTaskRow& row) {
  for (const std::string* text : {&row.text[kColRecord], &row.queued}) {
    const auto record = nlohmann::json::parse(*text, nullptr, false);
    if (!record.is_object()) continue;
    const auto path = record.find(record::kMediaPath);
    if (path != record.end() && path->is_string()) return path->get<std::string>();
  }
  return {};
}

StoredActionOutcome ApplyStoredAction(const std::string& databasePath, StoredTaskAction action,
                                      const std::vector<int>& rows) {
  StoredActionOutcome outcome;
  const TaskStoreLock lock(databasePath);
  if (!lock.Held()) {
    outcome.end = StoredActionOutcome::End::kHeld;
    outcome.holderPid = lock.HolderPid();
    return outcome;
  }
  std::error_code ec;
  if (!fs::exists(databasePath, ec)) {
    outcome.end = StoredActionOutcome::End::kUnusable;
    outcome.why = "no kept task list";
    return outcome;
  }
  TaskStore::Opened opened = TaskStore::Open(databasePath);
  std::optional<std::vector<StoredTaskRow>> stored;
  if (opened.store) stored = opened.store->LoadRows(&outcome.why);
  if (!stored || !opened.notice.empty()) {
    outcome.end = StoredActionOutcome::End::kUnusable;
    if (!opened.notice.empty()) outcome.why = opened.notice;
    return outcome;
  }
  std::map<int, StoredTaskRow*> byRow;
  std::int64_t firstSeq = 0;
  std::int64_t lastSeq = 0;
  for (StoredTaskRow& row : *stored) {
    byRow[row.row] = &row;
    firstSeq = std::min(firstSeq, row.seq);
    lastSeq = std::max(lastSeq, row.seq);
  }
  TaskStoreChanges batch;
  std::vector<std::string> parts;
  std::vector<int> seen;
  // Each resumed row goes before every other, so the last named goes first
  // and the first named ends at the head, as the window's 继续 does.
  const bool backwards = action == StoredTaskAction::kResume;
  std::vector<int> order(rows);
  if (backwards) std::reverse(order.begin(), order.end());
  for (int index : order) {
    if (std::find(seen.begin(), seen.end(), index) != seen.end()) continue;
    seen.push_back(index);
    const auto it = byRow.find(index);
    if (it == byRow.end()) {
      outcome.refusals.push_back(std::to_string(index) + ": 没有这个任务");
      continue;
    }
    StoredTaskRow& row = *it->second;
    if (const auto why = ApplyToStoredRow(action, row, firstSeq, lastSeq)) {
      outcome.refusals.push_back(std::to_string(index) + ": " + *why);
      continue;
    }
    if (action == StoredTaskAction::kCancel) {
      batch.removed.push_back(index);
      parts.push_back(StoredMediaPath(row));
    } else {
      batch.rows.push_back({kStateChangeBits, row});
      firstSeq = std::min(firstSeq, row.seq);
      lastSeq = std::max(lastSeq, row.seq);
    }
    outcome.changed.push_back(index);
  }
  if (backwards) {
    std::reverse(outcome.changed.begin(), outcome.changed.end());
    std::reverse(outcome.refusals.begin(), outcome.refusals.end());
  }
  if (!opened.store->Write(batch)) {
    outcome.end = StoredActionOutcome::End::kUnusable;
    outcome.why = "the task list could not be written";
    outcome.changed.clear();
    return outcome;
  }
  // Only once the rows are gone: a part whose row stayed is never lost.
  for (const std::string& target : parts) RemovePart(target);
  return outcome;
}

}  // namespace korvid
