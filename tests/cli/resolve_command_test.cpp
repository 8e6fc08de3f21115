// korvid-cli resolve against the fake site, as a user runs it.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "cli/cli_command_line.h"
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

}  // namespace
}  // namespace korvid
