#include "application.h"

#include <QByteArray>
#include <QPushButton>
#include <cstdio>

#include "app/settings_file.h"
#include "app/startup.h"
#include "controls/window_layout.h"

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
}

Application::~Application() {
  // The window's binder and model detach from the store and the task list,
  // which must still exist then.
  m_window.reset();
}

std::optional<int> Application::Start() {
  if (m_instance.Claim() == SingleInstance::Role::Secondary) return 0;
  // Folders, FFmpeg, saved states and start settings, before the window
  // exists, so it opens showing them.
  m_ffmpeg = StartCore(m_store, m_paths).ffmpeg;
  // With a cookie the account worker shows the user; it starts here once the
  // log-in code exists. The show-window hotkey is registered here too.

  m_window = std::make_unique<MainWindow>(m_store, m_state->Tasks());
  m_shell.SetDialogParent(m_window.get());
  m_window->SetExitHandler([this] { OnExit(); });
  m_window->SetSaveStatesHandler([this] { SaveAllStates(); });
  connect(&m_instance, &SingleInstance::RaiseRequested, m_window.get(), &MainWindow::BringToFront);
  ConnectWorkerButtons();
  m_window->show();
  return std::nullopt;
}

std::string Application::SettingsPath() const {
  return m_paths.ConfigFile().string();
}

void Application::SaveAllStates() {
  (void)SaveStates(m_store, SettingsPath());
}

void Application::ConnectWorkerButtons() {
  m_danmakuRefresher = std::make_unique<DanmakuRefresher>(*m_state);
  if (auto* button = m_window->findChild<QPushButton*>(QStringLiteral("按钮_刷新弹幕"))) {
    connect(button, &QPushButton::clicked, this, [this] { (void)m_danmakuRefresher->Start(); });
  }
}

void Application::OnExit() {
  SaveAllStates();
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
