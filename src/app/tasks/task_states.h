#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvid {

// ARGB text colours of the state column. 0 means "the list's default colour".
inline constexpr std::uint32_t kColorDefault = 0;
inline constexpr std::uint32_t kColorCrimson = 0xFFDC143C;
inline constexpr std::uint32_t kColorDone = 0xFF00ACFF;
inline constexpr std::uint32_t kColorMerged = 0xFF7FFF00;

// Stopped by the user with what arrived kept; starts again only when asked.
inline constexpr std::uint32_t kColorPaused = 0xFF8A6D00;

// The texts of the state column (column 9), each written once here.
inline constexpr std::string_view kStateStarted = "开始下载";
inline constexpr std::string_view kStateDownloading = "正在下载";
inline constexpr std::string_view kStateDone = "完成";
// The transfer ended before the whole body arrived.
inline constexpr std::string_view kStateShort = "失败下载";
inline constexpr std::string_view kStateStartFailed = "下载失败";
inline constexpr std::string_view kStateMerging = "开始合并";
inline constexpr std::string_view kStateMerged = "合并完成";
inline constexpr std::string_view kStateMergeFailed = "合并失败";
// The file is there with the remote size.
inline constexpr std::string_view kStateExisting = "已存在";
// The audio row of a split page whose streams fell back to the single-file
// form (no cookie any more): the video row's file already carries the sound.
inline constexpr std::string_view kStateInVideoFile = "随视频下载";
// "下载:" + the site's message: the site refused the stream.
inline constexpr std::string_view kStateRefusedPrefix = "下载:";
// The row's record waits on the task queue for a download worker.
inline constexpr std::string_view kStateWaiting = "等待中";
// The row's record was queued again by the list menu.
inline constexpr std::string_view kStateRedownload = "重新下载";
// The user stopped the row (running or waiting); its part file stays.
inline constexpr std::string_view kStatePaused = "已暂停";
// The video could not be read when the link was added.
inline constexpr std::string_view kStateParseFailed = "解析失败";
// Another download or merge writes the same file; this one waits for it.
inline constexpr std::string_view kStateFileBusy = "该文件正在下载";
// The disk is full: what arrived is kept for a later try.
inline constexpr std::string_view kStateDiskFull = "磁盘空间不足";
// "无法写入：" + the folder: the folder refuses the file.
inline constexpr std::string_view kStateUnwritablePrefix = "无法写入：";
// "重试中 (n/m)": the download broke off and waits for its retry n of m.
inline constexpr std::string_view kStateRetryingPrefix = "重试中 (";

[[nodiscard]] std::string RetryingStateText(int retry, int retries);
[[nodiscard]] std::string UnwritableStateText(std::string_view folder);
// Tip of the state cell when the comments could not be fetched; the next
// download of the task tries again.
inline constexpr std::string_view kTipCommentsFailed = "弹幕获取失败";

// True for a state after which nothing more happens to the row by itself.
[[nodiscard]] bool IsFinalState(std::string_view state);
// True for a final state that is no success: the row may be tried again.
[[nodiscard]] bool IsFailedState(std::string_view state);
// True for a final state that means the row's file is there.
[[nodiscard]] bool IsSuccessState(std::string_view state);

// The stream suffixes of a split page's halves, after the ".mp4" name.
inline constexpr std::string_view kVideoHalfSuffix = ".视频";
inline constexpr std::string_view kAudioHalfSuffix = ".音频";

// The video and audio halves of a split page and the file they merge into,
// from the path of either half.
struct MergeHalves {
  std::string video;
  std::string audio;
  std::string output;
  int videoRow = 0;  // the video row comes first, the audio row right after it
  int audioRow = 0;
};
[[nodiscard]] std::optional<MergeHalves> MergeHalvesOf(std::string_view path, int row);

}  // namespace korvid
