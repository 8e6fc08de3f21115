#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/app_paths.h"
#include "app/app_state.h"
#include "app/settings_autosave.h"
#include "app/tasks/task_progress.h"
#include "app/tasks/task_store_writer.h"
#include "controls/control_store.h"
#include "danmaku/danmaku_refresh.h"
#include "download/download_engine.h"
#include "download/scheduler.h"
#include "main_window.h"
#include "qt_desktop_shell.h"
#include "single_instance.h"
#include "site/details_loader.h"
#include "site/link_jobs.h"
#include "window_actions.h"

namespace korvid {

class EndSignals;
class GlobalHotkey;
class LibraryPanel;
class WindowTray;

// The start of the windowed program, in order: controls and process-wide
// state, single instance, the start shared with the command line (working
// folders, FFmpeg, saved control states, start settings), the window. Owns all of them until exit.
// Window thread only; needs a QApplication.
class Application : public QObject {
  Q_OBJECT

 public:
  Application(AppPaths paths, QString instanceName, QObject* parent = nullptr);
  ~Application() override;

  // Runs the start. Returns an exit code when the program must end at once
  // (another instance runs and was raised: 0); nothing when the window is up.
  [[nodiscard]] std::optional<int> Start();

  [[nodiscard]] ControlStore& Controls() { return m_store; }
  [[nodiscard]] AppState& State() { return *m_state; }
  [[nodiscard]] DownloadEngine& Engine() { return *m_engine; }
  [[nodiscard]] MainWindow& Window() { return *m_window; }
  [[nodiscard]] WindowActions& Actions() { return *m_actions; }
  [[nodiscard]] DetailsLoader& Details() { return *m_details; }
  [[nodiscard]] LibraryPanel& Library() { return *m_library; }
  [[nodiscard]] WindowTray& Tray() { return *m_tray; }
  [[nodiscard]] GlobalHotkey& Hotkey() { return *m_hotkey; }
  [[nodiscard]] const std::string& FfmpegPath() const { return m_ffmpeg; }
  [[nodiscard]] std::string SettingsPath() const;

  // Writes every control state to the settings file.
  void SaveAllStates();
  // Writes the settings that changed and the task list's pending changes:
  // the end of the session, a signal, or a test that must see the disk now.
  void SaveChangesNow();
  [[nodiscard]] KeptTaskList& KeptTasks() { return m_kept; }
  // The QR log-in calls; set before Start (tests).
  void SetQrLoginApi(LoginWorkers::ApiFactory makeApi) { m_makeQrApi = std::move(makeApi); }

 private:
  void OnExit();
  void KeepTasksAndSettings();
  void KeepMaxDownloadsValid();
  void ConnectLinkButtons();
  void ConnectWorkerButtons();
  void StartWindowExtras();
  // Once the queue has run dry while the window is hidden, the tray says how
  // the downloads ended.
  void TellFinishedBatch();

  AppPaths m_paths;
  QtDesktopShell m_shell;
  ControlStore m_store;
  std::unique_ptr<AppState> m_state;
  // Written on their own threads; closed before the downloads are stopped,
  // so rows cut off by the exit wait for the next start.
  KeptTaskList m_kept;
  std::unique_ptr<SettingsAutosave> m_autosave;
  // Media downloads and merges of the rows; its threads use the state above.
  std::unique_ptr<DownloadEngine> m_engine;
  // Its workers write to the store and the task list, so it goes before them.
  std::unique_ptr<DetailsLoader> m_details;
  SingleInstance m_instance;
  std::unique_ptr<MainWindow> m_window;
  std::unique_ptr<Scheduler> m_scheduler;  // ticks with the window's 线程时钟
  std::unique_ptr<WindowActions> m_actions;
  LoginWorkers::ApiFactory m_makeQrApi = DefaultQrLoginApi;
  std::unique_ptr<LinkJobs> m_linkJobs;
  // Children of the window.
  LibraryPanel* m_library = nullptr;
  WindowTray* m_tray = nullptr;
  EndSignals* m_endSignals = nullptr;
  GlobalHotkey* m_hotkey = nullptr;
  std::string m_ffmpeg;
  FinishedBatch m_finished;  // window thread
  // Joined before the state it works on goes away.
  std::unique_ptr<DanmakuRefresher> m_danmakuRefresher;
};

// Whether a window can open at all. On Linux Qt ends the process when it
// cannot reach a display, so this is decided before QApplication exists.
[[nodiscard]] bool DisplayAvailable();
// The message for a start without a display (stderr).
void ReportNoWindowSystem();

}  // namespace korvid
