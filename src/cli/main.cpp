// korvid-cli: the headless front end over the same core as the window. Each
// verb registers itself from its own file (cli_command.h).

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "cli/cli_command.h"
#include "net/curl_global.h"

namespace korvid::cli {
namespace {

constexpr std::string_view kUsageHead =
    "Usage: korvid-cli [--home DIR] COMMAND [ARGS]\n\n"
    "Korvid without a window: the same settings, folders and site client.\n\n"
    "Commands:\n";

constexpr std::string_view kUsageTail =
    "  version               the version\n\n"
    "Options:\n"
    "  --home DIR            use DIR as the program folder (same as KORVID_HOME=DIR)\n"
    "  -h, --help            this text\n";

// Every verb's description lines start in one column, whatever indent its
// own file gave them; continued argument lists ("[--x]") stay under the verb.
std::string IndentedUsage(std::string_view text) {
  constexpr std::string_view kVerbIndent = "  ";
  constexpr std::string_view kArgumentIndent = "          ";
  constexpr std::string_view kDescriptionIndent = "                        ";
  std::string indented;
  bool first = true;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!first) line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
    indented += first ? kVerbIndent : line.starts_with('[') ? kArgumentIndent : kDescriptionIndent;
    indented += line;
    indented += '\n';
    first = false;
  }
  return indented;
}

std::string Usage() {
  std::string usage(kUsageHead);
  for (const Command& command : Commands()) usage += IndentedUsage(command.usage);
  usage += kUsageTail;
  return usage;
}

const Command* FindCommand(std::string_view name) {
  for (const Command& command : Commands()) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

int UsageFailure(std::string_view message) {
  std::cerr << "korvid-cli: " << message << "\n\n" << Usage();
  return 2;
}

int Run(Args args) {
  if (!args.empty() && args[0] == "--home") {
    // An empty folder would silently mean the executable's own.
    if (args.size() < 2 || args[1].empty()) return UsageFailure("--home needs a folder");
    ::setenv("KORVID_HOME", args[1].c_str(), 1);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) {
    std::cerr << Usage();
    return 2;
  }
  const std::string command = args[0];
  const Args rest(args.begin() + 1, args.end());
  const bool builtIn = command == "-h" || command == "--help" || command == "help" ||
                       command == "version" || command == "--version";
  if (builtIn && !rest.empty()) return UsageFailure(command + " takes no arguments");
  if (command == "-h" || command == "--help" || command == "help") {
    std::cout << Usage();
    return 0;
  }
  if (command == "version" || command == "--version") {
    std::cout << "Korvid " << KORVID_VERSION << "\n";
    return 0;
  }
  if (const Command* found = FindCommand(command)) return found->run(rest);
  std::cerr << "korvid-cli: unknown command \"" << command << "\"\n\n" << Usage();
  return 2;
}

}  // namespace
}  // namespace korvid::cli

int main(int argc, char** argv) {
  korvid::EnsureCurlInitialised();  // before any thread
  try {
    return korvid::cli::Run(korvid::cli::Args(argv + 1, argv + argc));
  } catch (const std::exception& error) {
    std::cerr << "korvid-cli: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "korvid-cli: unexpected failure\n";
  }
  return 1;
}
