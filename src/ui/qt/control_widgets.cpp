#include "control_widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <array>

#include "controls/control_names.h"
#include "notice_box.h"
#include "picture_box.h"

namespace korvid {

namespace {

constexpr std::array<std::string_view, 4> kMultiLineEdits = {kDanmakuStyleBox, kBlockListBox,
                                                             kDescriptionBox, kCookiesBox};

// The boxes the details loader fills; the user reads them but does not type.
constexpr std::array<std::string_view, 10> kReadOnlyEdits = {
    kTitleBox,    kUploaderNameBox, kUploaderIdBox, kPublishedBox, kDescriptionBox,
    kCategoryBox, kAidBox,          kCidBox,        kPageCountBox, kDurationBox};

constexpr int kThreadClockMs = 1000;

bool Contains(const auto& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

QWidget* CreateEditBox(std::string_view name) {
  if (IsMultiLineEdit(name)) {
    auto* edit = new QPlainTextEdit;
    edit->setReadOnly(Contains(kReadOnlyEdits, name));
    edit->setTabChangesFocus(true);
    return edit;
  }
  auto* edit = new QLineEdit;
  edit->setReadOnly(Contains(kReadOnlyEdits, name));
  return edit;
}

QWidget* CreateIconList() {
  // The library tab gives it its model.
  auto* list = new QListView;
  list->setViewMode(QListView::IconMode);
  list->setIconSize(QSize(160, 100));
  list->setResizeMode(QListView::Adjust);
  list->setMovement(QListView::Static);
  list->setSpacing(8);
  list->setUniformItemSizes(true);
  list->setWordWrap(true);
  return list;
}

// Labels show names, titles and descriptions from the site: as auto text, a
// title holding markup would be rendered (links, images) instead of shown.
QLabel* PlainLabel(QWidget* owner = nullptr) {
  auto* label = new QLabel(owner);
  label->setTextFormat(Qt::PlainText);
  return label;
}

QObject* CreateObject(const ControlSpec& spec, QWidget* owner) {
  switch (spec.kind) {
    case ControlKind::EditBox:
      return CreateEditBox(spec.name);
    case ControlKind::Label:
      return PlainLabel();
    case ControlKind::Button:
      return new QPushButton;
    case ControlKind::CheckBox:
      return new QCheckBox;
    case ControlKind::RadioButton:
      return new QRadioButton;
    case ControlKind::DropDown:
      return new QComboBox;
    case ControlKind::PictureBox:
      return new PictureBox;
    case ControlKind::GroupBox:
      // The only group box of the window is the notice box.
      return new NoticeBox(owner);
    case ControlKind::TabControl:
      return new QTabWidget;
    case ControlKind::TaskList:
      return new QTableView;
    case ControlKind::IconList:
      return CreateIconList();
    case ControlKind::Timer: {
      auto* timer = new QTimer(owner);
      timer->setInterval(kThreadClockMs);
      timer->start();
      return timer;
    }
    case ControlKind::Hidden: {
      auto* label = PlainLabel(owner);
      label->hide();
      return label;
    }
    case ControlKind::Window:
      return nullptr;
  }
  return nullptr;
}

}  // namespace

bool IsMultiLineEdit(std::string_view name) {
  return Contains(kMultiLineEdits, name);
}

ControlWidgets::ControlWidgets(const std::vector<ControlSpec>& layout, QWidget* owner) {
  for (const ControlSpec& spec : layout) {
    QObject* object = CreateObject(spec, owner);
    if (object == nullptr) continue;
    const QString name =
        QString::fromUtf8(spec.name.data(), static_cast<qsizetype>(spec.name.size()));
    object->setObjectName(name);
    // Widgets not yet in a layout belong to the owner, so none leaks when a
    // page builder leaves one out.
    if (auto* widget = qobject_cast<QWidget*>(object); widget && widget->parent() == nullptr) {
      widget->setParent(owner);
    }
    Entry entry{std::string(spec.name), spec.kind, spec.area, object, false};
    // Children of the window itself need no page.
    entry.placed = spec.area == WindowArea::Window && spec.kind != ControlKind::TabControl;
    m_order.push_back(entry.name);
    m_entries.emplace(entry.name, std::move(entry));
  }
}

QObject* ControlWidgets::Object(std::string_view name) const {
  auto it = m_entries.find(name);
  return it == m_entries.end() ? nullptr : it->second.object;
}

std::vector<QWidget*> ControlWidgets::Unplaced(WindowArea area) const {
  std::vector<QWidget*> widgets;
  for (const std::string& name : m_order) {
    const Entry& entry = m_entries.find(name)->second;
    if (entry.placed || entry.area != area) continue;
    if (auto* widget = qobject_cast<QWidget*>(entry.object)) widgets.push_back(widget);
  }
  return widgets;
}

std::vector<const ControlWidgets::Entry*> ControlWidgets::Entries() const {
  std::vector<const Entry*> entries;
  for (const std::string& name : m_order) entries.push_back(&m_entries.find(name)->second);
  return entries;
}

}  // namespace korvid
