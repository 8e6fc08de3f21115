// resolve: a pasted link turned into task rows, as 按钮_解析下载 does, without
// downloading anything.

#include <cstdlib>
#include <iostream>
#include <map>

#include "app/app_state.h"
#include "app/tasks/task_record.h"
#include "cli/cli_command.h"
#include "controls/control_names.h"
#include "net/json_document.h"
#include "site/add_video.h"
#include "site/link_jobs.h"

namespace korvid::cli {
namespace {

struct ResolveArgs {
  std::vector<std::string> links;
  bool split = false;
  bool collection = false;
  bool extras = false;
};

bool ParseResolveArgs(const Args& args, ResolveArgs& resolve) {
  for (const std::string& arg : args) {
    if (arg == "--split") {
      resolve.split = true;
    } else if (arg == "--collection") {
      resolve.collection = true;
    } else if (arg == "--extras") {
      resolve.extras = true;
    } else if (arg.starts_with("--")) {
      return false;
    } else {
      resolve.links.push_back(arg);
    }
  }
  return !resolve.links.empty();
}

// The queued records by row; resolving ends here, so they are taken off.
std::map<int, JsonDocument> TakeRecords(AppState& app) {
  std::map<int, JsonDocument> records;
  std::string text;
  while (app.TaskQueue().PopText(text)) {
    JsonDocument record;
    if (record.Parse(text)) records[std::atoi(record.GetValue(record::kRow).c_str())] = record;
  }
  return records;
}

std::string TitleWithoutKind(std::string title) {
  for (std::string_view prefix : {kVideoTitlePrefix, kAudioTitlePrefix}) {
    if (title.starts_with(prefix)) return title.substr(prefix.size());
  }
  return title;
}

// The BV id, or "ep" + ep_id for an episode of a licensed work.
std::string RowId(const JsonDocument& record) {
  const std::string episode = std::string(record::kLicensedEpisode) + ".ep_id";
  if (record.TypeOf(record::kLicensed) == kJsonObject) return "ep" + record.GetValue(episode);
  return record.GetValue("data.bvid");
}

// A licensed work's row ends with its episode's title.
std::string EpisodeTitleOf(AppState& app, const JsonDocument& record, int row) {
  if (record.TypeOf(record::kLicensed) != kJsonObject) return {};
  return "\t" + TerminalLine(app.Tasks().CellText(row, kColPart));
}

// Prints the rows; returns how many failed.
int PrintRows(AppState& app) {
  const std::map<int, JsonDocument> records = TakeRecords(app);
  TaskList& tasks = app.Tasks();
  int failed = 0;
  for (int row = 1; row <= tasks.RowCount(); ++row) {
    const auto found = records.find(row);
    if (found == records.end()) {
      std::cerr << TerminalLine(tasks.CellText(row, kColState)) << ": "
                << TerminalLine(tasks.CellText(row, kColTitle)) << "\n";
      ++failed;
      continue;
    }
    const JsonDocument& record = found->second;
    const bool split = record.GetValue(record::kSplit) == record::kTrue;
    std::cout << row << '\t' << TerminalLine(RowId(record)) << '\t'
              << TerminalLine(record.GetValue(record::kEpisode)) << '\t'
              << (split ? TerminalLine(record.GetValue(record::kStreamKind)) : std::string("-"))
              << '\t' << TerminalLine(TitleWithoutKind(tasks.CellText(row, kColTitle)))
              << EpisodeTitleOf(app, record, row) << '\n';
  }
  return failed;
}

// Notices go to stderr; true when one of them reports a failure.
bool PrintNotices(ControlStore& controls) {
  bool failure = false;
  for (const NoticeRecord& notice : controls.TakeNotices()) {
    std::cerr << notice.title << ": " << TerminalText(notice.text) << "\n";
    failure = failure || notice.title == kNoticeFailed;
  }
  return failure;
}

int Resolve(const Args& args) {
  ResolveArgs resolve;
  if (!ParseResolveArgs(args, resolve)) return Fail("resolve needs a link (see --help)");
  Core core;
  AppState app(core.controls, core.paths);
  bool noticeFailure = false;
  {
    LinkJobs jobs(app);
    if (resolve.split) jobs.SetSplitCondition(true);
    core.controls.SetChecked(kWholeCollectionCheck, resolve.collection);
    core.controls.SetChecked(kExtrasCheck, resolve.extras);
    for (const std::string& link : resolve.links) {
      core.controls.SetText(kTaskLinkBox, link);
      jobs.OnAddLinkPressed();
      jobs.WaitAll();
      noticeFailure = PrintNotices(core.controls) || noticeFailure;
    }
  }
  const int failedRows = PrintRows(app);
  if (noticeFailure || failedRows > 0) return 1;
  if (app.Tasks().RowCount() == 0) return Fail("no task rows were added");
  return 0;
}

}  // namespace

KORVID_CLI_COMMAND(
    "resolve",
    "resolve LINK... [--split] [--collection] [--extras]\n"
    "                      add the links' videos as the window's 解析下载 button does and\n"
    "                      print one line per task row: row, BV id (ep<id> for a 番剧\n"
    "                      episode), 分集序号, stream kind (视频/音频, - when not split),\n"
    "                      title (a 番剧 row adds the episode's); nothing is downloaded.\n"
    "                      Links may name a video, space, favourites folder, collection,\n"
    "                      series, watch later, or a 番剧 episode (ep), season (ss) or\n"
    "                      media (md).\n"
    "                      --split: video and audio as separate tasks, as if logged in\n"
    "                      with 登录后下载最高画质 checked. --collection: a video of a\n"
    "                      collection adds the whole collection (解析整个合集).\n"
    "                      --extras: a 番剧 season adds its extras too (下载番外/PV)",
    Resolve, 30);

}  // namespace korvid::cli
