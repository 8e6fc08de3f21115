#pragma once

#include <string>

namespace korvid::test {

struct ShellRun {
  int exitCode = -1;   // -1 when the shell could not start or did not exit normally
  std::string output;  // everything the command wrote to stdout
};

// Runs command with /bin/sh and waits for it to end; redirections in the
// command decide what lands in output.
[[nodiscard]] ShellRun RunShell(const std::string& command);

// text in single quotes, safe as one shell word.
[[nodiscard]] std::string ShellQuote(const std::string& text);

// "KORVID_WEB_BASE=base KORVID_API_BASE=base ... ": every site host pointed at base.
[[nodiscard]] std::string SiteHostsEnvironment(const std::string& base);

}  // namespace korvid::test
