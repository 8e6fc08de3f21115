#pragma once

#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>

#include "app/tasks/task_list.h"
#include "control_binder.h"
#include "control_widgets.h"
#include "controls/control_store.h"
#include "notice_presenter.h"
#include "task_list_model.h"

class QAction;
class QTableView;
class QTimer;

namespace korvid {

// The main window: every control of the window layout as a widget named after
// it, the task list as the main area, the other areas on tabs. Workers never
// touch it; they write to the ControlStore and the TaskList, which this window
// mirrors. Window thread only.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Asks for a folder: (parent, title, start folder) -> folder or "" when
  // cancelled. Replaceable so tests need no modal dialog.
  using FolderPicker = std::function<QString(QWidget*, const QString&, const QString&)>;

  MainWindow(ControlStore& store, TaskList& tasks, QWidget* parent = nullptr);
  ~MainWindow() override;

  [[nodiscard]] ControlBinder& Binder() { return *m_binder; }
  [[nodiscard]] TaskListModel& TaskModel() { return *m_taskModel; }
  [[nodiscard]] NoticePresenter& Notices() { return *m_notices; }
  [[nodiscard]] QTimer& ThreadClock();
  [[nodiscard]] QAction& ExitAction() { return *m_exitAction; }

  // What "退出程序" does before the window closes (save the states, ...).
  void SetExitHandler(std::function<void()> handler) { m_onExit = std::move(handler); }
  // Writes every control state to the settings file (after a new download
  // folder has been picked).
  void SetSaveStatesHandler(std::function<void()> handler) { m_saveStates = std::move(handler); }
  void SetFolderPicker(FolderPicker picker) { m_pickFolder = std::move(picker); }

  // Shows the window when hidden, restores it when minimised, and brings it
  // to the front.
  void BringToFront();
  // "退出程序": runs the exit handler, then closes for good.
  void Exit();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildWindow();
  void BuildMenu();
  void SetUpTaskView(QTableView& view);
  void BindControls();
  void ConnectSettingButtons();
  void ChangeDownloadFolder();

  ControlStore& m_store;
  std::unique_ptr<ControlWidgets> m_widgets;
  ControlBinder* m_binder = nullptr;
  TaskListModel* m_taskModel = nullptr;
  NoticePresenter* m_notices = nullptr;
  QAction* m_exitAction = nullptr;
  std::function<void()> m_onExit;
  std::function<void()> m_saveStates;
  FolderPicker m_pickFolder;
  bool m_exiting = false;
};

}  // namespace korvid
