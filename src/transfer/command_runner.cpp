#include "transfer/command_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

extern char** environ;

namespace korvid {
namespace {

class SpawnActions {
 public:
  SpawnActions() { m_ok = ::posix_spawn_file_actions_init(&m_actions) == 0; }
  ~SpawnActions() {
    if (m_ok) ::posix_spawn_file_actions_destroy(&m_actions);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;

  [[nodiscard]] bool Prepare(int outputFd, const std::string& folder) {
    if (!m_ok) return false;
    bool ok = ::posix_spawn_file_actions_addopen(&m_actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
              ::posix_spawn_file_actions_adddup2(&m_actions, outputFd, 1) == 0 &&
              ::posix_spawn_file_actions_adddup2(&m_actions, outputFd, 2) == 0;
    if (ok && !folder.empty()) {
      ok = ::posix_spawn_file_actions_addchdir_np(&m_actions, folder.c_str()) == 0;
    }
    return ok;
  }
  [[nodiscard]] const posix_spawn_file_actions_t* Get() const { return &m_actions; }

 private:
  posix_spawn_file_actions_t m_actions{};
  bool m_ok = false;
};

void KeepTail(std::string& output, std::size_t limit) {
  if (output.size() > limit) output.erase(0, output.size() - limit);
}

int WaitForExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ReadOutput(int fd, const CommandOptions& options, CommandResult& result) {
  std::array<char, 16384> piece{};
  for (;;) {
    const ssize_t n = ::read(fd, piece.data(), piece.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    const std::string_view text(piece.data(), static_cast<std::size_t>(n));
    result.output.append(text);
    KeepTail(result.output, options.keepOutputBytes);
    if (options.onOutput && options.onOutput(text)) return;
  }
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, const CommandOptions& options) {
  CommandResult result;
  if (argv.empty() || argv.front().empty()) return result;
  std::array<int, 2> pipe{-1, -1};
  if (::pipe2(pipe.data(), O_CLOEXEC) != 0) return result;
  SpawnActions actions;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const bool searchPath = argv.front().find('/') == std::string::npos;
  const bool spawned =
      actions.Prepare(pipe[1], options.workingFolder) &&
      (searchPath
           ? ::posix_spawnp(&pid, args[0], actions.Get(), nullptr, args.data(), environ)
           : ::posix_spawn(&pid, args[0], actions.Get(), nullptr, args.data(), environ)) == 0;
  ::close(pipe[1]);
  if (spawned) {
    result.started = true;
    ReadOutput(pipe[0], options, result);
  }
  ::close(pipe[0]);
  if (spawned) result.exitCode = WaitForExit(pid);
  return result;
}

}  // namespace korvid
