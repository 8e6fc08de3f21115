#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "controls/control_store.h"
#include "cross_thread_poster.h"

namespace korvid {

// The one crossing between the workers and the widgets. Workers write to the
// ControlStore from any thread; the store's change notifier (running on the
// writing thread) posts one refresh to the window thread, which takes the
// changed names and pending notices and applies them to the widgets. The
// user's edits go the other way with the store's FromUser setters, which do
// not come back as changes. Everything except the notifier runs on the window
// thread.
class ControlBinder : public QObject {
  Q_OBJECT

 public:
  explicit ControlBinder(ControlStore& store, QObject* parent = nullptr);
  ~ControlBinder() override;
  ControlBinder(const ControlBinder&) = delete;
  ControlBinder& operator=(const ControlBinder&) = delete;

  // Binds the widget (or timer) that shows control `name`, and forwards the
  // user's edits in it to the store. The name "" binds the main window, whose
  // title shows the store's caption.
  void Bind(std::string_view name, ControlKind kind, QObject* object);
  // The bound object of a name, or nullptr.
  [[nodiscard]] QObject* Object(std::string_view name) const;

  // Shows the store's current state in every bound widget (after a restore)
  // and the notices shown before the window existed.
  void ApplyAll();
  // Applies what changed since the last refresh and emits the pending
  // notices. Posted by the store's notifier; tests may call it directly.
  void Refresh();

 signals:
  void NoticeRequested(const QString& text, const QString& title);

 private:
  struct Binding {
    ControlKind kind;
    QObject* object;
  };

  void EmitPendingNotices();
  void ConnectUserEdits(const std::string& name, QObject* object);
  void Apply(const std::string& name, const Binding& binding);
  void ApplyText(const std::string& name, QObject* object);
  void ApplyDropDown(const std::string& name, QObject* object);
  void ApplyVisibility(const std::string& name, QObject* object);

  ControlStore& m_store;
  std::shared_ptr<CrossThreadPoster> m_poster;
  std::map<std::string, Binding, std::less<>> m_bindings;
  // True while store state is written into widgets: their change signals are
  // then echoes, not user edits.
  bool m_applying = false;
};

// Control texts use CR LF between lines (as the settings file and the site
// code expect); Qt widgets use LF.
QString ToWidgetText(std::string_view text);
std::string FromWidgetText(const QString& text);

}  // namespace korvid
