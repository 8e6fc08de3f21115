#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace korvid {

// What the program asks of the desktop beyond its own controls: the folder
// picker, the clipboard and the desktop's "open". The Qt window installs its
// own; the command line and the tests use ScriptedShell. Any thread may call.
class DesktopShell {
 public:
  virtual ~DesktopShell() = default;

  // Asks the user for a folder, starting at startFolder. Blocks the calling
  // thread until the user answers; empty when cancelled or when nobody can be
  // asked.
  [[nodiscard]] virtual std::string PickFolder(std::string_view title,
                                               std::string_view startFolder) = 0;
  [[nodiscard]] virtual std::string ClipboardText() = 0;
  virtual void SetClipboardText(std::string_view text) = 0;
  // Opens a file or folder with the desktop's default program; false when
  // nothing could be opened.
  [[nodiscard]] virtual bool Open(std::string_view path) = 0;
};

// A desktop without a user: folder answers come from a script (empty once it
// runs out), the clipboard is a string, and opened paths are recorded.
class ScriptedShell : public DesktopShell {
 public:
  std::string PickFolder(std::string_view title, std::string_view startFolder) override;
  std::string ClipboardText() override;
  void SetClipboardText(std::string_view text) override;
  bool Open(std::string_view path) override;

  void QueueFolderAnswer(std::string folder);
  // Titles the picker was asked with, in order.
  [[nodiscard]] std::vector<std::string> PickerTitles() const;
  // Folders the picker was asked to start at, in order.
  [[nodiscard]] std::vector<std::string> PickerStartFolders() const;
  [[nodiscard]] std::vector<std::string> OpenedPaths() const;
  // What Open answers (true by default).
  void SetOpenResult(bool result);

 private:
  mutable std::mutex m_mutex;
  std::deque<std::string> m_folderAnswers;
  std::vector<std::string> m_pickerTitles;
  std::vector<std::string> m_pickerStarts;
  std::string m_clipboard;
  std::vector<std::string> m_opened;
  bool m_openResult = true;
};

}  // namespace korvid
