#include "app/settings_file.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/app_paths.h"
#include "net/text_codec.h"
#include "net/text_width.h"

namespace fs = std::filesystem;

namespace korvid {

namespace {

constexpr std::string_view kLineBreakMark = "><br><";
constexpr std::string_view kQuoteMark = "#引号";
constexpr std::string_view kItemEnd = "<||>";
constexpr std::string_view kFieldSeparator = "<|>";
constexpr std::string_view kTrue = "真";
constexpr std::string_view kFalse = "假";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kSetAsideSuffix = ".unreadable-";
constexpr int kMaxSetAsideNames = 1000;
// A writer holds the lock only for one read-modify-write; waiting longer than
// this means the holder is stuck, and the save fails instead of hanging.
constexpr auto kLockWait = std::chrono::seconds(5);
constexpr auto kLockPoll = std::chrono::milliseconds(10);

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string result;
  std::size_t start = 0;
  for (std::size_t hit = text.find(from); hit != std::string_view::npos;
       hit = text.find(from, start)) {
    result.append(text.substr(start, hit - start)).append(to);
    start = hit + from.size();
  }
  result.append(text.substr(start));
  return result;
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The leading decimal integer, as atoi reads it; 0 when there is none.
std::int64_t LeadingInteger(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Makes a rename inside the folder durable; failure only weakens that.
void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

class FileCloser {
 public:
  explicit FileCloser(int fd) : m_fd(fd) {}
  ~FileCloser() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

 private:
  int m_fd;
};

void Explain(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
}

// O_NONBLOCK: opening a FIFO must not wait for a writer; the type check below
// refuses it before anything is read.
IniFile::LoadResult ReadRegularFile(const std::string& path, std::string& bytes, std::string* why) {
  using Result = IniFile::LoadResult;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Result::kMissing;
    Explain(why, std::strerror(errno));
    return Result::kUnreadable;
  }
  FileCloser closer(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    Explain(why, std::strerror(errno));
    return Result::kUnreadable;
  }
  if (!S_ISREG(info.st_mode)) {
    Explain(why, "不是普通文件");
    return Result::kUnreadable;
  }
  constexpr auto kLimit = static_cast<std::size_t>(IniFile::kMaxFileBytes);
  if (info.st_size > IniFile::kMaxFileBytes) {
    Explain(why, "文件大于 16 MiB");
    return Result::kUnreadable;
  }
  char buffer[64 * 1024];
  while (true) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      Explain(why, std::strerror(errno));
      return Result::kUnreadable;
    }
    if (got == 0) return Result::kLoaded;
    bytes.append(buffer, static_cast<std::size_t>(got));
    if (bytes.size() > kLimit) {  // it grew while being read
      Explain(why, "文件大于 16 MiB");
      return Result::kUnreadable;
    }
  }
}

// One line of the file as UTF-8 text; `repaired` tells that bytes were lost.
std::string DecodeLine(std::string_view raw, bool& repaired) {
  std::string withoutNul;
  if (raw.find('\0') != std::string_view::npos) {
    for (char c : raw) {
      if (c != '\0') withoutNul.push_back(c);
    }
    raw = withoutNul;
  }
  repaired = false;
  if (IsValidUtf8(raw)) return std::string(raw);
  if (auto fromGbk = GbkToUtf8(raw)) return std::move(*fromGbk);
  repaired = true;
  return RepairUtf8(raw);
}

std::string StorableText(std::string_view text) {
  std::string clean;
  clean.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n' && c != '\0') clean.push_back(c);
  }
  return IsValidUtf8(clean) ? clean : RepairUtf8(clean);
}

}  // namespace

SettingsLock::SettingsLock(const std::string& settingsPath)
    : m_fd(::open((settingsPath + std::string(kSettingsLockSuffix)).c_str(),
                  O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
  if (m_fd < 0) return;
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
    const bool busy = errno == EWOULDBLOCK || errno == EINTR;
    if (!busy || std::chrono::steady_clock::now() >= deadline) {
      ::close(m_fd);
      m_fd = -1;
      return;
    }
    std::this_thread::sleep_for(kLockPoll);
  }
}

SettingsLock::~SettingsLock() {
  if (m_fd >= 0) ::close(m_fd);
}

namespace {

// Renames an unreadable settings file to the first free
// "<name>.unreadable-N"; the new path, or nullopt when it stays where it is.
std::optional<std::string> SetAside(const std::string& file) {
  for (int n = 1; n <= kMaxSetAsideNames; ++n) {
    const std::string target = file + std::string(kSetAsideSuffix) + std::to_string(n);
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0) continue;
    if (::rename(file.c_str(), target.c_str()) == 0) return target;
    return std::nullopt;
  }
  return std::nullopt;
}

// True when the file may now be written: it was read, is missing, or could be
// renamed aside. Call with the lock held.
bool ReadForUpdate(IniFile& ini, const std::string& file, Controls& controls) {
  std::string why;
  if (ini.Read(file, &why) != IniFile::LoadResult::kUnreadable) return true;
  const std::optional<std::string> keptAs = SetAside(file);
  const std::string head = "配置文件无法读取（" + why + "），";
  if (!keptAs) {
    controls.ShowNotice(head + "未作改动，设置不会保存", kNoticeFailed);
    return false;
  }
  controls.ShowNotice(head + "已另存为 " + fs::path(*keptAs).filename().string() + "，使用默认设置",
                      kNoticeFailed);
  return true;
}

}  // namespace

std::optional<std::pair<std::string_view, std::string>> StoredState(const Controls& controls,
                                                                    const std::string& name) {
  switch (controls.KindOf(name)) {
    case ControlKind::EditBox:
      // An empty count would start no download at the next start, silently.
      if (name == kMaxDownloadsBox && controls.Text(name).empty()) return std::nullopt;
      return std::pair{kSectionEditBox, EncodeEditText(controls.Text(name))};
    case ControlKind::RadioButton:
      return std::pair{kSectionRadio, std::string(controls.Checked(name) ? kTrue : kFalse)};
    case ControlKind::CheckBox:
      return std::pair{kSectionCheckBox, std::string(controls.Checked(name) ? kTrue : kFalse)};
    case ControlKind::DropDown:
      return std::pair{
          kSectionDropDown,
          EncodeDropDown(controls.Items(name), controls.SelectedIndex(name), controls.Text(name))};
    default:
      return std::nullopt;
  }
}

namespace {

std::string ResolvePath(const std::string& path) {
  return path.empty() ? ProgramPaths().ConfigFile().string() : path;
}

void RestoreDropDown(Controls& controls, const std::string& name, std::string_view stored) {
  const std::string value = ReplaceAll(stored, kQuoteMark, "\"");
  controls.ClearItems(name);
  std::string_view rest = value;
  for (std::size_t end = rest.find(kItemEnd); end != std::string_view::npos;
       end = rest.find(kItemEnd)) {
    const std::string_view piece = rest.substr(0, end);
    const std::size_t separator = piece.find(kFieldSeparator);
    DropItem item;
    item.text = std::string(piece.substr(0, separator));
    if (separator != std::string_view::npos) {
      item.value = LeadingInteger(piece.substr(separator + kFieldSeparator.size()));
    }
    controls.AddItem(name, std::move(item));
    rest.remove_prefix(end + kItemEnd.size());
  }
  const std::size_t separator = rest.find(kFieldSeparator);
  controls.SelectIndex(name, static_cast<int>(LeadingInteger(rest.substr(0, separator))));
  if (separator != std::string_view::npos) {
    controls.SetText(name, rest.substr(separator + kFieldSeparator.size()));
  }
}

}  // namespace

IniFile::LoadResult IniFile::Read(const std::string& path, std::string* why) {
  m_sections.clear();
  try {
    std::string bytes;
    const LoadResult result = ReadRegularFile(path, bytes, why);
    if (result != LoadResult::kLoaded) return result;
    if (Parse(bytes)) return LoadResult::kLoaded;
  } catch (...) {
    // Only memory can run out here; the file is left as it is.
  }
  m_sections.clear();
  Explain(why, "内存不足");
  return LoadResult::kUnreadable;
}

bool IniFile::Load(const std::string& path) {
  return Read(path) == LoadResult::kLoaded;
}

bool IniFile::Parse(std::string_view text) {
  m_sections.clear();
  try {
    if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
    Section* current = nullptr;
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      std::string_view raw = text.substr(0, end);
      text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
      if (raw.ends_with('\r')) raw.remove_suffix(1);
      bool repaired = false;
      const std::string decoded = DecodeLine(raw, repaired);
      const std::string_view line = decoded;
      const std::string_view trimmed = Trim(line);
      if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') continue;
      // A damaged line never opens a section, so it cannot carry the keys
      // after it off into one of its own.
      if (trimmed.front() == '[' && trimmed.find(']') != std::string_view::npos) {
        if (repaired) continue;
        const std::string_view name = Trim(trimmed.substr(1, trimmed.find(']') - 1));
        m_sections.push_back(Section{std::string(name), {}});
        current = &m_sections.back();
        continue;
      }
      const std::size_t equals = line.find('=');
      if (!current || equals == std::string_view::npos) continue;
      current->entries.emplace_back(std::string(Trim(line.substr(0, equals))),
                                    std::string(line.substr(equals + 1)));
    }
    return true;
  } catch (...) {
    m_sections.clear();
    return false;
  }
}

std::string IniFile::Get(std::string_view section, std::string_view key) const {
  const std::string* value = Find(section, key);
  return value ? *value : std::string();
}

bool IniFile::Has(std::string_view section, std::string_view key) const {
  return Find(section, key) != nullptr;
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string clean = StorableText(value);
  Section* target = nullptr;
  for (Section& candidate : m_sections) {
    if (candidate.name == section) {
      target = &candidate;
      break;
    }
  }
  if (!target) {
    m_sections.push_back(Section{std::string(section), {}});
    target = &m_sections.back();
  }
  for (auto& [entryKey, entryValue] : target->entries) {
    if (entryKey == key) {
      entryValue = std::move(clean);
      return;
    }
  }
  target->entries.emplace_back(std::string(key), std::move(clean));
}

std::string IniFile::ToText() const {
  std::string text;
  for (const Section& section : m_sections) {
    text.append("[").append(section.name).append("]\n");
    for (const auto& [key, value] : section.entries)
      text.append(key).append("=").append(value).append("\n");
  }
  return text;
}

bool IniFile::Save(const std::string& path) const {
  const fs::path target(path);
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());  // mode 0600
  if (fd < 0) return false;
  const bool written = WriteAll(fd, ToText()) && ::fchmod(fd, 0600) == 0 && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  SyncFolder(target.parent_path());
  return true;
}

const std::string* IniFile::Find(std::string_view section, std::string_view key) const {
  for (const Section& candidate : m_sections) {
    if (candidate.name != section) continue;
    for (const auto& [entryKey, entryValue] : candidate.entries) {
      if (entryKey == key) return &entryValue;
    }
  }
  return nullptr;
}

std::string EncodeEditText(std::string_view text) {
  std::string lines = ReplaceAll(text, "\r\n", kLineBreakMark);
  lines = ReplaceAll(lines, "\n", kLineBreakMark);
  lines = ReplaceAll(lines, "\r", kLineBreakMark);
  return ReplaceAll(lines, "\"", kQuoteMark);
}

std::string DecodeEditText(std::string_view stored) {
  return ReplaceAll(ReplaceAll(stored, kLineBreakMark, "\r\n"), kQuoteMark, "\"");
}

std::string EncodeDropDown(const std::vector<DropItem>& items, int selected,
                           std::string_view shown) {
  std::string value;
  for (const DropItem& item : items) {
    value.append(item.text).append(kFieldSeparator).append(std::to_string(item.value));
    value.append(kItemEnd);
  }
  value.append(std::to_string(selected)).append(kFieldSeparator).append(shown);
  return ReplaceAll(value, "\"", kQuoteMark);
}

bool RestoreStates(Controls& controls, const std::string& path) {
  const std::string file = ResolvePath(path);
  IniFile ini;
  const IniFile::LoadResult result = ini.Read(file);
  if (result == IniFile::LoadResult::kMissing) return false;
  if (result == IniFile::LoadResult::kUnreadable) {
    SettingsLock lock(file);
    (void)ReadForUpdate(ini, file, controls);
    return false;
  }
  for (const std::string& name : controls.Names(ControlKind::EditBox)) {
    const std::string value = ini.Get(kSectionEditBox, name);
    if (!value.empty()) controls.SetText(name, DecodeEditText(value));
  }
  for (const std::string& name : controls.Names(ControlKind::RadioButton)) {
    const std::string value = ini.Get(kSectionRadio, name);
    if (!value.empty()) controls.SetChecked(name, value != kFalse);
  }
  for (const std::string& name : controls.Names(ControlKind::CheckBox)) {
    const std::string value = ini.Get(kSectionCheckBox, name);
    if (!value.empty()) controls.SetChecked(name, value != kFalse);
  }
  for (const std::string& name : controls.Names(ControlKind::DropDown)) {
    const std::string value = ini.Get(kSectionDropDown, name);
    if (!value.empty()) RestoreDropDown(controls, name, value);
  }
  return true;
}

bool SaveStates(Controls& controls, const std::string& path) {
  const std::string file = ResolvePath(path);
  SettingsLock lock(file);
  IniFile ini;
  // Other sections of the file (the site hosts) are kept.
  if (!lock.Held() || !ReadForUpdate(ini, file, controls)) return false;
  for (ControlKind kind : {ControlKind::EditBox, ControlKind::RadioButton, ControlKind::CheckBox,
                           ControlKind::DropDown}) {
    for (const std::string& name : controls.Names(kind)) {
      if (auto stored = StoredState(controls, name)) ini.Set(stored->first, name, stored->second);
    }
  }
  return ini.Save(file);
}

bool SaveStates(Controls& controls, const std::vector<std::string>& names,
                const std::string& path) {
  const std::string file = ResolvePath(path);
  SettingsLock lock(file);
  IniFile ini;
  if (!lock.Held() || !ReadForUpdate(ini, file, controls)) return false;
  for (const std::string& name : names) {
    if (auto stored = StoredState(controls, name)) ini.Set(stored->first, name, stored->second);
  }
  return ini.Save(file);
}

bool SaveState(Controls& controls, std::string_view name, const std::string& path) {
  const std::string key(name);
  const auto stored = StoredState(controls, key);
  if (!stored) return false;
  const std::string file = ResolvePath(path);
  SettingsLock lock(file);
  IniFile ini;
  if (!lock.Held() || !ReadForUpdate(ini, file, controls)) return false;
  ini.Set(stored->first, key, stored->second);
  return ini.Save(file);
}

}  // namespace korvid
