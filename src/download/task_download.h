#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "download/download_engine.h"
#include "net/json_document.h"
#include "net/site_hosts.h"

namespace korvid {

// Where the files of one video go, read from the controls when the task starts.
struct LayoutSettings {
  std::string downloadPath;  // 编辑框_下载路径
  bool byType = false;       // 选择框_按类型分组
  bool byUploader = false;   // 选择框_按演员分组
  [[nodiscard]] static LayoutSettings Read(const Controls& controls);
};

struct VideoLayout {
  std::filesystem::path folder;    // the video folder: tvshow.nfo, fanart.jpg
  std::filesystem::path media;     // "...S1E<n>.mp4" plus the stream suffix
  std::filesystem::path subtitle;  // "...S1E<n>.ass"; the XML sits beside it
};

// Notices about the download folder, each said once per session: + the
// folder used instead, and + the folder that refuses writing.
inline constexpr std::string_view kNoticeFolderMissingPrefix = "下载目录不存在，已改用：";
inline constexpr std::string_view kNoticeFolderUnwritablePrefix = "无法写入下载目录：";

// The download path when it names an existing folder, else 下载 in the
// program folder.
[[nodiscard]] std::filesystem::path DownloadRoot(std::string_view downloadPath,
                                                 const AppPaths& paths);

// The paths of one task under root. Every component from the site goes
// through CleanName, so none can climb out of root. A title folder that
// belongs to another video (its tvshow.nfo names another BV id) gives way to
// "<title> [<BV id>]".
[[nodiscard]] VideoLayout PlanVideoLayout(const JsonDocument& record, const LayoutSettings& layout,
                                          const std::filesystem::path& root,
                                          std::string_view suffix);

// The request headers of a media download (CR LF separated, agent first).
[[nodiscard]] std::string MediaHeaderBlock(const SiteHosts& hosts);

// True when the file at path has the size the server gives for the first of
// urls that answers, asked with the media headers. A missing file never
// matches, nor does a failed size request (which harms no file: the download
// goes to a part file).
[[nodiscard]] bool AlreadyComplete(const std::filesystem::path& path,
                                   const std::vector<std::string>& urls,
                                   std::string_view headerBlock);

// The BV id a video folder's tvshow.nfo names; empty when it has none.
[[nodiscard]] std::string FolderVideoId(const std::filesystem::path& folder);

enum class TaskDownloadEnd {
  kNoRecord,       // the queue was empty: no row touched
  kUnreadable,     // the record was not JSON: no row to address
  kSetAside,       // the row was paused or removed meanwhile: left as it is
  kRefused,        // "下载:" + the site's message
  kUnreachable,    // the site gave no answer: the task waits again
  kInVideoFile,    // audio half of a pair that fell back to one file
  kFolderFailed,   // the video folder could not be made: "下载失败"
  kExisting,       // "已存在"
  kStarted,        // handed to the download engine
  kEngineRefused,  // "下载失败"
  kPutBack,        // the run ended before a slot was free: first in the queue again
};

// Waits for a download slot once the task is prepared; false: none will come.
using SlotWait = std::function<bool()>;

// One download worker: pops the oldest task record, selects its stream,
// writes the side files, records the media path in the row and hands the
// download to the engine (or reports the file as present). Blocks on the
// network; the scheduler runs it on a thread of its own. waitForSlot, when
// given, runs between the preparing and the hand-over; the row stays
// "等待中" until then, so a row paused or removed meanwhile never starts.
[[nodiscard]] TaskDownloadEnd DownloadOneTask(AppState& state, DownloadEngine& engine,
                                              const SlotWait& waitForSlot = {});

}  // namespace korvid
