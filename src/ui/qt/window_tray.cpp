#include "window_tray.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>

#include "controls/control_names.h"
#include "main_window.h"
#include "ui_fonts.h"

namespace korvid {

namespace {

constexpr int kMenuPointSize = 12;
constexpr int kMenuWidth = 80;
constexpr int kIconSize = 64;

// The program carries no icon file; this one is drawn.
QIcon DrawnIcon() {
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(0x00, 0xAC, 0xFF));
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(pixmap.rect().adjusted(2, 2, -2, -2), 14, 14);
  painter.setPen(Qt::white);
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(kIconSize * 5 / 8);
  painter.setFont(font);
  painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("K"));
  return QIcon(pixmap);
}

}  // namespace

std::string TrayTip(std::string_view text) {
  if (text.size() <= kTrayTipMaxBytes) return std::string(text);
  std::size_t end = kTrayTipMaxBytes;
  // Back up over continuation bytes (10xxxxxx) to the start of a character.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

void ToggleWindow(MainWindow& window) {
  if (window.isVisible() && !window.isMinimized()) {
    window.hide();
  } else {
    window.BringToFront();
  }
}

WindowTray::WindowTray(Controls& controls, MainWindow& window)
    : QObject(&window), m_controls(controls), m_window(window) {
  m_icon =
      new QSystemTrayIcon(window.windowIcon().isNull() ? DrawnIcon() : window.windowIcon(), this);
  m_icon->setObjectName(QStringLiteral("托盘图标"));
  m_icon->setToolTip(QString::fromStdString(TrayTip(kTrayTip)));
  m_menu = new QMenu(QStringLiteral("退出程序"), &window);
  m_menu->setObjectName(QStringLiteral("退出程序"));
  m_menu->setFont(YaHeiFont(kMenuPointSize));
  m_menu->setMinimumWidth(kMenuWidth);
  connect(m_menu->addAction(QStringLiteral("退出程序")), &QAction::triggered, this, [this] {
    Remove();
    m_window.Exit();
    // The user chose to stay (tasks unfinished): the icon comes back.
    if (!m_window.Exiting()) {
      m_removed = false;
      m_icon->show();
    }
  });
  m_icon->setContextMenu(m_menu);
  connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
    if (why == QSystemTrayIcon::Trigger) m_window.BringToFront();
  });
  if (window.windowIcon().isNull()) window.setWindowIcon(m_icon->icon());
  window.installEventFilter(this);
  m_icon->show();
}

bool WindowTray::Shown() const {
  return !m_removed && m_icon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void WindowTray::Remove() {
  m_removed = true;
  m_icon->hide();
}

void WindowTray::Notify(const QString& text) {
  m_lastMessage = text;
  if (Shown()) m_icon->showMessage(m_window.windowTitle(), text, QSystemTrayIcon::Information);
}

bool WindowTray::HidesToTray() const {
  return Shown() && m_controls.Checked(kTrayOnCloseCheck);
}

bool WindowTray::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &m_window || !HidesToTray()) return false;
  if (event->type() == QEvent::Close) {
    // Closing sends the window to the tray. "退出程序" removes the icon first,
    // so its close passes.
    event->ignore();
    m_window.hide();
    return true;
  }
  if (event->type() == QEvent::WindowStateChange && m_window.isMinimized()) {
    // Hiding inside the state change confuses some window managers.
    QTimer::singleShot(0, &m_window, [this] {
      if (m_window.isMinimized()) m_window.hide();
    });
  }
  return false;
}

}  // namespace korvid
