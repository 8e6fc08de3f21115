// Verbs about the program's own state: folders, hosts and settings.

#include <cstdlib>
#include <iostream>

#include "app/settings_file.h"
#include "cli/cli_command.h"
#include "net/site_hosts.h"
#include "net/text_width.h"

namespace korvid::cli {
namespace {

std::vector<std::string> PersistedNames(const Controls& controls) {
  std::vector<std::string> names;
  for (ControlKind kind : {ControlKind::EditBox, ControlKind::RadioButton, ControlKind::CheckBox,
                           ControlKind::DropDown}) {
    for (auto& name : controls.Names(kind)) names.push_back(std::move(name));
  }
  return names;
}

int ShowPaths() {
  Core core;
  std::cout << "program folder: " << TerminalLine(core.paths.programFolder.string()) << "\n"
            << "配置: " << TerminalLine(core.paths.ConfigFolder().string()) << "\n"
            << "下载: " << TerminalLine(core.paths.DownloadFolder().string()) << "\n"
            << "头像: " << TerminalLine(core.paths.AvatarFolder().string()) << "\n"
            << "settings file: " << TerminalLine(core.started.settingsPath)
            << (core.started.settingsRestored ? "" : " (not yet written)") << "\n"
            << "ffmpeg: "
            << (core.started.ffmpeg.empty() ? "(none found)" : TerminalLine(core.started.ffmpeg))
            << "\n";
  return 0;
}

int ShowHosts() {
  Core core;
  const SiteHosts hosts = CurrentSiteHosts();
  std::cout << "web: " << TerminalLine(hosts.web) << "\napi: " << TerminalLine(hosts.api)
            << "\ncomment: " << TerminalLine(hosts.comment)
            << "\npassport: " << TerminalLine(hosts.passport)
            << "\nspace: " << TerminalLine(hosts.space) << "\n";
  return 0;
}

int ShowSettings() {
  Core core;
  for (const auto& name : PersistedNames(core.controls)) {
    std::cout << name << " = " << SettingValue(core.controls, name) << "\n";
  }
  return 0;
}

int GetSetting(const Args& args) {
  if (args.size() != 1) return UsageError("get", "get needs one control name");
  Core core;
  if (!core.controls.Has(args[0])) return Fail("no setting named " + args[0]);
  std::cout << SettingValue(core.controls, args[0]) << "\n";
  return 0;
}

bool ApplySetting(Controls& controls, const std::string& name, const std::string& value) {
  switch (controls.KindOf(name)) {
    case ControlKind::EditBox:
      // Shown as the settings file will keep it.
      controls.SetText(name, IsValidUtf8(value) ? value : RepairUtf8(value));
      return true;
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
      if (value != "真" && value != "假") return false;
      controls.SetChecked(name, value == "真");
      return true;
    case ControlKind::DropDown: {
      char* end = nullptr;
      const long index = std::strtol(value.c_str(), &end, 10);
      const auto count = static_cast<long>(controls.Items(name).size());
      if (end == value.c_str() || *end != '\0' || index < 0 || index >= count) return false;
      controls.SelectIndex(name, static_cast<int>(index));
      return true;
    }
    default:
      return false;
  }
}

// Only this one key is written, over the file as it is on disk when the lock
// is taken, so a `set` running beside another (or beside the window) loses
// none of its changes.
int SetSetting(const Args& args) {
  if (args.size() != 2) return UsageError("set", "set needs a control name and a value");
  Core core;
  if (!core.controls.Has(args[0])) return Fail("no setting named " + args[0]);
  if (!ApplySetting(core.controls, args[0], args[1])) {
    return Fail("\"" + args[1] + "\" is not a value " + args[0] + " can take");
  }
  if (!SaveState(core.controls, args[0], core.started.settingsPath)) {
    return Fail("could not write " + core.started.settingsPath);
  }
  std::cout << args[0] << " = " << SettingValue(core.controls, args[0]) << "\n";
  return 0;
}

}  // namespace

KORVID_CLI_COMMAND(
    "paths", "paths                 the program folder, working folders, settings file and FFmpeg",
    [](const Args& args) { return args.empty() ? ShowPaths() : NoArguments("paths"); }, 10);
KORVID_CLI_COMMAND(
    "hosts", "hosts                 the site hosts in effect (settings file [站点], KORVID_*_BASE)",
    [](const Args& args) { return args.empty() ? ShowHosts() : NoArguments("hosts"); }, 11);
KORVID_CLI_COMMAND(
    "settings", "settings              every saved setting, one \"name = value\" per line",
    [](const Args& args) { return args.empty() ? ShowSettings() : NoArguments("settings"); }, 12);
KORVID_CLI_COMMAND(
    "get", "get NAME              one setting (an edit box, check box or drop-down by name)",
    GetSetting, 13);
KORVID_CLI_COMMAND("set",
                   "set NAME VALUE        change a setting and save the settings file:\n"
                   "                        edit box: the text; check box: 真 or 假;\n"
                   "                        drop-down: the index of the item to select",
                   SetSetting, 14);

}  // namespace korvid::cli
