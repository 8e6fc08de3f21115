// demo: the whole job without network access. Starts korvid-fakesite (the
// loopback stand-in for the site, built beside korvid-cli), points every
// host at it and downloads two of its videos into a temporary library.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cli/download_run.h"

extern char** environ;

namespace korvid::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kListening = "listening on ";
constexpr const char* kHostVariables[] = {"KORVID_WEB_BASE", "KORVID_API_BASE",
                                          "KORVID_COMMENT_BASE", "KORVID_PASSPORT_BASE",
                                          "KORVID_SPACE_BASE"};

// korvid-fakesite as a child that lives until its stdin closes.
class FakeSiteProcess {
 public:
  FakeSiteProcess() = default;
  ~FakeSiteProcess() {
    if (m_input >= 0) ::close(m_input);
    if (m_output) std::fclose(m_output);
    if (m_pid > 0) ::waitpid(m_pid, nullptr, 0);
  }
  FakeSiteProcess(const FakeSiteProcess&) = delete;
  FakeSiteProcess& operator=(const FakeSiteProcess&) = delete;

  // The base address it listens on; empty when it could not be started.
  std::string Start(const fs::path& program) {
    int in[2];
    int out[2];
    if (::pipe(in) != 0) return {};
    if (::pipe(out) != 0) {
      ::close(in[0]);
      ::close(in[1]);
      return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string path = program.string();
    std::string port = "--port";
    std::string zero = "0";
    std::string lifetime = "--stdin-lifetime";
    char* argv[] = {path.data(), port.data(), zero.data(), lifetime.data(), nullptr};
    const int spawned = ::posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    m_input = in[1];
    m_output = ::fdopen(out[0], "r");
    if (spawned != 0) m_pid = -1;
    if (spawned != 0 || !m_output) return {};
    char line[256] = {};
    if (!std::fgets(line, sizeof line, m_output)) return {};
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text.starts_with(kListening) ? text.substr(kListening.size()) : std::string();
  }

 private:
  pid_t m_pid = -1;
  int m_input = -1;
  std::FILE* m_output = nullptr;
};

fs::path ProgramFolder() {
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).parent_path();
}

void PrintTree(const fs::path& root) {
  std::vector<fs::path> entries;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(root, ec)) entries.push_back(entry);
  std::sort(entries.begin(), entries.end());
  std::cout << TerminalLine(root.string()) << "\n";
  for (const fs::path& path : entries) {
    const fs::path relative = fs::relative(path, root, ec);
    const auto depth = std::distance(relative.begin(), relative.end());
    std::cout << std::string(static_cast<std::size_t>(depth) * 2, ' ')
              << TerminalLine(path.filename().string());
    if (fs::is_regular_file(path, ec)) std::cout << "  (" << fs::file_size(path, ec) << " bytes)";
    std::cout << "\n";
  }
}

int Demo(const Args& args) {
  if (!args.empty()) return NoArguments("demo");
  char pattern[] = "/tmp/korvid-demo-XXXXXX";
  if (!::mkdtemp(pattern)) return Fail("could not make a temporary folder");
  const fs::path folder = pattern;
  FakeSiteProcess site;
  const std::string base = site.Start(ProgramFolder() / "korvid-fakesite");
  if (base.empty()) return Fail("could not start korvid-fakesite beside korvid-cli");
  std::cerr << "fake site on " << base << "; program folder "
            << TerminalLine((folder / "home").string()) << "\n";
  for (const char* variable : kHostVariables) ::setenv(variable, base.c_str(), 1);
  ::setenv("KORVID_HOME", (folder / "home").c_str(), 1);
  const fs::path library = folder / "library";
  std::error_code ec;
  fs::create_directories(library, ec);
  Core core;
  DownloadOptions whole;
  whole.links = {"https://www.bilibili.com/video/BV1Ks411D7aa"};
  whole.folder = library.string();
  whole.maximum = "4";
  std::cerr << "\n== one page, one file ==\n";
  const int first = RunDownloads(core, whole);
  DownloadOptions split = whole;
  split.links = {"BV1Mp411T7bb"};
  split.split = true;
  split.cookies = "SESSDATA=demo";
  std::cerr << "\n== three pages, video and audio apart, merged ==\n";
  const int second = RunDownloads(core, split);
  std::cout << "\n";
  PrintTree(library);
  return first != 0 ? first : second;
}

}  // namespace

KORVID_CLI_COMMAND(
    "demo",
    "demo                  start korvid-fakesite (built beside korvid-cli), point the site's\n"
    "                      hosts at it and download a one-page video and a three-page split\n"
    "                      video into a temporary library, then print its tree; no network",
    Demo, 36);
KORVID_CLI_COMMAND("--demo", "--demo                same as demo", Demo, 37);

}  // namespace korvid::cli
