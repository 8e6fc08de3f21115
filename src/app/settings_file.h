#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "controls/controls.h"

namespace korvid {

// A small INI file: "[section]" lines and "key=value" lines. A value runs from
// the first '=' to the end of the line, untrimmed, so any text without a line
// break round-trips; keys are trimmed. Lines starting with ';' or '#' are
// comments. The first of two equal keys wins.
//
// Files are written as UTF-8. A file that is not valid UTF-8 is read as GBK, so
// settings written by older versions still load.
class IniFile {
 public:
  // Replaces the content with the file's. False (and empty) when the file is
  // missing, unreadable or not text.
  [[nodiscard]] bool Load(const std::string& path);
  [[nodiscard]] bool Parse(std::string_view text);

  // Empty when the section or key is absent.
  [[nodiscard]] std::string Get(std::string_view section, std::string_view key) const;
  [[nodiscard]] bool Has(std::string_view section, std::string_view key) const;
  // Line breaks in the value are dropped: they would end the line.
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
// And back; line breaks come back as "\n".
[[nodiscard]] std::string DecodeEditText(std::string_view stored);
// "text<|>value<||>" per item, then "index<|>shown text"; quotes as "#引号".
[[nodiscard]] std::string EncodeDropDown(const std::vector<DropItem>& items, int selected,
                                         std::string_view shown);

// Restores every edit box, radio button, check box and drop-down of the
// controls from the settings file (path empty: the program's 配置/Korvid配置.ini).
// A missing or unreadable file restores nothing; an empty value leaves its
// control as it is. False when the file could not be read.
bool RestoreStates(Controls& controls, const std::string& path = "");
// Writes every control of those kinds; false when the file could not be written.
bool SaveStates(Controls& controls, const std::string& path = "");

}  // namespace korvid
