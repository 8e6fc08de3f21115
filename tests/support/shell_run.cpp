#include "support/shell_run.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace korvid::test {

ShellRun RunShell(const std::string& command) {
  ShellRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer{};
  std::size_t read = 0;
  while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    run.output.append(buffer.data(), read);
  }
  const int status = ::pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string SiteHostsEnvironment(const std::string& base) {
  std::string environment;
  for (const char* host : {"WEB", "API", "COMMENT", "PASSPORT", "SPACE"}) {
    environment += std::string("KORVID_") + host + "_BASE=" + base + " ";
  }
  return environment;
}

}  // namespace korvid::test
