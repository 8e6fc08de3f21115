#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "transfer/worker_set.h"

namespace korvid {

inline constexpr std::string_view kLibraryPickerTitle = "将所选择文件夹内的ass弹幕文件进行更新";
inline constexpr std::string_view kLibraryScanBusy = "正在加载文件列表";
inline constexpr std::string_view kLibraryLoading = "正在加载目录...";
inline constexpr std::string_view kNoVideoInFolder = "没有找到视频文件";
inline constexpr std::string_view kOpenFailed = "无法打开：";
// Thumbnails of the fan art in the icon list.
inline constexpr int kThumbnailWidth = 251;
inline constexpr int kThumbnailHeight = 158;

// Full paths of the tvshow.nfo files a scan found, in search order. Plain
// strings: a filesystem::path also keeps each of its parts, several times the
// memory in a list of thousands.
using LibraryList = std::vector<std::string>;

// Every ".nfo" below folder whose name ends in "tvshow.nfo" (so mytvshow.nfo
// too), and when keyword is not empty only those whose text holds it, Latin
// letters compared without regard to case.
[[nodiscard]] LibraryList ScanLibrary(const std::filesystem::path& folder,
                                      std::string_view keyword);

// "耗时：" + ms + "毫秒" under five seconds, else "耗时：" + whole seconds + "秒".
[[nodiscard]] std::string ElapsedText(std::int64_t elapsedMs);
// "加载N个视频," + ElapsedText.
[[nodiscard]] std::string ScanDoneText(std::size_t count, std::int64_t elapsedMs);

// The text between <title> and </title> (XML entities decoded); empty without one.
[[nodiscard]] std::string NfoTitle(std::string_view nfoText);

// What the icon list shows for one entry.
struct LibraryEntryInfo {
  std::string title;
  std::filesystem::path fanart;  // the folder's fanart.jpg (may not exist)
};
[[nodiscard]] LibraryEntryInfo ReadEntryInfo(const std::filesystem::path& nfoPath);

// The video "播放视频" opens in an entry's folder: a name ending in
// "S1E1.mp4", else the first name holding "S1E1" and ending in ".mp4".
[[nodiscard]] std::optional<std::filesystem::path> FindFirstEpisode(
    const std::filesystem::path& folder);

// Milliseconds of a steady clock; tests inject their own.
using MsClock = std::function<std::int64_t()>;
[[nodiscard]] std::int64_t SteadyNowMs();

// The library tab's scan and file menu. The scan runs on a worker of its own,
// one at a time (busy flag kLibraryScan); the list it finds replaces the last
// one as a whole, so readers on other threads always see a complete list.
class LibraryBrowser {
 public:
  // Called on the scan worker: with an empty list when a scan starts, with
  // the found list when it ends.
  using ListListener = std::function<void(std::shared_ptr<const LibraryList>)>;

  explicit LibraryBrowser(AppState& state, MsClock clock = SteadyNowMs);
  ~LibraryBrowser();  // waits for a running scan
  LibraryBrowser(const LibraryBrowser&) = delete;
  LibraryBrowser& operator=(const LibraryBrowser&) = delete;

  // Set before the first scan.
  void SetListListener(ListListener listener) { m_listener = std::move(listener); }

  // The folder action: asks for a folder (starting at 编辑框_文件管理 when it
  // names a folder, else the program folder), writes the answer (empty when
  // cancelled) into 编辑框_文件管理 and starts a scan.
  bool ChooseFolderAndScan();
  // Starts the scan worker; false (with the notice) while one runs. Only one
  // thread at a time may start scans (the window thread).
  bool StartScan();
  // Waits until the last started scan has ended.
  void WaitForScan();

  [[nodiscard]] std::shared_ptr<const LibraryList> Entries() const;
  // The folder scanned: 编辑框_文件管理 when it names a folder, else 下载.
  [[nodiscard]] std::filesystem::path SearchFolder() const;

  // The file menu on entry `index`; false (with a notice) when nothing opened.
  bool PlayVideo(std::size_t index);
  bool OpenFolder(std::size_t index);

 private:
  void RunScan();
  void Publish(std::shared_ptr<const LibraryList> list);
  [[nodiscard]] std::optional<std::filesystem::path> EntryFolder(std::size_t index) const;
  bool OpenWithShell(const std::filesystem::path& path);

  AppState& m_state;
  MsClock m_clock;
  ListListener m_listener;
  mutable std::mutex m_mutex;
  std::shared_ptr<const LibraryList> m_entries;
  // Last: its destructor joins the worker before what it uses goes.
  WorkerSet m_worker;
};

}  // namespace korvid
