// korvid-cli tasks pause|resume|cancel|retry on a kept task list.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/app_paths.h"
#include "app/tasks/task_store.h"
#include "app/tasks/task_store_writer.h"
#include "cli/cli_command_line.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;

class KorvidCliTasks : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(AppPaths{Home()}.ConfigFolder());
    TaskStore::Opened opened = TaskStore::Open(TaskStorePath(AppPaths{Home()}));
    ASSERT_TRUE(opened.store);
    TaskStoreChanges batch;
    for (int index = 1; index <= 2; ++index) {
      StoredTaskRow row;
      row.row = index;
      row.seq = index;
      row.text[kColState] = std::string(kStateWaiting);
      row.queued = R"({"data":{"bvid":"BV1Ks411D7a)" + std::to_string(index) +
                   R"("},"分集序号":"1","任务id":")" + std::to_string(index) + "\"}";
      batch.rows.push_back({~0U, row});
    }
    ASSERT_TRUE(opened.store->Write(batch));
  }

  fs::path Home() const { return m_sandbox / "home"; }
  std::string Cli(const std::string& arguments) const {
    return test::CliCommand(Home().string(), arguments);
  }

  test::Sandbox m_sandbox;
};

TEST_F(KorvidCliTasks, PauseAndResumeChangeTheKeptList) {
  struct Step {
    const char* name;
    std::string command;  // run through the shell; stdout and stderr together
    int exitCode;
    std::string said;
    std::string listed;  // what `tasks` shows afterwards
  };
  const std::string waiting = "1\tBV1Ks411D7a1\t1\t等待中\n2\tBV1Ks411D7a2\t1\t等待中\n";
  const std::string paused = "1\tBV1Ks411D7a1\t1\t等待中\n2\tBV1Ks411D7a2\t1\t已暂停\n";
  const std::string lock = TaskStorePath(AppPaths{Home()}) + ".lock";
  const Step steps[] = {
      {.name = "pause",
       .command = Cli("tasks pause 2"),
       .exitCode = 0,
       .said = "2\tpause",
       .listed = paused},
      {.name = "pausing again is refused",
       .command = Cli("tasks pause 2"),
       .exitCode = 1,
       .said = "已经暂停",
       .listed = paused},
      {.name = "a missing row",
       .command = Cli("tasks resume 9"),
       .exitCode = 1,
       .said = "9: 没有这个任务",
       .listed = paused},
      {.name = "not an index",
       .command = Cli("tasks resume x"),
       .exitCode = 2,
       .said = "not a task index: x",
       .listed = paused},
      {.name = "held by a window",
       .command = "flock -n " + test::ShellQuote(lock) + " " + Cli("tasks resume 2"),
       .exitCode = 2,
       .said = "任务列表正被其他进程使用",
       .listed = paused},
      {.name = "resume",
       .command = Cli("tasks resume 2"),
       .exitCode = 0,
       .said = "2\tresume",
       .listed = waiting},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    const test::ShellRun run = test::RunShell(step.command + " 2>&1");
    EXPECT_EQ(run.exitCode, step.exitCode) << run.output;
    EXPECT_NE(run.output.find(step.said), std::string::npos) << run.output;
    EXPECT_EQ(test::RunShell(Cli("tasks")).output, step.listed);
  }
}

}  // namespace
}  // namespace korvid
