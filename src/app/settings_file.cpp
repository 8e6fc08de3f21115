#include "app/settings_file.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <fcntl.h>
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

bool IniFile::Load(const std::string& path) {
  m_sections.clear();
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) return false;
  return Parse(bytes);
}

bool IniFile::Parse(std::string_view text) {
  m_sections.clear();
  if (text.find('\0') != std::string_view::npos) return false;
  std::string decoded;
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  if (!IsValidUtf8(text)) {
    auto fromGbk = GbkToUtf8(text);
    if (!fromGbk) return false;
    decoded = std::move(*fromGbk);
    text = decoded;
  }
  Section* current = nullptr;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') continue;
    if (trimmed.front() == '[' && trimmed.find(']') != std::string_view::npos) {
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
}

std::string IniFile::Get(std::string_view section, std::string_view key) const {
  const std::string* value = Find(section, key);
  return value ? *value : std::string();
}

bool IniFile::Has(std::string_view section, std::string_view key) const {
  return Find(section, key) != nullptr;
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string clean;
  for (char c : value) {
    if (c != '\r' && c != '\n') clean.push_back(c);
  }
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
  return ReplaceAll(ReplaceAll(stored, kLineBreakMark, "\n"), kQuoteMark, "\"");
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
  IniFile ini;
  if (!ini.Load(ResolvePath(path))) return false;
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
  IniFile ini;
  // Other sections of the file (the site hosts) are kept; an unreadable file
  // is replaced.
  (void)ini.Load(file);
  for (const std::string& name : controls.Names(ControlKind::EditBox)) {
    ini.Set(kSectionEditBox, name, EncodeEditText(controls.Text(name)));
  }
  for (const std::string& name : controls.Names(ControlKind::RadioButton)) {
    ini.Set(kSectionRadio, name, controls.Checked(name) ? kTrue : kFalse);
  }
  for (const std::string& name : controls.Names(ControlKind::CheckBox)) {
    ini.Set(kSectionCheckBox, name, controls.Checked(name) ? kTrue : kFalse);
  }
  for (const std::string& name : controls.Names(ControlKind::DropDown)) {
    ini.Set(
        kSectionDropDown, name,
        EncodeDropDown(controls.Items(name), controls.SelectedIndex(name), controls.Text(name)));
  }
  return ini.Save(file);
}

}  // namespace korvid
