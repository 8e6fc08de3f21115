#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korvid {

// Receives each piece of the program's output as it arrives; true stops the
// reading (the program is then left to end on its own and is waited for).
using CommandOutputHandler = std::function<bool(std::string_view piece)>;

struct CommandOptions {
  std::string workingFolder;  // empty: the current folder
  CommandOutputHandler onOutput;
  // Output kept in the result: the last this many bytes.
  std::size_t keepOutputBytes = 1024 * 1024;
};

struct CommandResult {
  bool started = false;
  int exitCode = -1;   // -1 when the program did not exit normally
  std::string output;  // standard output and standard error, interleaved
};

// Runs a program with an argument vector (argv[0] is the program: a path, or
// a name looked up on PATH) and waits for it. No shell is involved, so
// arguments reach the program exactly as given whatever they hold. Standard
// input is /dev/null; standard output and error are collected.
[[nodiscard]] CommandResult RunCommand(const std::vector<std::string>& argv,
                                       const CommandOptions& options = {});

}  // namespace korvid
