// library: the library tab's scan, one line per video.

#include <iostream>

#include "cli/cli_command.h"
#include "controls/control_names.h"
#include "library/library_scan.h"

namespace korvid::cli {
namespace {

struct LibraryArgs {
  std::string folder;
  std::string keyword;
  bool haveFolder = false;
  bool haveKeyword = false;
};

bool ParseLibraryArgs(const Args& args, LibraryArgs& parsed) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--keyword" && i + 1 < args.size()) {
      parsed.keyword = args[++i];
      parsed.haveKeyword = true;
    } else if (!parsed.haveFolder && !args[i].starts_with("--")) {
      parsed.folder = args[i];
      parsed.haveFolder = true;
    } else {
      return false;
    }
  }
  return true;
}

int Library(const Args& args) {
  LibraryArgs parsed;
  if (!ParseLibraryArgs(args, parsed)) return Fail("library takes [FOLDER] [--keyword K]");
  Core core;
  if (parsed.haveFolder) {
    std::error_code error;
    if (!std::filesystem::is_directory(parsed.folder, error)) {
      return Fail("no folder " + parsed.folder);
    }
    core.controls.SetText(kLibraryFolderBox, parsed.folder);
  }
  if (parsed.haveKeyword) core.controls.SetText(kKeywordBox, parsed.keyword);

  AppState state(core.controls, core.paths);
  LibraryBrowser browser(state);
  std::cerr << "scanning " << TerminalLine(browser.SearchFolder().string()) << "\n";
  if (!browser.StartScan()) return Fail(kLibraryScanBusy);
  browser.WaitForScan();
  for (const auto& nfo : *browser.Entries()) {
    std::cout << TerminalLine(ReadEntryInfo(nfo).title) << "\t"
              << TerminalLine(std::filesystem::path(nfo).parent_path().string()) << "\n";
  }
  std::cerr << TerminalLine(core.controls.Caption()) << "\n";
  return 0;
}

}  // namespace

KORVID_CLI_COMMAND("library",
                   "library [FOLDER] [--keyword K]\n"
                   "                      lists the videos (tvshow.nfo folders) below FOLDER as\n"
                   "                      title TAB folder; FOLDER and K default to the library\n"
                   "                      tab's settings, the folder then to 下载",
                   Library, 60);

}  // namespace korvid::cli
