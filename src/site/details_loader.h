#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/app_state.h"
#include "net/json_document.h"
#include "transfer/worker_set.h"

// The loader of the video-details panel: one video's information, its pages,
// the stream list of a page, the pictures and the avatars in 头像.
namespace korvid {

inline constexpr std::string_view kDetailsFailed = "解析失败";

// The first BV identifier (BV + 10 letters or digits, any case) in a text.
[[nodiscard]] std::optional<std::string> FindBvid(std::string_view text);

class DetailsLoader {
 public:
  explicit DetailsLoader(AppState& app);
  // Waits for the workers it started (each is bounded by the request limits).
  ~DetailsLoader();
  DetailsLoader(const DetailsLoader&) = delete;
  DetailsLoader& operator=(const DetailsLoader&) = delete;

  // Any thread (按钮_解析链接, the clipboard watch): starts Load on a worker
  // unless a load runs (the kDetails busy flag); false when none was started.
  bool Start();
  // Any thread (a page chosen in 下拉框_视频part): reloads the stream list for
  // that page of the shown video on a worker. Requests made while one runs
  // are served in turn, so the list ends up showing the last page chosen.
  void SelectPage(int pageIndex);

  // The work itself, on the calling thread (a worker or the command line).
  // Holds the list lock throughout, so no task rows are added meanwhile. False
  // (with the notice "解析失败") when the video could not be read; the panel
  // is then unchanged.
  bool Load();
  // Fills 下拉框_默认下载源 for a page of the video shown; false when there is
  // no such page or the video changed meanwhile.
  bool LoadPage(int pageIndex);

  // Waits up to timeoutMs until no worker of this loader runs.
  [[nodiscard]] bool WaitIdle(int timeoutMs);

  // The last video information and DASH answer shown (copies).
  [[nodiscard]] JsonDocument CurrentVideo() const;
  [[nodiscard]] JsonDocument CurrentStreams() const;

 private:
  void ServePageRequests();
  void ShowPictures(const std::string& faceUrl, const std::string& coverUrl);

  AppState& m_app;

  mutable std::mutex m_documentsMutex;
  JsonDocument m_video;
  JsonDocument m_streams;
  std::uint64_t m_generation = 0;  // counts loaded videos

  std::mutex m_pageMutex;
  std::optional<int> m_wantedPage;
  bool m_pageWorkerRunning = false;

  // Last: its destructor joins the workers before what they use goes.
  WorkerSet m_workers;
};

}  // namespace korvid
