#include "controls/desktop_shell.h"

namespace korvid {

std::string ScriptedShell::PickFolder(std::string_view title, std::string_view startFolder) {
  std::lock_guard lock(m_mutex);
  m_pickerTitles.emplace_back(title);
  m_pickerStarts.emplace_back(startFolder);
  if (m_folderAnswers.empty()) return {};
  std::string answer = std::move(m_folderAnswers.front());
  m_folderAnswers.pop_front();
  return answer;
}

std::string ScriptedShell::ClipboardText() {
  std::lock_guard lock(m_mutex);
  return m_clipboard;
}

void ScriptedShell::SetClipboardText(std::string_view text) {
  std::lock_guard lock(m_mutex);
  m_clipboard = text;
}

bool ScriptedShell::Open(std::string_view path) {
  std::lock_guard lock(m_mutex);
  m_opened.emplace_back(path);
  return m_openResult;
}

void ScriptedShell::QueueFolderAnswer(std::string folder) {
  std::lock_guard lock(m_mutex);
  m_folderAnswers.push_back(std::move(folder));
}

std::vector<std::string> ScriptedShell::PickerTitles() const {
  std::lock_guard lock(m_mutex);
  return m_pickerTitles;
}

std::vector<std::string> ScriptedShell::PickerStartFolders() const {
  std::lock_guard lock(m_mutex);
  return m_pickerStarts;
}

std::vector<std::string> ScriptedShell::OpenedPaths() const {
  std::lock_guard lock(m_mutex);
  return m_opened;
}

void ScriptedShell::SetOpenResult(bool result) {
  std::lock_guard lock(m_mutex);
  m_openResult = result;
}

}  // namespace korvid
