// Shared pieces of korvid-cli: the verb table and the core start.

#include <algorithm>
#include <iostream>

#include "cli/cli_command.h"

#include "cli/terminal_text.h"
#include "controls/window_layout.h"

namespace korvid::cli {
namespace {

std::vector<Command>& Table() {
  static std::vector<Command> table;
  return table;
}

}  // namespace

bool RegisterCommand(const Command& command) {
  auto& table = Table();
  const auto at =
      std::upper_bound(table.begin(), table.end(), command,
                       [](const Command& a, const Command& b) { return a.order < b.order; });
  table.insert(at, command);
  return true;
}

const std::vector<Command>& Commands() {
  return Table();
}

Core::Core() : paths(ProgramPaths()) {
  CreateMainWindowControls(controls);
  started = StartCore(controls, paths);
  for (const NoticeRecord& notice : controls.TakeNotices()) {
    std::cerr << "korvid-cli: " << TerminalText(notice.text) << "\n";
  }
}

int Fail(std::string_view message) {
  std::cerr << "korvid-cli: " << TerminalText(message) << "\n";
  return 1;
}

int UsageError(std::string_view verb, std::string_view message) {
  std::cerr << "korvid-cli: " << TerminalText(message) << "\n";
  for (const Command& command : Commands()) {
    if (command.name == verb)
      std::cerr << "Usage: korvid-cli [--home DIR] " << command.usage << "\n";
  }
  return 2;
}

int NoArguments(std::string_view verb) {
  return UsageError(verb, std::string(verb) + " takes no arguments");
}

std::string PrintableLines(std::string_view text) {
  std::string lines;
  for (const char c : text) {
    if (c != '\r') lines += c;
  }
  return TerminalText(lines);
}

std::string SettingValue(const Controls& controls, const std::string& name) {
  switch (controls.KindOf(name)) {
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
      return controls.Checked(name) ? "真" : "假";
    case ControlKind::DropDown: {
      const int index = controls.SelectedIndex(name);
      return std::to_string(index) + " (" + controls.Text(name) + ")";
    }
    default:
      return TerminalText(controls.Text(name));
  }
}

}  // namespace korvid::cli
