#pragma once

#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "app/menus.h"
#include "app/tasks/task_list.h"
#include "app/window_placement.h"
#include "control_binder.h"
#include "control_widgets.h"
#include "controls/control_store.h"
#include "notice_presenter.h"
#include "task_list_model.h"

class QAction;
class QMenu;
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
  // Receives every menu choice: menu title, item text, and what it works on.
  using MenuHandler =
      std::function<void(const std::string& menu, const std::string& item, const MenuTarget&)>;

  // Item data role of 图标列表框_文件管理 entries that holds the entry's folder.

  MainWindow(ControlStore& store, TaskList& tasks, QWidget* parent = nullptr);
  ~MainWindow() override;

  [[nodiscard]] ControlBinder& Binder() { return *m_binder; }
  [[nodiscard]] TaskListModel& TaskModel() { return *m_taskModel; }
  [[nodiscard]] NoticePresenter& Notices() { return *m_notices; }
  [[nodiscard]] QTimer& ThreadClock();
  [[nodiscard]] QAction& ExitAction() { return *m_exitAction; }
  // The popup menus "列表菜单", "文件菜单" and "退出程序".
  [[nodiscard]] QMenu& ListMenu() { return *m_listMenu; }
  [[nodiscard]] QMenu& ExitMenu() { return *m_exitMenu; }
  // The task row (1-based) and library folder the menus act on.
  [[nodiscard]] const MenuTarget& Target() const { return m_target; }

  // What "退出程序" and an allowed close do before the window goes (save
  // the states, ...). Runs once.
  void SetExitHandler(std::function<void()> handler) { m_onExit = std::move(handler); }
  // Writes every control state to the settings file (after a new download
  // folder has been picked).
  void SetSaveStatesHandler(std::function<void()> handler) { m_saveStates = std::move(handler); }
  void SetMenuHandler(MenuHandler handler) { m_onMenu = std::move(handler); }
  // Where downloads go while 编辑框_下载路径 is empty.
  void SetDefaultDownloadFolder(std::string folder) { m_defaultFolder = std::move(folder); }
  // Asks the user a yes/no question; true for yes. A message box unless
  // replaced (tests answer it themselves).
  using Confirmer = std::function<bool(const QString& question)>;
  void SetConfirmer(Confirmer confirmer) { m_confirm = std::move(confirmer); }
  // How many tasks run or wait: an exit with any asks first.
  void SetUnfinishedCounter(std::function<int()> counter) { m_unfinished = std::move(counter); }
  // The task list view (超级列表框_下载列表).
  [[nodiscard]] QTableView& TaskView() { return *m_taskView; }
  // Connects a button of the layout (by control name) to a handler.
  void OnButton(std::string_view name, std::function<void()> handler);

  // Size, position and tabs, to remember across starts; and back, kept
  // inside the screens there are now.
  [[nodiscard]] WindowPlacement Placement() const;
  void ApplyPlacement(const WindowPlacement& placement);

  // Shows the window when hidden, restores it when minimised, and brings it
  // to the front.
  void BringToFront();
  // "退出程序": runs the exit handler, then closes for good.
  void Exit();
  // True once the window ends for good (the exit was not declined).
  [[nodiscard]] bool Exiting() const { return m_exiting; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildWindow();
  void BuildMenu();
  QMenu* BuildPopupMenu(std::string_view title, std::span<const std::string_view> items);
  void SetUpTaskView(QTableView& view);
  void BindControls();
  void ConnectSettingButtons();
  void FitToScreen();
  void OpenListMenu(const QPoint& position);
  void ConnectTaskView(QTableView& view);
  void OnTaskKey(int key);
  void ConnectEnterKeys();
  [[nodiscard]] bool Confirm(const QString& question);
  // False when tasks are unfinished and the user does not want to end.
  [[nodiscard]] bool ConfirmExit();

  ControlStore& m_store;
  std::unique_ptr<ControlWidgets> m_widgets;
  ControlBinder* m_binder = nullptr;
  TaskListModel* m_taskModel = nullptr;
  NoticePresenter* m_notices = nullptr;
  QTableView* m_taskView = nullptr;
  QAction* m_exitAction = nullptr;
  QMenu* m_listMenu = nullptr;
  QMenu* m_exitMenu = nullptr;
  MenuTarget m_target;
  std::function<void()> m_onExit;
  std::function<void()> m_saveStates;
  MenuHandler m_onMenu;
  Confirmer m_confirm;
  std::function<int()> m_unfinished;
  std::string m_defaultFolder;
  bool m_exiting = false;
};

}  // namespace korvid
