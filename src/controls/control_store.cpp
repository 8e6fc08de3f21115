#include "controls/control_store.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <utility>

namespace korvid {
namespace {

template <typename Entry>
void PushBounded(std::deque<Entry>& list, Entry entry) {
  list.push_back(std::move(entry));
  while (list.size() > ControlStore::kHistoryLimit) list.pop_front();
}

// A misspelt name would otherwise read as empty and drop every write; debug
// builds (and so the tests) stop at once instead.
void ReportUnknownControl(std::string_view name) {
#ifdef NDEBUG
  (void)name;
#else
  std::fprintf(stderr, "korvid: unknown control \"%.*s\"\n", static_cast<int>(name.size()),
               name.data());
  std::abort();
#endif
}

}  // namespace

void ControlStore::Add(std::string_view name, ControlKind kind) {
  std::lock_guard guard(m_mutex);
  if (m_controls.contains(name)) return;
  State state;
  state.kind = kind;
  m_controls.emplace(std::string(name), std::move(state));
  m_order.emplace_back(name);
}

bool ControlStore::Has(std::string_view name) const {
  std::lock_guard guard(m_mutex);
  return m_controls.contains(name);
}

ControlKind ControlStore::KindOf(std::string_view name) const {
  std::lock_guard guard(m_mutex);
  const State* state = Find(name);
  return state ? state->kind : ControlKind::Hidden;
}

std::vector<std::string> ControlStore::Names(ControlKind kind) const {
  std::lock_guard guard(m_mutex);
  std::vector<std::string> names;
  for (const auto& name : m_order) {
    if (Find(name)->kind == kind) names.push_back(name);
  }
  return names;
}

std::string ControlStore::Text(std::string_view name) const {
  std::lock_guard guard(m_mutex);
  const State* state = Find(name);
  return state ? state->text : std::string();
}

void ControlStore::SetText(std::string_view name, std::string_view text) {
  std::unique_lock held(m_mutex);
  State* state = Find(name);
  if (!state) return;
  state->text.assign(text);
  MarkChanged(name, held);
}

bool ControlStore::Checked(std::string_view name) const {
  std::lock_guard guard(m_mutex);
  const State* state = Find(name);
  return state && state->checked;
}

void ControlStore::SetChecked(std::string_view name, bool checked) {
  std::unique_lock held(m_mutex);
  State* state = Find(name);
  if (!state) return;
  state->checked = checked;
  MarkChanged(name, held);
}

std::vector<DropItem> ControlStore::Items(std::string_view name) const {
  std::lock_guard guard(m_mutex);
  const State* state = Find(name);
  return state ? state->items : std::vector<DropItem>();
}

void ControlStore::ClearItems(std::string_view name) {
  std::unique_lock held(m_mutex);
  State* state = Find(name);
  if (!state) return;
  state->items.clear();
  state->selected = -1;
  state->text.clear();
  MarkChanged(name, held);
}

void ControlStore::AddItem(std::string_view name, DropItem item) {
  std::unique_lock held(m_mutex);
  State* state = Find(name);
  if (!state) return;
  state->items.push_back(std::move(item));
  MarkChanged(name, held);
}

int ControlStore::SelectedIndex(std::string_view name) const {
  std::lock_guard guard(m_mutex);
  const State* state = Find(name);
  return state ? state->selected : -1;
}

void ControlStore::SelectIndex(std::string_view name, int index) {
  std::unique_lock held(m_mutex);
  State* state = Find(name);
  if (!state) return;
  if (index < -1 || index >= static_cast<int>(state->items.size())) return;
  state->selected = index;
  state->text = index < 0 ? std::string() : state->items[static_cast<std::size_t>(index)].text;
  MarkChanged(name, held);
}

std::int64_t ControlStore::SelectedValue(std::string_view name) const {
  std::lock_guard guard(m_mutex);
  const State* state = Find(name);
  if (!state || state->selected < 0) return 0;
  return state->items[static_cast<std::size_t>(state->selected)].value;
}

std::vector<std::uint8_t> ControlStore::Picture(std::string_view name) const {
  std::lock_guard guard(m_mutex);
  const State* state = Find(name);
  return state ? state->picture : std::vector<std::uint8_t>();
}

void ControlStore::SetPicture(std::string_view name, std::vector<std::uint8_t> bytes) {
  std::unique_lock held(m_mutex);
  State* state = Find(name);
  if (!state) return;
  state->picture = std::move(bytes);
  MarkChanged(name, held);
}

bool ControlStore::Visible(std::string_view name) const {
  std::lock_guard guard(m_mutex);
  const State* state = Find(name);
  return state && state->visible;
}

void ControlStore::SetVisible(std::string_view name, bool visible) {
  std::unique_lock held(m_mutex);
  State* state = Find(name);
  if (!state) return;
  state->visible = visible;
  MarkChanged(name, held);
}

std::string ControlStore::Caption() const {
  std::lock_guard guard(m_mutex);
  return m_caption;
}

void ControlStore::SetCaption(std::string_view caption) {
  std::unique_lock held(m_mutex);
  m_caption.assign(caption);
  PushBounded(m_captionHistory, std::string(caption));
  MarkChanged("", held);
}

void ControlStore::ShowNotice(std::string_view text, std::string_view title) {
  std::unique_lock held(m_mutex);
  NoticeRecord record{std::string(text), std::string(title)};
  PushBounded(m_pendingNotices, record);
  PushBounded(m_noticeHistory, std::move(record));
  if (m_notified || !m_notify) return;
  m_notified = true;
  auto notify = m_notify;
  held.unlock();
  notify();
}

void ControlStore::SetTextFromUser(std::string_view name, std::string_view text) {
  std::lock_guard guard(m_mutex);
  if (State* state = Find(name)) state->text.assign(text);
}

void ControlStore::SetCheckedFromUser(std::string_view name, bool checked) {
  std::lock_guard guard(m_mutex);
  if (State* state = Find(name)) state->checked = checked;
}

void ControlStore::SelectIndexFromUser(std::string_view name, int index) {
  std::lock_guard guard(m_mutex);
  State* state = Find(name);
  if (!state || index < -1 || index >= static_cast<int>(state->items.size())) return;
  state->selected = index;
  state->text = index < 0 ? std::string() : state->items[static_cast<std::size_t>(index)].text;
}

std::set<std::string> ControlStore::TakeChangedControls() {
  std::lock_guard guard(m_mutex);
  m_notified = false;
  return std::exchange(m_changed, {});
}

std::vector<NoticeRecord> ControlStore::TakeNotices() {
  std::lock_guard guard(m_mutex);
  m_notified = false;
  std::vector<NoticeRecord> taken(std::make_move_iterator(m_pendingNotices.begin()),
                                  std::make_move_iterator(m_pendingNotices.end()));
  m_pendingNotices.clear();
  return taken;
}

std::vector<NoticeRecord> ControlStore::NoticeHistory() const {
  std::lock_guard guard(m_mutex);
  return {m_noticeHistory.begin(), m_noticeHistory.end()};
}

std::vector<std::string> ControlStore::CaptionHistory() const {
  std::lock_guard guard(m_mutex);
  return {m_captionHistory.begin(), m_captionHistory.end()};
}

void ControlStore::SetChangeNotifier(std::function<void()> notify) {
  std::lock_guard guard(m_mutex);
  m_notify = std::move(notify);
}

ControlStore::State* ControlStore::Find(std::string_view name) {
  auto it = m_controls.find(name);
  if (it == m_controls.end()) ReportUnknownControl(name);
  return it == m_controls.end() ? nullptr : &it->second;
}

const ControlStore::State* ControlStore::Find(std::string_view name) const {
  auto it = m_controls.find(name);
  if (it == m_controls.end()) ReportUnknownControl(name);
  return it == m_controls.end() ? nullptr : &it->second;
}

void ControlStore::MarkChanged(std::string_view name, std::unique_lock<std::mutex>& held) {
  m_changed.emplace(name);
  if (m_notified || !m_notify) return;
  m_notified = true;
  auto notify = m_notify;
  held.unlock();
  notify();
}

DesktopShell& ControlStore::Shell() {
  return *m_shell;
}

void ControlStore::SetShell(DesktopShell* shell) {
  m_shell = shell != nullptr ? shell : &m_scriptedShell;
}

}  // namespace korvid
