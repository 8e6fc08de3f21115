#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/tasks/task_list.h"

namespace korvid {

// What the command line can do to kept rows while no window runs them.
enum class StoredTaskAction {
  kPause,   // a waiting row: "已暂停", not started until resumed
  kResume,  // a paused row: waiting again, at the head of the queue
  kCancel,  // any row: removed, with its part file (a finished file stays)
  kRetry,   // a failed or paused row: waiting again, at the end of the queue
};

[[nodiscard]] std::optional<StoredTaskAction> StoredTaskActionNamed(std::string_view name);

// Changes one row for action (kCancel changes nothing here: the row goes).
// firstSeq and lastSeq are the lowest and highest queue numbers of the list.
// Returns why the row was left as it is, or nullopt when it was changed.
[[nodiscard]] std::optional<std::string> ApplyToStoredRow(StoredTaskAction action,
                                                          StoredTaskRow& row, std::int64_t firstSeq,
                                                          std::int64_t lastSeq);

// The media path a row's record names ("视频路径"), empty when none.
[[nodiscard]] std::string StoredMediaPath(const StoredTaskRow& row);

struct StoredActionOutcome {
  enum class End {
    kDone,      // every named row was looked at; see refusals
    kHeld,      // another process holds the store (holderPid)
    kUnusable,  // the store could not be read or written (why)
  };
  End end = End::kDone;
  long holderPid = 0;
  std::string why;
  std::vector<int> changed;
  // "N: reason" for each named row that was left as it is.
  std::vector<std::string> refusals;
};

// Applies action to the rows of the task store at databasePath, holding its
// lock; nothing is written when another process holds it. The changes are
// one transaction.
[[nodiscard]] StoredActionOutcome ApplyStoredAction(const std::string& databasePath,
                                                    StoredTaskAction action,
                                                    const std::vector<int>& rows);

}  // namespace korvid
