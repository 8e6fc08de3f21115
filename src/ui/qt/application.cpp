#include "application.h"

#include <QByteArray>
#include <cstdio>

#include "app/settings_file.h"
#include "app/startup.h"
#include "controls/window_layout.h"
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
  // log-in code exists.

  m_window = std::make_unique<MainWindow>(m_store, m_state->Tasks());
  m_shell.SetDialogParent(m_window.get());
  m_window->SetExitHandler([this] { OnExit(); });
  m_window->SetSaveStatesHandler([this] { SaveAllStates(); });
  connect(&m_instance, &SingleInstance::RaiseRequested, m_window.get(), &MainWindow::BringToFront);
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

void Application::StartWindowExtras() {
  m_library = new LibraryPanel(*m_state, *m_window);
  m_tray = new WindowTray(m_store, *m_window);
  // Registered once: a change of 下拉框_热键 takes effect at the next start.
  m_hotkey = new GlobalHotkey(m_window.get());
  if (!m_hotkey->Register(m_store.SelectedIndex("下拉框_热键"))) {
    m_store.SetText("标签_呼出快捷键", kHotkeyFailed);
  }
  connect(m_hotkey, &GlobalHotkey::Pressed, m_window.get(), [this] { ToggleWindow(*m_window); });
}

void Application::OnExit() {
  m_tray->Remove();
  m_hotkey->Unregister();
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
