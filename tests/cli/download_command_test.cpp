// korvid-cli download against the fake site: exit codes, the summary and
// Ctrl-C during a transfer.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

using fakesite::Fault;

struct CliRun {
  int exitCode = -1;
  std::string output;  // stdout and stderr
};

CliRun RunShell(const std::string& script) {
  CliRun run;
  FILE* pipe = ::popen(script.c_str(), "r");
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

class KorvidCliDownload : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_site.Start()); }

  // The command line with every host pointed at the fake site; the download
  // folder does not exist before the first run.
  std::string Command(const std::string& arguments) const {
    std::string hosts;
    for (const char* name : {"WEB", "API", "COMMENT", "PASSPORT", "SPACE"}) {
      hosts += std::string("KORVID_") + name + "_BASE=" + m_site.BaseUrl() + " ";
    }
    return hosts + KORVID_CLI_PATH + " --home '" + (m_sandbox / "home").string() + "' download " +
           arguments + " --dir '" + (m_sandbox / "媒体库").string() + "'";
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
    const CliRun run = RunShell(Command("BV1Mp411T7bb" + extra) + " 2>&1");
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
  }
  EXPECT_TRUE(
      std::filesystem::exists(m_sandbox / "媒体库" / "三集测试视频" / "第二集中段S1E2.mp4"));
}

TEST_F(KorvidCliDownload, CtrlCStopsTheTransfersAndFails) {
  m_site.SetFault("/media/", Fault::Throttle(10'000));
  // SIGINT once the media file is opened (its first bytes arrived); each wait is bounded.
  const std::string script = "(" + Command("BV1Ks411D7aa") +
                             " 2>&1 & pid=$!; for i in $(seq 400); do "
                             "[ -n \"$(find '" +
                             m_sandbox.Path().string() +
                             "' -name '*.mp4')\" ] && break; sleep 0.05; done; "
                             "kill -INT $pid; wait $pid; exit $?)";
  const CliRun run = RunShell(script);
  EXPECT_EQ(run.exitCode, 130) << run.output;
  EXPECT_NE(run.output.find("失败下载"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("interrupted"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace korvid
