#include "application.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <mutex>

#include "app/settings_file.h"
#include "app/startup.h"
#include "app/window_placement.h"
#include "control_binder.h"
#include "controls/control_names.h"
#include "controls/window_layout.h"
#include "details_panel_wiring.h"
#include "download/download_engine.h"
#include "download/task_download.h"
#include "end_signals.h"
#include "global_hotkey.h"
#include "library_panel.h"
#include "window_tray.h"

namespace korvid {

namespace {

bool EnvSet(const char* name) {
  return !qEnvironmentVariableIsEmpty(name);
}

}  // namespace

Application::Application(AppPaths paths, QString instanceName, QObject* parent)
    : QObject(parent), m_paths(std::move(paths)), m_instance(std::move(instanceName)) {
  CreateMainWindowControls(m_store);
  m_store.SetShell(&m_shell);
  m_state = std::make_unique<AppState>(m_store, m_paths);
  m_engine = std::make_unique<DownloadEngine>(*m_state);
  m_details = std::make_unique<DetailsLoader>(*m_state);
  m_linkJobs = std::make_unique<LinkJobs>(*m_state);
}

Application::~Application() {
  m_autosave.reset();
  // Before the downloads stop: a stopped transfer ends short, and its row is
  // to wait for the next start rather than read as failed.
  m_kept.Close();
  // Its workers write to the controls and the task list, so they end first.
  m_scheduler.reset();
  // Actions and log-in workers end first: they report to the window. The
  // window's binder and model detach from the store and the task list, which
  // must still exist then.
  m_actions.reset();
  // Link workers write to the store and the task list; they end first.
  m_linkJobs.reset();
  m_details.reset();
  m_danmakuRefresher.reset();
  m_window.reset();
  // After the scheduler, whose download workers hand downloads to it.
  m_engine.reset();
}

std::optional<int> Application::Start() {
  if (m_instance.Claim() == SingleInstance::Role::Secondary) return 0;
  // Folders, FFmpeg, saved states and start settings, before the window
  // exists, so it opens showing them.
  m_ffmpeg = StartCore(m_store, m_paths).ffmpeg;
  KeepTasksAndSettings();

  m_window = std::make_unique<MainWindow>(m_store, m_state->Tasks());
  m_shell.SetDialogParent(m_window.get());
  m_window->SetDefaultDownloadFolder(m_paths.DownloadFolder().string());
  m_window->SetExitHandler([this] { OnExit(); });
  m_window->SetSaveStatesHandler([this] { SaveAllStates(); });
  if (const auto placement = LoadWindowPlacement(SettingsPath())) {
    m_window->ApplyPlacement(*placement);
  }
  ConnectDetailsPanel(m_window->Binder(), *m_details, m_window.get());
  connect(&m_instance, &SingleInstance::RaiseRequested, m_window.get(), &MainWindow::BringToFront);
  if (!m_ffmpeg.empty()) m_engine->SetFfmpeg(m_ffmpeg);
  m_scheduler = std::make_unique<Scheduler>(
      *m_state, SchedulerJobs{[this] { (void)DownloadOneTask(*m_state, *m_engine); },
                              [this] { (void)m_details->Load(); }});
  connect(&m_window->ThreadClock(), &QTimer::timeout, this, [this] {
    m_scheduler->Tick();
    TellFinishedBatch();
  });
  m_window->SetUnfinishedCounter(
      [this] { return m_state->Downloads().Count() + m_state->TaskQueue().Count(); });
  m_actions = std::make_unique<WindowActions>(*m_window, *m_state, m_makeQrApi);
  m_actions->UseEngine(*m_engine);
  // With restored cookies the account worker shows who is logged in. The
  // show-window hotkey is registered here too, once it exists.
  (void)m_actions->Login().StartAccountCheckIfLoggedIn();
  ConnectLinkButtons();
  ConnectWorkerButtons();
  StartWindowExtras();
  m_window->show();
  return std::nullopt;
}

std::string Application::SettingsPath() const {
  return m_paths.ConfigFile().string();
}

void Application::SaveAllStates() {
  (void)SaveStates(m_store, SettingsPath());
}

void Application::KeepTasksAndSettings() {
  m_autosave = std::make_unique<SettingsAutosave>(m_store, SettingsPath());
  m_autosave->Start();
  if (m_kept.Open(*m_state) == KeptTaskList::Outcome::kHeld) {
    m_store.ShowNotice(
        "任务列表正被进程 " + std::to_string(m_kept.HolderPid()) + " 使用，本次的任务不会保存",
        kNoticeFailed);
  }
  m_endSignals = new EndSignals(this);
  connect(m_endSignals, &EndSignals::Received, this, [this] {
    SaveChangesNow();
    QCoreApplication::quit();
  });
  if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    connect(gui, &QGuiApplication::commitDataRequest, this, [this] { SaveChangesNow(); });
    connect(gui, &QCoreApplication::aboutToQuit, this, [this] { SaveChangesNow(); });
  }
}

void Application::SaveChangesNow() {
  if (m_autosave) (void)m_autosave->SaveChanged();
  m_kept.FlushNow();
}

void Application::ConnectLinkButtons() {
  const auto onClick = [this](const QString& name, void (LinkJobs::*handler)()) {
    if (auto* button = m_window->findChild<QPushButton*>(name)) {
      connect(button, &QPushButton::clicked, this,
              [this, handler] { (m_linkJobs.get()->*handler)(); });
    }
  };
  onClick(ToWidgetText(kAddLinkButton), &LinkJobs::OnAddLinkPressed);
  onClick(ToWidgetText(kAddFromDetailsButton), &LinkJobs::OnAddFromDetailsPressed);
}

void Application::ConnectWorkerButtons() {
  m_danmakuRefresher = std::make_unique<DanmakuRefresher>(*m_state);
  if (auto* button = m_window->findChild<QPushButton*>(ToWidgetText(kRefreshDanmakuButton))) {
    connect(button, &QPushButton::clicked, this, [this] { (void)m_danmakuRefresher->Start(); });
  }
}

void Application::KeepMaxDownloadsValid() {
  auto* box = m_window->findChild<QLineEdit*>(
      QString::fromUtf8(kMaxDownloadsBox.data(), static_cast<qsizetype>(kMaxDownloadsBox.size())));
  if (box == nullptr) return;
  // An emptied box would start no download and say nothing about it.
  auto lastValid = std::make_shared<QString>(box->text());
  connect(box, &QLineEdit::textChanged, box, [lastValid](const QString& text) {
    if (ParseMaxDownloads(text.toStdString()) > 0) *lastValid = text;
  });
  connect(box, &QLineEdit::editingFinished, box, [box, lastValid] {
    if (ParseMaxDownloads(box->text().toStdString()) <= 0 && !lastValid->isEmpty()) {
      box->setText(*lastValid);
    }
  });
}

void Application::StartWindowExtras() {
  KeepMaxDownloadsValid();
  m_library = new LibraryPanel(*m_state, *m_window);
  m_tray = new WindowTray(m_store, *m_window);
  // Registered once: a change of 下拉框_热键 takes effect at the next start.
  m_hotkey = new GlobalHotkey(m_window.get());
  if (!m_hotkey->Register(m_store.SelectedIndex(kHotkeyDrop))) {
    m_store.SetText(kHotkeyLabel, kHotkeyFailed);
  }
  connect(m_hotkey, &GlobalHotkey::Pressed, m_window.get(), [this] { ToggleWindow(*m_window); });
}

void Application::TellFinishedBatch() {
  // The window thread never waits for the list lock: a busy lock waits a tick.
  std::unique_lock held(m_state->ListLock(), std::try_to_lock);
  if (!held.owns_lock()) return;
  const std::optional<std::string> summary = m_finished.Look(m_state->Tasks());
  held.unlock();
  if (summary && (!m_window->isVisible() || m_window->isMinimized())) {
    m_tray->Notify(QString::fromStdString(*summary));
  }
}

void Application::OnExit() {
  m_tray->Remove();
  m_hotkey->Unregister();
  SaveAllStates();
  (void)SaveWindowPlacement(SettingsPath(), m_window->Placement());
  m_instance.Release();
}

bool DisplayAvailable() {
  return EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY") || EnvSet("QT_QPA_PLATFORM");
}

void ReportNoWindowSystem() {
  std::fputs("从内存初始化ExuiKrnln失败。\n", stderr);
  std::fputs(
      "korvid: no display to open the window on (set DISPLAY or WAYLAND_DISPLAY); use the "
      "headless front end instead: korvid-cli --help\n",
      stderr);
}

}  // namespace korvid
