#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "controls/desktop_shell.h"

namespace korvid {

// The desktop behind the Qt window. Callable from any thread: a worker's call
// is carried out on the window thread and the worker waits for the answer
// (the window thread never waits for a worker, so this cannot deadlock).
class QtDesktopShell : public QObject, public DesktopShell {
  Q_OBJECT
 public:
  explicit QtDesktopShell(QObject* parent = nullptr);

  // The window the folder dialog belongs to.
  void SetDialogParent(QWidget* parent) { m_dialogParent = parent; }

  std::string PickFolder(std::string_view title, std::string_view startFolder) override;
  std::string ClipboardText() override;
  void SetClipboardText(std::string_view text) override;
  bool Open(std::string_view path) override;

 private:
  template <typename Fn>
  void OnWindowThread(Fn&& fn);

  QPointer<QWidget> m_dialogParent;
};

}  // namespace korvid
