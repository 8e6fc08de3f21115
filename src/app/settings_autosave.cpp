#include "app/settings_autosave.h"

#include <utility>
#include <vector>

#include "app/settings_file.h"

namespace korvid {

SettingsAutosave::SettingsAutosave(Controls& controls, std::string settingsPath)
    : m_controls(controls), m_path(std::move(settingsPath)), m_saved(CurrentValues()) {}

SettingsAutosave::~SettingsAutosave() {
  Stop();
}

void SettingsAutosave::Start() {
  (void)m_thread.Start("settings autosave", [this] { Loop(); });
}

void SettingsAutosave::Stop() {
  {
    std::lock_guard guard(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  m_thread.JoinAll();
  (void)SaveChanged();
}

void SettingsAutosave::Loop() {
  std::unique_lock held(m_mutex);
  while (!m_wake.wait_for(held, kPeriod, [this] { return m_stopping; })) {
    held.unlock();
    (void)SaveChanged();
    held.lock();
  }
}

std::map<std::string, std::string> SettingsAutosave::CurrentValues() const {
  std::map<std::string, std::string> values;
  for (ControlKind kind : {ControlKind::EditBox, ControlKind::RadioButton, ControlKind::CheckBox,
                           ControlKind::DropDown}) {
    for (std::string& name : m_controls.Names(kind)) {
      if (auto stored = StoredState(m_controls, name)) values[std::move(name)] = stored->second;
    }
  }
  return values;
}

bool SettingsAutosave::SaveChanged() {
  std::lock_guard guard(m_saveMutex);
  std::map<std::string, std::string> now = CurrentValues();
  std::vector<std::string> changed;
  for (const auto& [name, value] : now) {
    const auto saved = m_saved.find(name);
    if (saved == m_saved.end() || saved->second != value) changed.push_back(name);
  }
  if (changed.empty()) return true;
  if (!SaveStates(m_controls, changed, m_path)) return false;
  // What was written is what the file holds now; a change made while writing
  // is found next time.
  for (const std::string& name : changed) m_saved[name] = now[name];
  return true;
}

}  // namespace korvid
