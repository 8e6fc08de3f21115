#include "control_binder.h"

#include <QAbstractButton>
#include <QColor>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSize>
#include <QWidget>

#include "app/readable_color.h"
#include "picture_box.h"

namespace korvid {

namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The item's colour, darkened where it would be hard to read on the list.
QRgb ShownColor(const DropItem& item) {
  return ReadableOn(item.color, kListBackground);
}

bool SameItems(const QComboBox& combo, const std::vector<DropItem>& items) {
  if (combo.count() != static_cast<int>(items.size())) return false;
  for (int i = 0; i < combo.count(); ++i) {
    const DropItem& item = items[static_cast<std::size_t>(i)];
    if (combo.itemText(i) != FromUtf8(item.text)) return false;
    if (combo.itemData(i).toLongLong() != item.value) return false;
    if (combo.itemData(i, Qt::ForegroundRole).value<QColor>().rgba() != ShownColor(item)) {
      return false;
    }
  }
  return true;
}

void FillItems(QComboBox& combo, const std::vector<DropItem>& items) {
  combo.clear();
  for (const DropItem& item : items) {
    combo.addItem(FromUtf8(item.text), QVariant::fromValue<qlonglong>(item.value));
    const int index = combo.count() - 1;
    combo.setItemData(index, QColor::fromRgba(ShownColor(item)), Qt::ForegroundRole);
    combo.setItemData(index, QSize(0, item.height), Qt::SizeHintRole);
  }
}

}  // namespace

QString ToWidgetText(std::string_view text) {
  QString result = FromUtf8(text);
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return result;
}

std::string FromWidgetText(const QString& text) {
  QString result = text;
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  result.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return result.toStdString();
}

ControlBinder::ControlBinder(ControlStore& store, QObject* parent)
    : QObject(parent),
      m_store(store),
      m_poster(std::make_shared<CrossThreadPoster>(this, [this] { Refresh(); })) {
  m_store.SetChangeNotifier(MakeNotifier(m_poster));
}

ControlBinder::~ControlBinder() {
  m_poster->Detach();
  m_store.SetChangeNotifier({});
}

void ControlBinder::Bind(std::string_view name, ControlKind kind, QObject* object) {
  auto [it, added] = m_bindings.insert_or_assign(std::string(name), Binding{kind, object});
  if (added) ConnectUserEdits(it->first, object);
}

QObject* ControlBinder::Object(std::string_view name) const {
  auto it = m_bindings.find(name);
  return it == m_bindings.end() ? nullptr : it->second.object;
}

void ControlBinder::ApplyAll() {
  // Everything is shown now, so what changed up to here is no longer pending.
  (void)m_store.TakeChangedControls();
  m_applying = true;
  for (const auto& [name, binding] : m_bindings) Apply(name, binding);
  m_applying = false;
  EmitPendingNotices();
}

void ControlBinder::Refresh() {
  const std::set<std::string> changed = m_store.TakeChangedControls();
  m_applying = true;
  for (const std::string& name : changed) {
    auto it = m_bindings.find(name);
    if (it != m_bindings.end()) Apply(name, it->second);
  }
  m_applying = false;
  EmitPendingNotices();
}

void ControlBinder::EmitPendingNotices() {
  for (const NoticeRecord& notice : m_store.TakeNotices()) {
    emit NoticeRequested(FromUtf8(notice.text), FromUtf8(notice.title));
  }
}

void ControlBinder::ConnectUserEdits(const std::string& name, QObject* object) {
  // The lambdas copy the name: the map key outlives them, but a copy costs
  // nothing next to a keystroke.
  if (auto* line = qobject_cast<QLineEdit*>(object)) {
    connect(line, &QLineEdit::textChanged, this, [this, name](const QString& text) {
      if (!m_applying) m_store.SetTextFromUser(name, FromWidgetText(text));
    });
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(object)) {
    connect(plain, &QPlainTextEdit::textChanged, this, [this, name, plain] {
      if (!m_applying) m_store.SetTextFromUser(name, FromWidgetText(plain->toPlainText()));
    });
  } else if (auto* combo = qobject_cast<QComboBox*>(object)) {
    connect(combo, &QComboBox::currentIndexChanged, this, [this, name](int index) {
      if (!m_applying) m_store.SelectIndexFromUser(name, index);
    });
  } else if (auto* button = qobject_cast<QAbstractButton*>(object);
             button && button->isCheckable()) {
    connect(button, &QAbstractButton::toggled, this, [this, name](bool checked) {
      if (!m_applying) m_store.SetCheckedFromUser(name, checked);
    });
  }
}

void ControlBinder::Apply(const std::string& name, const Binding& binding) {
  switch (binding.kind) {
    case ControlKind::Window:
      if (auto* window = qobject_cast<QWidget*>(binding.object)) {
        window->setWindowTitle(FromUtf8(m_store.Caption()));
      }
      return;
    case ControlKind::EditBox:
    case ControlKind::Label:
    case ControlKind::Button:
      ApplyText(name, binding.object);
      ApplyVisibility(name, binding.object);
      return;
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
      ApplyText(name, binding.object);
      if (auto* button = qobject_cast<QAbstractButton*>(binding.object)) {
        button->setChecked(m_store.Checked(name));
      }
      ApplyVisibility(name, binding.object);
      return;
    case ControlKind::DropDown:
      ApplyDropDown(name, binding.object);
      ApplyVisibility(name, binding.object);
      return;
    case ControlKind::PictureBox:
      if (auto* picture = qobject_cast<PictureBox*>(binding.object)) {
        picture->SetImageBytes(m_store.Picture(name));
      }
      ApplyVisibility(name, binding.object);
      return;
    case ControlKind::Hidden:
      ApplyText(name, binding.object);
      return;
    // The notice box belongs to the notice animation; tabs, the task list,
    // the icon list and the timer have models or behaviour of their own.
    case ControlKind::GroupBox:
    case ControlKind::TabControl:
    case ControlKind::TaskList:
    case ControlKind::IconList:
    case ControlKind::Timer:
      return;
  }
}

void ControlBinder::ApplyText(const std::string& name, QObject* object) {
  const QString text = ToWidgetText(m_store.Text(name));
  // Unchanged text is not set again, so the cursor and selection stay put.
  if (auto* line = qobject_cast<QLineEdit*>(object)) {
    if (line->text() != text) line->setText(text);
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(object)) {
    if (plain->toPlainText() != text) plain->setPlainText(text);
  } else if (auto* label = qobject_cast<QLabel*>(object)) {
    if (label->text() != text) label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(object)) {
    if (button->text() != text) button->setText(text);
  }
}

void ControlBinder::ApplyDropDown(const std::string& name, QObject* object) {
  auto* combo = qobject_cast<QComboBox*>(object);
  if (combo == nullptr) return;
  const std::vector<DropItem> items = m_store.Items(name);
  if (!SameItems(*combo, items)) FillItems(*combo, items);
  const int selected = m_store.SelectedIndex(name);
  if (combo->currentIndex() != selected) combo->setCurrentIndex(selected);
  // With nothing selected the box still shows the text it was given.
  combo->setPlaceholderText(selected < 0 ? FromUtf8(m_store.Text(name)) : QString());
}

void ControlBinder::ApplyVisibility(const std::string& name, QObject* object) {
  auto* widget = qobject_cast<QWidget*>(object);
  if (widget == nullptr) return;
  const bool visible = m_store.Visible(name);
  if (widget->isHidden() == visible) widget->setVisible(visible);
}

}  // namespace korvid
