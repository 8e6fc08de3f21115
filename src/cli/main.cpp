// korvid-cli: the headless front end over the same core as the window.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_paths.h"
#include "app/settings_file.h"
#include "app/startup.h"
#include "net/http_client.h"
#include "net/site_hosts.h"
#include "ui/control_store.h"
#include "ui/window_layout.h"

namespace korvid {
namespace {

constexpr std::string_view kUsage =
    R"(Usage: korvid-cli [--home DIR] COMMAND [ARGS]

Korvid without a window: the same settings, folders and site client.

Commands:
  paths                 the program folder, working folders, settings file and FFmpeg
  hosts                 the site hosts in effect (settings file [站点], KORVID_*_BASE)
  settings              every saved setting, one "name = value" per line
  get NAME              one setting (an edit box, check box or drop-down by name)
  set NAME VALUE        change a setting and save the settings file:
                          edit box: the text; check box: 真 or 假;
                          drop-down: the index of the item to select
  fetch URL [--cookies TEXT] [--head] [--output FILE]
                        one request with Korvid's HTTP client; status and headers
                        go to stderr, the body to stdout or FILE
  version               the version

Options:
  --home DIR            use DIR as the program folder (same as KORVID_HOME=DIR)
  -h, --help            this text
)";

using Args = std::vector<std::string>;

struct Core {
  ControlStore controls;
  AppPaths paths;
  CoreStart started;

  Core() : paths(ProgramPaths()) {
    CreateMainWindowControls(controls);
    started = StartCore(controls, paths);
  }
};

int Fail(std::string_view message) {
  std::cerr << "korvid-cli: " << message << "\n";
  return 1;
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
      return controls.Text(name);
  }
}

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
  std::cout << "program folder: " << core.paths.programFolder.string() << "\n"
            << "配置: " << core.paths.ConfigFolder().string() << "\n"
            << "下载: " << core.paths.DownloadFolder().string() << "\n"
            << "头像: " << core.paths.AvatarFolder().string() << "\n"
            << "settings file: " << core.started.settingsPath
            << (core.started.settingsRestored ? "" : " (not yet written)") << "\n"
            << "ffmpeg: " << (core.started.ffmpeg.empty() ? "(none found)" : core.started.ffmpeg)
            << "\n";
  return 0;
}

int ShowHosts() {
  Core core;
  const SiteHosts hosts = CurrentSiteHosts();
  std::cout << "web: " << hosts.web << "\napi: " << hosts.api << "\ncomment: " << hosts.comment
            << "\npassport: " << hosts.passport << "\nspace: " << hosts.space << "\n";
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
  if (args.size() != 1) return Fail("get needs one control name");
  Core core;
  if (!core.controls.Has(args[0])) return Fail("no setting named " + args[0]);
  std::cout << SettingValue(core.controls, args[0]) << "\n";
  return 0;
}

bool ApplySetting(Controls& controls, const std::string& name, const std::string& value) {
  switch (controls.KindOf(name)) {
    case ControlKind::EditBox:
      controls.SetText(name, value);
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

int SetSetting(const Args& args) {
  if (args.size() != 2) return Fail("set needs a control name and a value");
  Core core;
  if (!core.controls.Has(args[0])) return Fail("no setting named " + args[0]);
  if (!ApplySetting(core.controls, args[0], args[1])) {
    return Fail("\"" + args[1] + "\" is not a value " + args[0] + " can take");
  }
  if (!SaveStates(core.controls, core.started.settingsPath)) {
    return Fail("could not write " + core.started.settingsPath);
  }
  std::cout << args[0] << " = " << SettingValue(core.controls, args[0]) << "\n";
  return 0;
}

struct FetchArgs {
  std::string url;
  std::string cookies;
  bool haveCookies = false;
  bool head = false;
  std::string output;
};

bool ParseFetchArgs(const Args& args, FetchArgs& fetch) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--cookies" && hasValue) {
      fetch.cookies = args[++i];
      fetch.haveCookies = true;
    } else if (arg == "--output" && hasValue) {
      fetch.output = args[++i];
    } else if (arg == "--head") {
      fetch.head = true;
    } else if (fetch.url.empty() && !arg.starts_with("--")) {
      fetch.url = arg;
    } else {
      return false;
    }
  }
  return !fetch.url.empty();
}

bool WriteBody(const std::string& body, const std::string& output) {
  if (output.empty()) {
    std::cout.write(body.data(), static_cast<std::streamsize>(body.size()));
    return static_cast<bool>(std::cout.flush());
  }
  std::ofstream file(output, std::ios::binary | std::ios::trunc);
  file.write(body.data(), static_cast<std::streamsize>(body.size()));
  return static_cast<bool>(file.flush());
}

int Fetch(const Args& args) {
  FetchArgs fetch;
  if (!ParseFetchArgs(args, fetch)) return Fail("fetch needs a URL (see --help)");
  Core core;
  HttpRequestOptions options;
  options.method = fetch.head ? static_cast<int>(HttpMethod::kHead) : 0;
  if (fetch.haveCookies) options.cookies = &fetch.cookies;
  const HttpResponse response = HttpRequest(fetch.url, options);
  if (!response.Completed()) {
    return Fail("request failed: " + DirectErrorMessage(response.failure));
  }
  std::cerr << "status " << response.status << "\n" << response.headers << "\n";
  if (!response.newCookies.empty()) std::cerr << "cookies: " << response.newCookies << "\n";
  if (!WriteBody(response.body, fetch.output)) return Fail("could not write the body");
  return response.status >= 200 && response.status < 400 ? 0 : 1;
}

int Run(Args args) {
  if (args.size() >= 2 && args[0] == "--home") {
    ::setenv("KORVID_HOME", args[1].c_str(), 1);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string command = args[0];
  const Args rest(args.begin() + 1, args.end());
  if (command == "-h" || command == "--help" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "version" || command == "--version") {
    std::cout << "Korvid " << KORVID_VERSION << "\n";
    return 0;
  }
  if (command == "paths") return ShowPaths();
  if (command == "hosts") return ShowHosts();
  if (command == "settings") return ShowSettings();
  if (command == "get") return GetSetting(rest);
  if (command == "set") return SetSetting(rest);
  if (command == "fetch") return Fetch(rest);
  std::cerr << "korvid-cli: unknown command \"" << command << "\"\n\n" << kUsage;
  return 2;
}

}  // namespace
}  // namespace korvid

int main(int argc, char** argv) {
  try {
    return korvid::Run(korvid::Args(argv + 1, argv + argc));
  } catch (const std::exception& error) {
    std::cerr << "korvid-cli: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "korvid-cli: unexpected failure\n";
  }
  return 1;
}
