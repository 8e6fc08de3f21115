// korvid-cli download against the fake site: exit codes, the summary and
// Ctrl-C during a transfer.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "cli/cli_command_line.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

using fakesite::Fault;

using test::RunShell;
using test::ShellRun;

class KorvidCliDownload : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_site.Start()); }

  // The command line with every host pointed at the fake site; the download
  // folder does not exist before the first run.
  std::string Command(const std::string& arguments) const {
    return test::CliCommand(
        (m_sandbox / "home").string(),
        "download " + arguments + " --dir '" + (m_sandbox / "媒体库").string() + "'",
        test::SiteHostsEnvironment(m_site.BaseUrl()));
  }

  fakesite::FakeSite m_site;
  test::Sandbox m_sandbox;
};

TEST_F(KorvidCliDownload, ExitsZeroOnlyWhenEveryTaskEndedWell) {
  struct Case {
    const char* about;
    std::string path;  // a fault on this prefix; empty for none
    int exitCode;
    std::string said;
  };
  const Case cases[] = {
      {"three pages downloaded", "", 0, "3 tasks, 3 done, 0 failed"},
      {"a second run finds them", "", 0, "已存在"},
      {"the streams refused", "/x/player/playurl", 1, "Not downloaded:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.about);
    m_site.ClearFaults();
    if (!c.path.empty()) m_site.SetFault(c.path, Fault::ApiCode(-404));
    const std::string extra = c.path.empty() ? "" : " BV1Ks411D7aa";
    const ShellRun run = RunShell(Command("BV1Mp411T7bb" + extra) + " 2>&1");
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
  }
  EXPECT_TRUE(
      std::filesystem::exists(m_sandbox / "媒体库" / "三集测试视频" / "第二集中段S1E2.mp4"));
}

// Ctrl-C (or SIGTERM) once the media file is opened (its first bytes
// arrived): the transfers stop, and the summary counts the cut-off task as
// kept (or, without the store, stopped), never as failed.
TEST_F(KorvidCliDownload, AnInterruptedRunSaysWhatItKept) {
  struct Case {
    const char* name;
    std::string signal;
    std::string options;
    std::string summary;
    bool kept;  // the row waits in the store, and so the run's last lines show it
  };
  const Case cases[] = {
      {.name = "Ctrl-C, kept",
       .signal = "INT",
       .options = "",
       .summary = "1 tasks, 0 done, 0 failed, 1 kept for the next run",
       .kept = true},
      {.name = "SIGTERM, no store",
       .signal = "TERM",
       .options = " --no-store",
       .summary = "1 tasks, 0 done, 0 failed, 1 stopped",
       .kept = false},
  };
  m_site.SetFault("/media/", Fault::Throttle(10'000));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(m_sandbox / "home");
    std::filesystem::remove_all(m_sandbox / "媒体库");
    // Each wait is bounded.
    const std::string script = "(" + Command("BV1Ks411D7aa" + c.options) +
                               " 2>&1 & pid=$!; for i in $(seq 400); do "
                               "[ -n \"$(find '" +
                               m_sandbox.Path().string() +
                               "' -name '*.mp4.part')\" ] && break; sleep 0.05; done; "
                               "kill -" +
                               c.signal + " $pid; wait $pid; exit $?)";
    const ShellRun run = RunShell(script);
    EXPECT_EQ(run.exitCode, 130) << run.output;
    EXPECT_NE(run.output.find(c.summary), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("interrupted"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Not downloaded"), std::string::npos) << run.output;
    if (c.kept) {
      EXPECT_EQ(run.output.find("失败下载"), std::string::npos) << run.output;
    }
    const ShellRun stored = RunShell(test::CliCommand((m_sandbox / "home").string(), "tasks"));
    EXPECT_EQ(stored.output.find("等待中") != std::string::npos, c.kept) << stored.output;
  }
}

int CountLines(const std::string& text, const std::string& word) {
  int count = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    ++count;
  }
  return count;
}

// Six tasks, one at a time; the run is killed with SIGKILL once the first
// finished. The kept list shows the rest waiting, a second holder is turned
// away meanwhile, and a run without links finishes them.
TEST_F(KorvidCliDownload, AKilledRunIsContinuedByTheNextOne) {
  m_site.SetFault("/media/", Fault::Throttle(40'000));
  const std::string env = test::SiteHostsEnvironment(m_site.BaseUrl());
  const auto cli = [&](const std::string& arguments) {
    return test::CliCommand((m_sandbox / "home").string(), arguments, env);
  };
  const std::string links = "BV1Mp411T7bb BV1Av411D7gg BV1Ks411D7aa --max 1 --dir " +
                            test::ShellQuote((m_sandbox / "媒体库").string());
  const ShellRun killed = RunShell(
      "(" + cli("download " + links) + " >/dev/null 2>&1 & pid=$!; for i in $(seq 300); do " +
      cli("tasks") + " | grep -q 完成 && break; sleep 0.1; done; " + cli("download BV1Ks411D7aa") +
      " 2>&1; echo \"second=$?\"; kill -9 $pid; wait $pid; echo \"killed=$?\")");
  EXPECT_NE(killed.output.find("in use by process"), std::string::npos) << killed.output;
  EXPECT_NE(killed.output.find("second=2"), std::string::npos) << killed.output;
  EXPECT_NE(killed.output.find("killed=137"), std::string::npos) << killed.output;

  const ShellRun left = RunShell(cli("tasks"));
  EXPECT_EQ(left.exitCode, 0);
  EXPECT_EQ(CountLines(left.output, "\n"), 6) << left.output;
  EXPECT_GE(CountLines(left.output, "完成"), 1) << left.output;
  EXPECT_GE(CountLines(left.output, "等待中"), 1) << left.output;
  EXPECT_EQ(CountLines(left.output, "完成") + CountLines(left.output, "等待中"), 6) << left.output;

  m_site.ClearFaults();
  const ShellRun continued = RunShell(cli("download") + " 2>&1");
  EXPECT_EQ(continued.exitCode, 0) << continued.output;
  const ShellRun done = RunShell(cli("tasks --json"));
  EXPECT_EQ(CountLines(done.output, "\"完成\""), 6) << done.output;
}

// kill -9 in the middle of a large file; the next run continues where the
// part file ends and leaves the file byte for byte as served.
TEST_F(KorvidCliDownload, AFileKilledMidwayResumesFromItsPart) {
  constexpr std::int64_t kFileBytes = 8 * 1024 * 1024;
  constexpr std::int64_t kKillAfterBytes = 2 * 1024 * 1024;
  m_site.SetProgressiveMediaSize(kFileBytes);
  const std::string body = m_site.MediaBytes(fakesite::MediaKind::Progressive);
  ASSERT_EQ(static_cast<std::int64_t>(body.size()), kFileBytes);
  // Slow enough that a loaded machine still kills it well before the end:
  // the file on disk trails what was received by a buffer or more.
  m_site.SetFault("/media/", Fault::Throttle(2 * 1024 * 1024));
  const std::filesystem::path file =
      m_sandbox / "媒体库" / "单页视频 A一 BC" / "唯一的一集S1E1.mp4";
  const std::string part = file.string() + ".part";
  // Bounded: at most 600 looks, 50 ms apart.
  const std::string script =
      "(" + Command("BV1Ks411D7aa") + " >/dev/null 2>&1 & pid=$!; for i in $(seq 600); do " +
      "s=$(stat -c %s '" + part + "' 2>/dev/null || echo 0); [ \"$s\" -ge " +
      std::to_string(kKillAfterBytes) + " ] && break; sleep 0.05; done; kill -KILL $pid; " +
      "wait $pid; echo killed)";
  const ShellRun killed = RunShell(script);
  ASSERT_NE(killed.output.find("killed"), std::string::npos) << killed.output;
  ASSERT_FALSE(std::filesystem::exists(file));
  const auto kept = static_cast<std::int64_t>(std::filesystem::file_size(part));
  ASSERT_GE(kept, kKillAfterBytes);
  m_site.ClearFaults();
  m_site.ClearRequests();
  const std::int64_t sentBefore = m_site.MediaBytesSent();
  const ShellRun again = RunShell(Command("BV1Ks411D7aa") + " 2>&1");
  EXPECT_EQ(again.exitCode, 0) << again.output;
  EXPECT_TRUE(test::ReadWholeFile(file) == body);
  EXPECT_FALSE(std::filesystem::exists(part));
  // The killed run's connection may still be draining into the count.
  EXPECT_LE(m_site.MediaBytesSent() - sentBefore, kFileBytes - kept + kFileBytes / 20);
  int mediaGets = 0;
  for (const auto& request : m_site.Requests()) {
    if (request.method != "GET" || !request.path.starts_with("/media/")) continue;
    ++mediaGets;
    EXPECT_EQ(request.Header("Range"), "bytes=" + std::to_string(kept) + "-");
  }
  EXPECT_EQ(mediaGets, 1);
}

// Two processes on one video (each with a list of its own, as one process
// holds the kept list): one downloads, the other waits for the file
// and finds it there; both succeed and one good file is left.
TEST_F(KorvidCliDownload, TwoProcessesOnOneVideoLeaveOneGoodFile) {
  m_site.SetFault("/media/", Fault::Throttle(100'000));
  const std::string script =
      "(" + Command("BV1Ks411D7aa --no-store") + " >'" + (m_sandbox / "one.txt").string() +
      "' 2>&1 & a=$!; " + Command("BV1Ks411D7aa --no-store") + " >'" +
      (m_sandbox / "two.txt").string() + "' 2>&1; b=$?; wait $a; echo \"$? $b\")";
  const ShellRun run = RunShell(script);
  EXPECT_NE(run.output.find("0 0"), std::string::npos)
      << run.output << test::ReadWholeFile(m_sandbox / "one.txt")
      << test::ReadWholeFile(m_sandbox / "two.txt");
  const std::filesystem::path folder = m_sandbox / "媒体库" / "单页视频 A一 BC";
  EXPECT_TRUE(test::ReadWholeFile(folder / "唯一的一集S1E1.mp4") ==
              m_site.MediaBytes(fakesite::MediaKind::Progressive));
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    EXPECT_FALSE(entry.path().string().ends_with(".part")) << entry.path();
  }
}

TEST_F(KorvidCliDownload, RetriesTakeANumber) {
  for (const char* bad : {"--retries x", "--retries -1", "--retries", "--limit-rate 5G",
                          "--limit-rate 1.5M", "--limit-rate"}) {
    const ShellRun run = RunShell(Command(std::string("BV1Ks411D7aa ") + bad) + " 2>&1");
    EXPECT_NE(run.exitCode, 0) << bad;
  }
  m_site.SetFault("/media/", Fault::Status(503));
  const ShellRun run = RunShell(Command("BV1Ks411D7aa --retries 0") + " 2>&1");
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("下载失败"), std::string::npos) << run.output;
  int mediaGets = 0;
  for (const auto& request : m_site.Requests()) {
    mediaGets += request.method == "GET" && request.path.starts_with("/media/") ? 1 : 0;
  }
  EXPECT_EQ(mediaGets, 1);
}

}  // namespace
}  // namespace korvid
