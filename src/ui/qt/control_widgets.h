#pragma once

#include <QObject>
#include <QWidget>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "controls/window_layout.h"

namespace korvid {

// The widgets made for the window layout's controls, by name, and which of
// them the page builders have placed so far.
class ControlWidgets {
 public:
  // Creates the object of every control of the layout as a child of owner:
  // the widget kind per control kind, objectName = control name.
  ControlWidgets(const std::vector<ControlSpec>& layout, QWidget* owner);

  // The object of a control; nullptr when the layout has no such control.
  [[nodiscard]] QObject* Object(std::string_view name) const;

  // The widget of a control for placing in a layout, marked as placed.
  // nullptr when the layout has no such control (page builders skip it).
  template <typename T = QWidget>
  [[nodiscard]] T* Take(std::string_view name) {
    auto it = m_entries.find(name);
    if (it == m_entries.end()) return nullptr;
    it->second.placed = true;
    return qobject_cast<T*>(it->second.object);
  }

  // Widgets of one window area that no page builder placed, in layout order.
  [[nodiscard]] std::vector<QWidget*> Unplaced(WindowArea area) const;

  // Every control with its kind, in layout order (for binding).
  struct Entry {
    std::string name;
    ControlKind kind;
    WindowArea area;
    QObject* object = nullptr;
    bool placed = false;
  };
  [[nodiscard]] std::vector<const Entry*> Entries() const;

 private:
  std::map<std::string, Entry, std::less<>> m_entries;
  std::vector<std::string> m_order;
};

// The edit boxes that hold several lines.
[[nodiscard]] bool IsMultiLineEdit(std::string_view name);

}  // namespace korvid
