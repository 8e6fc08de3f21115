// korvid-cli info against the fake site, as a user runs it.

#include <gtest/gtest.h>

#include <string>

#include "cli/cli_command_line.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

struct InfoRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

InfoRun RunCli(const test::Sandbox& sandbox, const std::string& base, const std::string& args) {
  const std::string errFile = (sandbox / "stderr.txt").string();
  const test::ShellRun run = test::RunShell(
      test::CliCommand(sandbox.Path().string(), args, test::SiteHostsEnvironment(base)) + " 2>'" +
      errFile + "'");
  return {run.exitCode, run.output, test::ReadWholeFile(errFile)};
}

TEST(InfoCommand, PrintsThePanelThenTheStreamsOfThePageAndFailsWithTheNotice) {
  test::Sandbox sandbox;
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  const std::string base = site.BaseUrl();
  ASSERT_EQ(RunCli(sandbox, base, "set 编辑框_cookies SESSDATA=fakesite").exitCode, 0);

  const InfoRun info = RunCli(sandbox, base, "info https://www.bilibili.com/video/BV1Av411D7gg");
  EXPECT_EQ(info.exitCode, 0) << info.err;
  for (const char* line :
       {"标题: 编码测试 \"AV1\" 视频\n", "UP主: 测试UP主丙:2\n", "发布时间: 2023-11-15 06:13:20\n",
        "时长: 2小时2分5秒\n", "简介: 他说\"你好\" C:\\\\new 不换行\\n第二行\n", "分P: 1/2 上集\n",
        "高清 1080P+ H.264\t112\n高清 1080P+ H.265\t1112\n"}) {
    EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;
  }
  EXPECT_TRUE(std::filesystem::is_regular_file(sandbox / "头像" / "测试UP主丙2.jpg"));

  site.ClearRequests();
  const InfoRun second = RunCli(sandbox, base, "info BV1Av411D7gg --page 2");
  EXPECT_EQ(second.exitCode, 0) << second.err;
  for (const char* line : {"分P: 2/2 下集\n", "CID: 35306865892\n", "时长: 59秒\n"}) {
    EXPECT_NE(second.out.find(line), std::string::npos) << line << "\n" << second.out;
  }
  bool askedForPage2 = false;
  for (const auto& request : site.Requests()) {
    askedForPage2 = askedForPage2 || request.query.find("cid=35306865892&") != std::string::npos;
  }
  EXPECT_TRUE(askedForPage2);

  for (const char* args : {"info BV1Bk411L7ee", "info nothing-here"}) {
    const InfoRun failed = RunCli(sandbox, base, args);
    EXPECT_EQ(failed.exitCode, 1) << args;
    EXPECT_NE(failed.err.find("解析失败"), std::string::npos) << failed.err;
    EXPECT_TRUE(failed.out.empty()) << failed.out;
  }
  EXPECT_EQ(RunCli(sandbox, base, "info BV1Av411D7gg --page 3").exitCode, 1);
}

TEST(InfoCommand, SiteTextCannotDriveTheTerminal) {
  test::Sandbox sandbox;
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  // Clear screen, the one-byte CSI (U+009B), a bell and a line break.
  site.SetTitle("BV1Ks411D7aa",
                "\x1b[2J清屏\xC2\x9B"
                "31m\x07\n行");
  const InfoRun info = RunCli(sandbox, site.BaseUrl(), "info BV1Ks411D7aa");
  EXPECT_EQ(info.exitCode, 0) << info.err;
  const std::string shown = "\xEF\xBF\xBD";  // U+FFFD
  EXPECT_NE(info.out.find("标题: " + shown + "[2J清屏" + shown + "31m" + shown + "\\n行\n"),
            std::string::npos)
      << info.out;
  EXPECT_EQ(info.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(info.out.find('\x07'), std::string::npos);
}

TEST(InfoCommand, AnEpisodeLinkPrintsTheEpisodeAndItsSeason) {
  test::Sandbox sandbox;
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  const std::string base = site.BaseUrl();
  const InfoRun info = RunCli(sandbox, base, "info '" + base + "/bangumi/play/ep606605'");
  EXPECT_EQ(info.exitCode, 0) << info.err;
  for (const std::string line :
       {"分集: 第12话 替身传说！罪犯新选组\n", "EP: 606605\n", "CID: 840839493\n",
        "会员: 大会员专享\n", "番剧: 测试番剧: 罪犯/新选组 & 其他\n", "季: ss42290\n",
        "正片集数: 3\n", "首播: 2022-10-16 00:00:00\n", "简介: 第一行简介\\n第二行"}) {
    EXPECT_NE(info.out.find(line), std::string::npos) << line << info.out;
  }
  const InfoRun missing = RunCli(sandbox, base, "info '" + base + "/bangumi/play/ep1'");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(missing.out.empty());
}

}  // namespace
}  // namespace korvid
