#pragma once

#include <QCoreApplication>
#include <QObject>
#include <memory>

#include "app/action_thread.h"
#include "app/app_state.h"
#include "download/row_actions.h"
#include "main_window.h"
#include "site/login_workers.h"

namespace korvid {

// Connects the window's menus and log-in buttons to the core's actions. The
// list actions run on an action thread, since they take the list lock that a
// network worker may hold; the log-in runs on the log-in workers. Window
// thread only.
class WindowActions : public QObject {
  Q_OBJECT

 public:
  WindowActions(MainWindow& window, AppState& state,
                LoginWorkers::ApiFactory makeApi = DefaultQrLoginApi);
  // Lets waiting actions finish (running the window's events meanwhile, as
  // they may need the window thread), then stops and joins the log-in.
  ~WindowActions() override;

  [[nodiscard]] LoginWorkers& Login() { return m_login; }
  [[nodiscard]] ActionThread& Actions() { return m_actions; }
  // The list menu's row actions and keys work on this engine's downloads;
  // without one they do nothing.
  void UseEngine(DownloadEngine& engine);

 private:
  AppState& m_state;
  std::unique_ptr<RowActions> m_rowActions;  // set before the first menu choice
  LoginWorkers m_login;
  ActionThread m_actions;
};

// Qt's own texts (dialog buttons, the folder picker) in Chinese when the
// locale is Chinese; false when no translation was loaded.
bool InstallQtTranslations(QCoreApplication& application);

}  // namespace korvid
