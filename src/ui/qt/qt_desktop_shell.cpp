#include "qt_desktop_shell.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QThread>
#include <QUrl>

namespace korvid {

QtDesktopShell::QtDesktopShell(QObject* parent) : QObject(parent) {}

template <typename Fn>
void QtDesktopShell::OnWindowThread(Fn&& fn) {
  if (QThread::currentThread() == thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(this, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
}

std::string QtDesktopShell::PickFolder(std::string_view title, std::string_view startFolder) {
  std::string answer;
  OnWindowThread([&] {
    const QString folder = QFileDialog::getExistingDirectory(
        m_dialogParent, QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
        QString::fromUtf8(startFolder.data(), static_cast<qsizetype>(startFolder.size())));
    answer = folder.toStdString();
  });
  return answer;
}

std::string QtDesktopShell::ClipboardText() {
  std::string text;
  OnWindowThread([&] { text = QGuiApplication::clipboard()->text().toStdString(); });
  return text;
}

void QtDesktopShell::SetClipboardText(std::string_view text) {
  const QString copy = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  OnWindowThread([&] { QGuiApplication::clipboard()->setText(copy); });
}

bool QtDesktopShell::Open(std::string_view path) {
  if (path.empty()) return false;
  const QString local = QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
  bool opened = false;
  OnWindowThread([&] { opened = QDesktopServices::openUrl(QUrl::fromLocalFile(local)); });
  return opened;
}

}  // namespace korvid
