#pragma once
// korvid-cli verbs: each verb lives in a file of its own and registers itself
// with a static KORVID_CLI_COMMAND, so adding a verb touches no shared table.

#include <string>
#include <string_view>
#include <vector>

#include "app/app_paths.h"
#include "app/startup.h"
#include "cli/terminal_text.h"
#include "controls/control_store.h"

namespace korvid::cli {

using Args = std::vector<std::string>;
using CommandFn = int (*)(const Args& args);

struct Command {
  std::string_view name;
  // One or more lines for the usage text, without the leading indent.
  std::string_view usage;
  CommandFn run = nullptr;
  // Position in the usage text; lower first.
  int order = 100;
};

// Adds a command to the table; returns true so it can initialise a static.
bool RegisterCommand(const Command& command);
const std::vector<Command>& Commands();

// The core started as the window starts it: controls created, settings
// restored. Notices of the start (an unreadable settings file set aside) go
// to stderr.
struct Core {
  ControlStore controls;
  AppPaths paths;
  CoreStart started;

  Core();
};

// Prints "korvid-cli: message" on stderr; returns 1.
int Fail(std::string_view message);
// A verb called the wrong way: "korvid-cli: message" and the verb's usage on
// stderr; returns 2.
int UsageError(std::string_view verb, std::string_view message);
// UsageError for a verb that takes no arguments.
int NoArguments(std::string_view verb);

// A label's CR LF line ends as the terminal's "\n", its text made safe to
// print (TerminalText). Fail, UsageError and SettingValue are made safe too.
std::string PrintableLines(std::string_view text);

// Value of a persisted setting as `settings` and `get` print it.
std::string SettingValue(const Controls& controls, const std::string& name);

}  // namespace korvid::cli

#define KORVID_CLI_CONCAT2(a, b) a##b
#define KORVID_CLI_CONCAT(a, b) KORVID_CLI_CONCAT2(a, b)
#define KORVID_CLI_COMMAND(...)                                                 \
  [[maybe_unused]] static const bool KORVID_CLI_CONCAT(kRegistered, __LINE__) = \
      ::korvid::cli::RegisterCommand(::korvid::cli::Command{__VA_ARGS__})
