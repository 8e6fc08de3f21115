#pragma once

#include <QObject>
#include <QString>
#include <string>
#include <string_view>

#include "controls/controls.h"

class QMenu;
class QSystemTrayIcon;

namespace korvid {

class MainWindow;

inline constexpr std::string_view kTrayTip = "Korvid";
inline constexpr std::size_t kTrayTipMaxBytes = 127;

// A tip cut to at most 127 bytes, never inside a UTF-8 character.
[[nodiscard]] std::string TrayTip(std::string_view text);

// Hides a shown window; shows, restores and raises a hidden or minimised one.
void ToggleWindow(MainWindow& window);

// The notification-area icon of the main window: a left click shows and
// raises the window, the context menu "退出程序" ends the program. While
// 选择框_最小化到托盘 is checked and the icon is shown, closing or minimising
// the window hides it instead. Window thread only.
class WindowTray : public QObject {
  Q_OBJECT

 public:
  WindowTray(Controls& controls, MainWindow& window);

  // The icon shows (false where the desktop has no notification area).
  [[nodiscard]] bool Shown() const;
  [[nodiscard]] QSystemTrayIcon& Icon() { return *m_icon; }
  [[nodiscard]] QMenu& Menu() { return *m_menu; }
  // Removes the icon; afterwards closing the window closes it. The exit
  // handler calls it before the window closes.
  void Remove();
  // A desktop notification from the icon (when shown).
  void Notify(const QString& text);
  // The text of the last notification asked for, shown or not.
  [[nodiscard]] const QString& LastMessage() const { return m_lastMessage; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  [[nodiscard]] bool HidesToTray() const;

  Controls& m_controls;
  MainWindow& m_window;
  QSystemTrayIcon* m_icon = nullptr;
  QMenu* m_menu = nullptr;
  bool m_removed = false;
  QString m_lastMessage;
};

}  // namespace korvid
