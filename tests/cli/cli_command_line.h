#pragma once

#include <string>

#include "support/shell_run.h"

namespace korvid::test {

// "environment korvid-cli --home 'home' arguments", without redirections.
inline std::string CliCommand(const std::string& home, const std::string& arguments,
                              const std::string& environment = {}) {
  return environment + " " + KORVID_CLI_PATH + " --home " + ShellQuote(home) + " " + arguments;
}

}  // namespace korvid::test
