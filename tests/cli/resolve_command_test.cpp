// korvid-cli resolve against the fake site, as a user runs it.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "cli/cli_command_line.h"
#include "support/closed_port.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

struct Resolved {
  int exitCode = -1;
  std::string out;
  std::string err;
};

Resolved RunResolve(const test::Sandbox& sandbox, const std::string& base,
                    const std::string& arguments) {
  const std::string errFile = (sandbox / "stderr.txt").string();
  const test::ShellRun run =
      test::RunShell(test::CliCommand(sandbox.Path().string(), "resolve " + arguments,
                                      test::SiteHostsEnvironment(base)) +
                     " 2>'" + errFile + "'");
  return {run.exitCode, run.output, test::ReadWholeFile(errFile)};
}

TEST(ResolveCommand, PrintsOneLinePerTaskRowAndFailsOnWhatCannotBeAdded) {
  test::Sandbox sandbox;
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  const std::string base = site.BaseUrl();

  const Resolved plain = RunResolve(sandbox, base, "BV1Mp411T7bb");
  EXPECT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(plain.out,
            "1\tBV1Mp411T7bb\t1\t-\t三集测试视频\n"
            "2\tBV1Mp411T7bb\t2\t-\t三集测试视频\n"
            "3\tBV1Mp411T7bb\t3\t-\t三集测试视频\n");

  const Resolved split = RunResolve(sandbox, base, "BV1Ks411D7aa --split");
  EXPECT_EQ(split.exitCode, 0) << split.err;
  EXPECT_EQ(split.out,
            "1\tBV1Ks411D7aa\t1\t视频\t单页视频 A一 BC\n"
            "2\tBV1Ks411D7aa\t1\t音频\t单页视频 A一 BC\n");

  const Resolved unknown = RunResolve(sandbox, base, "'https://example.com/nothing'");
  EXPECT_NE(unknown.exitCode, 0);
  EXPECT_NE(unknown.err.find("无法解析链接"), std::string::npos);

  const Resolved blocked = RunResolve(sandbox, base, "BV1Bk411L7ee BV1Ks411D7aa");
  EXPECT_NE(blocked.exitCode, 0);
  EXPECT_EQ(blocked.out, "2\tBV1Ks411D7aa\t1\t-\t单页视频 A一 BC\n");
  EXPECT_NE(blocked.err.find("解析失败: BV1Bk411L7ee"), std::string::npos);

  const Resolved folder = RunResolve(sandbox, base, "'" + base + "/1/favlist?fid=30045'");
  EXPECT_EQ(folder.exitCode, 0) << folder.err;
  EXPECT_EQ(std::count(folder.out.begin(), folder.out.end(), '\n'), 45);
  EXPECT_NE(folder.err.find("任添加收藏夹完成"), std::string::npos);

  // One unreadable video in the middle of page 1: every other one is added,
  // and the end says how many were not.
  site.SetUnreadable("BV1fa0000010");
  const Resolved holed = RunResolve(sandbox, base, "'" + base + "/1/favlist?fid=30045'");
  EXPECT_EQ(holed.exitCode, 1);
  EXPECT_EQ(std::count(holed.out.begin(), holed.out.end(), '\n'), 44);
  EXPECT_NE(holed.out.find("\tBV1fa0000011\t"), std::string::npos);
  EXPECT_NE(holed.err.find("解析失败: BV1fa0000010"), std::string::npos) << holed.err;
  EXPECT_NE(holed.err.find("失败: 任务添加完成，1 个视频解析失败"), std::string::npos) << holed.err;
}

// With the site out of reach, adding a link fails with the reason, in
// resolve and in download alike.
TEST(ResolveCommand, ALinkThatCannotBeReachedFailsWithTheReason) {
  const int port = test::ClosedPort();
  ASSERT_NE(port, 0);
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  for (const std::string verb : {"resolve", "download --no-store"}) {
    SCOPED_TRACE(verb);
    test::Sandbox sandbox;
    const test::ShellRun run =
        test::RunShell(test::CliCommand(sandbox.Path().string(), verb + " BV1Ks411D7aa",
                                        test::SiteHostsEnvironment(base)) +
                       " 2>&1");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("失败: 解析失败：无法连接服务器"), std::string::npos) << run.output;
  }
}

TEST(ResolveCommand, ReadsASpaceThroughTheSignedCallAndNamesARiskControlRefusal) {
  test::Sandbox sandbox;
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  const std::string base = site.BaseUrl();
  site.SetRetired(fakesite::Retired::kOlderCalls);

  const Resolved space = RunResolve(sandbox, base, "'" + base + "/20061'");
  EXPECT_EQ(space.exitCode, 0) << space.err;
  EXPECT_EQ(std::count(space.out.begin(), space.out.end(), '\n'), 61);
  EXPECT_NE(space.err.find("任务添加完成"), std::string::npos);

  site.SetFault("/x/space/wbi/arc/search", fakesite::Fault::ApiCode(-352));
  const Resolved refused = RunResolve(sandbox, base, "'" + base + "/20061'");
  EXPECT_NE(refused.exitCode, 0);
  EXPECT_TRUE(refused.out.empty());
  EXPECT_NE(refused.err.find("被风控拦截，请登录后重试"), std::string::npos) << refused.err;
}

TEST(ResolveCommand, PrintsCollectionsAndLicensedWorks) {
  test::Sandbox sandbox;
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  const std::string base = site.BaseUrl();
  const std::string title = "测试番剧 罪犯新选组 & 其他";

  const Resolved season = RunResolve(sandbox, base, "'" + base + "/bangumi/play/ss42290'");
  EXPECT_EQ(season.exitCode, 0) << season.err;
  EXPECT_EQ(season.out, "1\tep606591\t1\t-\t" + title + "\t第1话 瞒天过海！罪犯新选组\n" +
                            "2\tep606592\t2\t-\t" + title + "\t第2话 光芒四射！遗物日本刀\n" +
                            "3\tep606605\t3\t-\t" + title + "\t第12话 替身传说！罪犯新选组\n");
  const Resolved extras = RunResolve(sandbox, base, "'" + base + "/bangumi/play/ss42290' --extras");
  EXPECT_EQ(std::count(extras.out.begin(), extras.out.end(), '\n'), 5) << extras.err;

  const Resolved alone = RunResolve(sandbox, base, "BV1Cs411K7ff");
  EXPECT_EQ(std::count(alone.out.begin(), alone.out.end(), '\n'), 1) << alone.err;
  const Resolved whole = RunResolve(sandbox, base, "BV1Cs411K7ff --collection");
  EXPECT_EQ(whole.exitCode, 0) << whole.err;
  EXPECT_EQ(std::count(whole.out.begin(), whole.out.end(), '\n'), 5);
  EXPECT_NE(whole.out.find("5\tBV1sb0000010\t1\t-\t"), std::string::npos) << whole.out;

  const Resolved later = RunResolve(sandbox, base, "'" + base + "/watchlater/#/list'");
  EXPECT_NE(later.exitCode, 0);
  EXPECT_NE(later.err.find("稍后再看需要登录"), std::string::npos) << later.err;
}

}  // namespace
}  // namespace korvid
