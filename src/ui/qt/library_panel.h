#pragma once

#include <QObject>
#include <memory>

#include "app/app_state.h"
#include "library/emby_upload.h"
#include "library/library_scan.h"
#include "library_model.h"

class QListView;
class QMainWindow;
class QMenu;

namespace korvid {

// The library tab: the icon list 图标列表框_文件管理 over the scan's results,
// its file menu ("文件菜单"), the folder and load buttons, and the Emby
// buttons. Finds its widgets in the window by their control names. Window
// thread only; the scan and the upload run on workers of their own.
class LibraryPanel : public QObject {
  Q_OBJECT

 public:
  LibraryPanel(AppState& state, QMainWindow& window, MsClock clock = SteadyNowMs);
  ~LibraryPanel() override;

  [[nodiscard]] LibraryBrowser& Browser() { return *m_browser; }
  [[nodiscard]] AvatarUploader& Uploader() { return *m_uploader; }
  [[nodiscard]] LibraryModel& Model() { return *m_model; }
  [[nodiscard]] QListView* View() const { return m_view; }

  // The file menu for one entry ("播放视频", "打开目录"); the caller owns it.
  [[nodiscard]] QMenu* CreateFileMenu(int row, QWidget* parent);

 private:
  void SetUpView();
  void ConnectButtons();
  void ShowList(std::shared_ptr<const LibraryList> entries);
  void OpenEmbyInBrowser();

  AppState& m_state;
  QMainWindow& m_window;
  QListView* m_view = nullptr;
  LibraryModel* m_model = nullptr;
  std::unique_ptr<LibraryBrowser> m_browser;
  std::unique_ptr<AvatarUploader> m_uploader;
};

}  // namespace korvid
