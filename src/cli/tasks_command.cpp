// tasks: the rows kept in 配置/任务.db, also while another process runs them.

#include <algorithm>
#include <charconv>
#include <iostream>
#include <nlohmann/json.hpp>

#include "app/tasks/task_record.h"
#include "app/tasks/task_store.h"
#include "app/tasks/task_store_actions.h"
#include "app/tasks/task_store_writer.h"
#include "cli/cli_command.h"

namespace korvid::cli {
namespace {

struct TaskLine {
  int index = 0;
  std::string bvid;
  std::string page;
  std::string state;
};

std::string StringAt(const nlohmann::json& object, std::string_view key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// `restartView`: no process runs the rows, so a row that was cut off shows
// what the next start makes of it.
TaskLine LineOf(const StoredTaskRow& row, bool restartView) {
  const std::string& text = row.queued.empty() ? row.text[kColRecord] : row.queued;
  TaskLine line;
  line.index = row.row;
  line.state = row.text[kColState];
  const auto record = nlohmann::json::parse(text, nullptr, false);
  if (record.is_object()) {
    if (const auto data = record.find("data"); data != record.end() && data->is_object()) {
      line.bvid = StringAt(*data, "bvid");
    }
    line.page = StringAt(record, record::kEpisode);
  }
  if (line.bvid.empty()) line.bvid = row.text[kColTitle];  // a 解析失败 row names its BV there
  if (restartView && !text.empty() && !IsFinalState(line.state) && line.state != kStatePaused) {
    line.state = kStateWaiting;
  }
  return line;
}

bool IsBlank(const StoredTaskRow& row) {
  return row.queued.empty() && std::all_of(row.text.begin(), row.text.end(),
                                           [](const auto& text) { return text.empty(); });
}

// Exit code when another process holds the task store (as download's).
constexpr int kStoreHeldExit = 2;

int RunAction(StoredTaskAction action, const Args& args) {
  std::vector<int> rows;
  for (std::size_t i = 1; i < args.size(); ++i) {
    int row = 0;
    const std::string& text = args[i];
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), row);
    if (error != std::errc() || end != text.data() + text.size() || row <= 0) {
      return UsageError("tasks", "not a task index: " + text);
    }
    rows.push_back(row);
  }
  if (rows.empty()) return UsageError("tasks", args[0] + " needs one or more task indexes");
  const StoredActionOutcome outcome =
      ApplyStoredAction(TaskStorePath(ProgramPaths()), action, rows);
  switch (outcome.end) {
    case StoredActionOutcome::End::kHeld:
      Fail("the task list is in use by " +
           (outcome.holderPid > 0 ? "process " + std::to_string(outcome.holderPid)
                                  : std::string("another process")) +
           " (任务列表正被其他进程使用); change the tasks there");
      return kStoreHeldExit;
    case StoredActionOutcome::End::kUnusable:
      return Fail("the task list cannot be changed: " + outcome.why);
    case StoredActionOutcome::End::kDone:
      break;
  }
  for (int row : outcome.changed) std::cout << row << "\t" << args[0] << "\n";
  for (const std::string& refusal : outcome.refusals) {
    std::cerr << "korvid-cli: task " << refusal << "\n";
  }
  return outcome.refusals.empty() ? 0 : 1;
}

int Tasks(const Args& args) {
  if (!args.empty()) {
    if (const auto action = StoredTaskActionNamed(args[0])) return RunAction(*action, args);
  }
  const bool json = args.size() == 1 && args[0] == "--json";
  if (!args.empty() && !json) {
    return UsageError("tasks", "tasks takes --json, or pause|resume|cancel|retry INDEX...");
  }
  const std::string path = TaskStorePath(ProgramPaths());
  bool running = false;
  {
    const TaskStoreLock probe(path);
    running = !probe.Held();
  }
  std::string why;
  const auto rows = TaskStore::ReadRows(path, &why);
  if (!rows) return Fail("the task list cannot be read: " + why);
  nlohmann::json list = nlohmann::json::array();
  for (const StoredTaskRow& row : *rows) {
    // A row cancelled from the middle of the list comes back as a blank one.
    if (IsBlank(row)) continue;
    const TaskLine line = LineOf(row, !running);
    if (json) {
      list.push_back(
          {{"index", line.index}, {"bvid", line.bvid}, {"page", line.page}, {"state", line.state}});
    } else {
      std::cout << line.index << "\t" << line.bvid << "\t" << line.page << "\t" << line.state
                << "\n";
    }
  }
  if (json) std::cout << list.dump(2) << "\n";
  return 0;
}

}  // namespace

KORVID_CLI_COMMAND("tasks",
                   "tasks [--json]        the kept task list: index, BV, page and state of each\n"
                   "                      row, also while the window or a download runs them\n"
                   "tasks pause|resume|cancel|retry INDEX...\n"
                   "                      change kept rows while no window or download holds\n"
                   "                      the list: pause (已暂停) a waiting row, resume it at\n"
                   "                      the head of the queue, retry a failed or paused row\n"
                   "                      at its end, cancel a row (its .part file goes, a\n"
                   "                      finished file stays). Exit 2 when the list is held",
                   Tasks, 36);

}  // namespace korvid::cli
