#include "site/add_video.h"

#include <mutex>
#include <string>

#include "app/tasks/task_record.h"
#include "controls/control_names.h"
#include "net/regex_matcher.h"
#include "site/clean_name.h"
#include "site/video_info.h"

namespace korvid {

namespace {

constexpr std::string_view kBvidPattern = "BV[0-9a-zA-Z]{10}";
constexpr std::size_t kBvidLength = 12;

// What every row of one video shares.
struct VideoRows {
  JsonDocument& record;
  bool split = false;
  bool customSource = false;
  std::string title;   // cleaned
  std::string height;  // 清晰度
};

std::string TitleCell(const VideoRows& video, std::string_view kind) {
  if (!video.split) return video.title;
  return std::string(kind == record::kVideo ? kVideoTitlePrefix : kAudioTitlePrefix) + video.title;
}

// Appends one row and queues its record. List lock held.
void AddTaskRow(AppState& app, VideoRows& video, int episode, std::string_view kind) {
  TaskList& tasks = app.Tasks();
  JsonDocument& record = video.record;
  const int row = tasks.AppendRow();
  const std::string rowText = std::to_string(row);
  record.SetValue(record::kRow, rowText);
  record.SetValue(record::kEpisode, std::to_string(episode));
  record.SetValue(record::kSplit, video.split ? record::kTrue : record::kFalse);
  record.SetValue(record::kStreamKind, kind);
  if (video.customSource) record.SetValue(record::kCustomSource, record::kCustomSource);
  tasks.SetCellText(row, kColIndex, rowText);
  tasks.SetCellText(row, kColTitle, TitleCell(video, kind));
  tasks.SetCellText(row, kColPart, record.GetValue(record::kPart));
  tasks.SetCellText(row, kColHeight, video.height);
  // A record that cannot be queued would leave a row that never downloads.
  const bool queued = app.QueueTask(row, record.ToText());
  tasks.SetCellText(row, kColState, queued ? kStateWaiting : kStateParseFailed);
}

void AddPages(AppState& app, VideoRows& video) {
  JsonDocument& record = video.record;
  const int pages = record.GetCount("data.pages");
  for (int i = 1; i <= pages; ++i) {
    const std::string page = "data.pages[" + std::to_string(i - 1) + "]";
    record.SetValue(record::kCid, record.GetObject(page + ".cid").ToText());
    record.SetValue(record::kPart, record.GetValue(page + ".part"));
    std::lock_guard lock(app.ListLock());
    AddTaskRow(app, video, i, record::kVideo);
    if (video.split) AddTaskRow(app, video, i, record::kAudio);
  }
}

}  // namespace

bool SplitWanted(const Controls& controls) {
  return controls.Checked(kBestQualityCheck) && !controls.Text(kCookiesBox).empty();
}

void AddFailureRow(AppState& app, std::string_view bvid) {
  std::lock_guard lock(app.ListLock());
  TaskList& tasks = app.Tasks();
  const int row = tasks.AppendRow();
  tasks.SetCellText(row, kColIndex, std::to_string(row));
  tasks.SetCellText(row, kColTitle, bvid);
  tasks.SetCellText(row, kColState, kStateParseFailed);
}

AddVideoOutcome TryAddVideo(SiteJob& job, std::string_view bvid, AddVideoFlags flags) {
  const bool split =
      flags.split.value_or(false) || job.splitCondition.value_or(SplitWanted(job.app.Ui()));
  VideoInfo info = FetchVideoInfo(job.transport, bvid);
  if (info.refused) return {false, info.gone, info.reason};
  VideoRows video{info.answer, split, flags.customSource, {}, {}};
  video.title = CleanName(info.answer.GetValue("data.title"), true, bvid);
  video.height = info.answer.GetValue("data.dimension.height");
  AddPages(job.app, video);
  return {true, false, {}};
}

bool AddVideo(SiteJob& job, std::string_view bvid, AddVideoFlags flags) {
  if (TryAddVideo(job, bvid, flags).added) return false;
  AddFailureRow(job.app, bvid);
  return true;
}

void AddNamedVideo(SiteJob& job, std::string_view bvid, AddVideoFlags flags) {
  const AddVideoOutcome outcome = TryAddVideo(job, bvid, flags);
  if (outcome.added) return;
  AddFailureRow(job.app, bvid);
  std::string notice(kStateParseFailed);
  if (!outcome.reason.empty()) notice += "：" + outcome.reason;
  job.app.Ui().ShowNotice(notice, kNoticeFailed);
}

void AddEpisodeRows(SiteJob& job, JsonDocument& record, int episode) {
  const bool split = job.splitCondition.value_or(SplitWanted(job.app.Ui()));
  VideoRows video{record, split, false, {}, {}};
  video.title = CleanName(record.GetValue("data.title"), true, record.GetValue("data.bvid"));
  record.SetValue(record::kCid, record.GetObject("data.pages[0].cid").ToText());
  record.SetValue(record::kPart, record.GetValue("data.pages[0].part"));
  std::lock_guard lock(job.app.ListLock());
  AddTaskRow(job.app, video, episode, record::kVideo);
  if (video.split) AddTaskRow(job.app, video, episode, record::kAudio);
}

void AddVideoFromDetails(SiteJob& job) {
  const std::string text = job.app.Ui().Text(kDetailsLinkBox);
  RegexMatcher matcher;
  if (!matcher.Execute(kBvidPattern, text) || matcher.Count() == 0) return;
  const std::string bvid = matcher.MatchText(1);
  if (bvid.size() != kBvidLength) return;
  AddNamedVideo(job, bvid, AddVideoFlags{true, true});
}

}  // namespace korvid
