#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "controls/controls.h"

namespace korvid {

// One notice as ShowNotice received it.
struct NoticeRecord {
  std::string text;
  std::string title;
};

// The state of every named control, in memory, behind one mutex. This is the
// headless Controls (tests, CLI) and also the model the Qt window mirrors: the
// window thread applies pending changes to its widgets and writes user edits
// back with the FromUser setters, which do not mark the control as changed.
class ControlStore : public Controls {
 public:
  ControlStore() = default;

  // Adds a control (before other threads use the store). A second Add of the
  // same name is ignored.
  void Add(std::string_view name, ControlKind kind);

  bool Has(std::string_view name) const override;
  ControlKind KindOf(std::string_view name) const override;
  std::vector<std::string> Names(ControlKind kind) const override;

  std::string Text(std::string_view name) const override;
  void SetText(std::string_view name, std::string_view text) override;
  bool Checked(std::string_view name) const override;
  void SetChecked(std::string_view name, bool checked) override;
  std::vector<DropItem> Items(std::string_view name) const override;
  void ClearItems(std::string_view name) override;
  void AddItem(std::string_view name, DropItem item) override;
  int SelectedIndex(std::string_view name) const override;
  void SelectIndex(std::string_view name, int index) override;
  std::int64_t SelectedValue(std::string_view name) const override;
  std::vector<std::uint8_t> Picture(std::string_view name) const override;
  void SetPicture(std::string_view name, std::vector<std::uint8_t> bytes) override;
  bool Visible(std::string_view name) const override;
  void SetVisible(std::string_view name, bool visible) override;
  std::string Caption() const override;
  void SetCaption(std::string_view caption) override;
  void ShowNotice(std::string_view text, std::string_view title) override;
  DesktopShell& Shell() override;

  // The desktop the window provides; until one is set (and for the command
  // line and tests) a ScriptedShell answers. Set once, before other threads run.
  void SetShell(DesktopShell* shell);
  [[nodiscard]] ScriptedShell& Scripted() { return m_scriptedShell; }

  // Window thread only: mirror what the user did in a widget, without
  // reporting it back as a pending change.
  void SetTextFromUser(std::string_view name, std::string_view text);
  void SetCheckedFromUser(std::string_view name, bool checked);
  void SelectIndexFromUser(std::string_view name, int index);

  // The notice and caption lists below keep at most this many entries, the
  // newest: the scheduler sets the caption every second for as long as the
  // program runs, and notices pile up where no window takes them.
  static constexpr std::size_t kHistoryLimit = 256;

  // Names of controls changed since the last call ("" stands for the caption),
  // and the notices shown since the last call, in order.
  std::set<std::string> TakeChangedControls();
  std::vector<NoticeRecord> TakeNotices();
  // The latest notices shown and captions set, in order (tests).
  std::vector<NoticeRecord> NoticeHistory() const;
  std::vector<std::string> CaptionHistory() const;

  // Called on the writing thread after a change or notice, at most once until
  // the next TakeChangedControls/TakeNotices; the Qt window posts a refresh to
  // its own thread from here. Set once, before other threads run.
  void SetChangeNotifier(std::function<void()> notify);

 private:
  struct State {
    ControlKind kind = ControlKind::Hidden;
    std::string text;
    bool checked = false;
    bool visible = true;
    std::vector<DropItem> items;
    int selected = -1;
    std::vector<std::uint8_t> picture;
  };

  State* Find(std::string_view name);              // m_mutex held
  const State* Find(std::string_view name) const;  // m_mutex held
  void MarkChanged(std::string_view name, std::unique_lock<std::mutex>& held);

  mutable std::mutex m_mutex;
  std::map<std::string, State, std::less<>> m_controls;
  std::vector<std::string> m_order;
  std::string m_caption = "Korvid";
  std::set<std::string> m_changed;
  std::deque<NoticeRecord> m_pendingNotices;
  std::deque<NoticeRecord> m_noticeHistory;
  std::deque<std::string> m_captionHistory;
  bool m_notified = false;
  std::function<void()> m_notify;
  ScriptedShell m_scriptedShell;
  DesktopShell* m_shell = &m_scriptedShell;
};

}  // namespace korvid
