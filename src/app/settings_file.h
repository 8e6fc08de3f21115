#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "controls/control_names.h"
#include "controls/controls.h"

namespace korvid {

// A small INI file: "[section]" lines and "key=value" lines. A value runs from
// the first '=' to the end of the line, untrimmed, so any text without a line
// break round-trips; keys are trimmed. Lines starting with ';' or '#' are
// comments. The first of two equal keys wins.
//
// Files are written as UTF-8. Each line is read on its own: as UTF-8 when it
// is valid UTF-8, else as GBK (settings written by older versions), else as
// UTF-8 with each ill-formed byte read as U+FFFD. NUL bytes are dropped. So one
// bad line never costs the others, and any file of text loads.
class IniFile {
 public:
  enum class LoadResult { kLoaded, kMissing, kUnreadable };

  // Files larger than this are refused: a settings file never comes near it.
  static constexpr std::int64_t kMaxFileBytes = 16 * 1024 * 1024;

  // Replaces the content with the file's (empty unless kLoaded). Only a
  // regular file is read (a symbolic link is followed to one); a folder, a
  // device, a FIFO or a file above kMaxFileBytes is kUnreadable, with the
  // reason in *why. Never throws.
  [[nodiscard]] LoadResult Read(const std::string& path, std::string* why = nullptr);
  // Read(path) == kLoaded.
  [[nodiscard]] bool Load(const std::string& path);
  // Always true unless memory runs out.
  [[nodiscard]] bool Parse(std::string_view text);

  // Empty when the section or key is absent.
  [[nodiscard]] std::string Get(std::string_view section, std::string_view key) const;
  [[nodiscard]] bool Has(std::string_view section, std::string_view key) const;
  // Stored so that it reads back: line breaks and NUL bytes are dropped (they
  // would end the line), ill-formed UTF-8 becomes U+FFFD.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  [[nodiscard]] std::string ToText() const;
  // Atomic replace (a temporary file in the same folder, flushed to disk, then
  // renamed over the old one), created with mode 0600 since the file holds the
  // log-in cookie.
  [[nodiscard]] bool Save(const std::string& path) const;

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
  };

  [[nodiscard]] const std::string* Find(std::string_view section, std::string_view key) const;

  std::vector<Section> m_sections;
};

// Section names of the settings file, one per persisted control kind.
inline constexpr std::string_view kSectionEditBox = "编辑框";
inline constexpr std::string_view kSectionRadio = "单选框";
inline constexpr std::string_view kSectionCheckBox = "选择框";
inline constexpr std::string_view kSectionDropDown = "组合框";

// Edit-box text as stored: each line break (CR LF, or LF alone as the window's
// edit boxes give it) becomes "><br><", then each double quote "#引号".
[[nodiscard]] std::string EncodeEditText(std::string_view text);
// And back; line breaks come back as CR LF, as the control store keeps them.
[[nodiscard]] std::string DecodeEditText(std::string_view stored);
// "text<|>value<||>" per item, then "index<|>shown text"; quotes as "#引号".
[[nodiscard]] std::string EncodeDropDown(const std::vector<DropItem>& items, int selected,
                                         std::string_view shown);

// The number of parallel downloads (kMaxDownloadsBox) is never written empty:
// the file keeps the last number.

// Section and stored value of a persisted control as it is now; nullopt for
// other kinds and for a value that is never stored.
[[nodiscard]] std::optional<std::pair<std::string_view, std::string>> StoredState(
    const Controls& controls, const std::string& name);

// Restores every edit box, radio button, check box and drop-down of the
// controls from the settings file (path empty: the program's 配置/Korvid配置.ini).
// A missing file restores nothing; an empty value leaves its control as it is.
// A file that cannot be read is never overwritten: it is renamed aside
// ("Korvid配置.ini.unreadable-1", ...) with a notice saying so, and the
// controls keep their defaults. False when nothing was read.
bool RestoreStates(Controls& controls, const std::string& path = "");
// Writes every control of those kinds, keeping the file's other keys; false
// when the file could not be written.
bool SaveStates(Controls& controls, const std::string& path = "");
// Writes the persisted controls among `names`, keeping every other key of the
// file as it is on disk now; false when the file could not be written.
bool SaveStates(Controls& controls, const std::vector<std::string>& names,
                const std::string& path = "");
// Writes the one persisted control `name`, keeping every other key of the
// file as it is on disk now; false when it is not a persisted control or the
// file could not be written.
bool SaveState(Controls& controls, std::string_view name, const std::string& path = "");

// Every read-modify-write of a settings file holds an advisory lock (flock on
// path + ".lock"), so the window and the command line can change one file
// side by side without losing each other's changes.
inline constexpr std::string_view kSettingsLockSuffix = ".lock";

// That lock, held while the object lives: flock on a file beside the settings
// file, released when the descriptor closes, also when the process dies. Waits
// up to 5 s for another holder; Held() is false when it did not get the lock.
class SettingsLock {
 public:
  explicit SettingsLock(const std::string& settingsPath);
  ~SettingsLock();
  SettingsLock(const SettingsLock&) = delete;
  SettingsLock& operator=(const SettingsLock&) = delete;

  [[nodiscard]] bool Held() const { return m_fd >= 0; }

 private:
  int m_fd;
};

}  // namespace korvid
