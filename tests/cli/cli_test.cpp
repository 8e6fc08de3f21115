#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/cli_command_line.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

// environment: "NAME=value ..." put before the program.
test::ShellRun RunCli(const std::string& home, const std::string& arguments,
                      const std::string& environment = {}) {
  return test::RunShell(test::CliCommand(home, arguments, environment) + " 2>/dev/null");
}

TEST(KorvidCli, SetSavesTheSettingAndANewRunReadsItBack) {
  test::Sandbox sandbox;
  const std::string home = sandbox.Path().string();

  EXPECT_EQ(RunCli(home, "set 编辑框_最大线程 5").exitCode, 0);
  EXPECT_EQ(RunCli(home, "set 选择框_按类型分组 真").exitCode, 0);
  EXPECT_EQ(RunCli(home, "set 下拉框_默认编码 1").exitCode, 0);

  EXPECT_EQ(RunCli(home, "get 编辑框_最大线程").output, "5\n");
  EXPECT_EQ(RunCli(home, "get 选择框_按类型分组").output, "真\n");
  EXPECT_EQ(RunCli(home, "get 下拉框_默认编码").output, "1 (HEVC/H.265)\n");
  const std::string ini = sandbox.ReadFile("配置/Korvid配置.ini");
  EXPECT_NE(ini.find("编辑框_最大线程=5"), std::string::npos);
}

TEST(KorvidCli, RefusesUnknownNamesAndValuesWithoutWriting) {
  test::Sandbox sandbox;
  const std::string home = sandbox.Path().string();

  EXPECT_EQ(RunCli(home, "set 编辑框_没有这个 5").exitCode, 1);
  EXPECT_EQ(RunCli(home, "set 选择框_按类型分组 maybe").exitCode, 1);
  EXPECT_EQ(RunCli(home, "set 下拉框_默认编码 9").exitCode, 1);
  EXPECT_EQ(RunCli(home, "frobnicate").exitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(sandbox / "配置/Korvid配置.ini"));
}

TEST(KorvidCli, PathsNamesTheWorkingFolders) {
  test::Sandbox sandbox;
  const test::ShellRun result = RunCli(sandbox.Path().string(), "paths");

  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.output.find("下载: " + (sandbox / "下载").string()), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(sandbox / "头像"));
}

TEST(KorvidCli, FetchPrintsTheBodyAndSendsTheCookie) {
  test::Sandbox sandbox;
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  site.SetCanned("GET", "/hello", fakesite::CannedReply{200, {}, "{\"code\":0}"});

  const test::ShellRun result =
      RunCli(sandbox.Path().string(), "fetch " + site.BaseUrl() + "/hello --cookies 'a=1; b=2'");

  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "{\"code\":0}");
  const auto requests = site.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("Cookie"), "a=1; b=2");
}

TEST(KorvidCli, NfoOfASavedViewAnswer) {
  test::Sandbox sandbox;
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  ASSERT_TRUE(
      sandbox.WriteFile("配置/Korvid配置.ini", "[站点]\nKORVID_WEB_BASE=" + site.BaseUrl() + "\n"));
  const std::string data = std::string(KORVID_TEST_DATA_DIR) + "/api/";
  const std::string nfo = (sandbox / "tvshow.nfo").string();

  EXPECT_EQ(RunCli(sandbox.Path().string(),
                   "nfo " + test::ShellQuote(data + "view_BV117411r7R1_staff2.json") + " -o " +
                       test::ShellQuote(nfo))
                .exitCode,
            0);
  const std::string written = sandbox.ReadFile("tvshow.nfo");
  EXPECT_NE(written.find("  <genre>快板</genre>\r\n"), std::string::npos) << written;
  EXPECT_NE(written.find("  <tag>cid:146044693</tag>\r\n"), std::string::npos) << written;

  // Not a view answer: refused, nothing written.
  EXPECT_EQ(RunCli(sandbox.Path().string(),
                   "nfo " + test::ShellQuote(data + "view_detail_BV17x411w7KC_10pages.json") +
                       " -o " + test::ShellQuote(nfo + "2"))
                .exitCode,
            1);
  EXPECT_FALSE(std::filesystem::exists(nfo + "2"));
}

TEST(KorvidCli, AValueWithInvalidBytesCostsNoOtherSetting) {
  test::Sandbox sandbox;
  const std::string home = sandbox.Path().string();
  ASSERT_EQ(RunCli(home, "set 编辑框_cookies 'SESSDATA=abc; bili_jct=x'").exitCode, 0);
  ASSERT_TRUE(sandbox.WriteFile(
      "配置/Korvid配置.ini",
      sandbox.ReadFile("配置/Korvid配置.ini") + "[站点]\nKORVID_WEB_BASE=http://a.test\n"));

  EXPECT_EQ(RunCli(home, "set 编辑框_关键词 \"$(printf 'abc\\377')\"").exitCode, 0);
  EXPECT_EQ(RunCli(home, "set 编辑框_屏蔽弹幕 x").exitCode, 0);

  EXPECT_EQ(RunCli(home, "get 编辑框_cookies").output, "SESSDATA=abc; bili_jct=x\n");
  EXPECT_EQ(RunCli(home, "get 编辑框_关键词").output, "abc\xEF\xBF\xBD\n");
  EXPECT_EQ(RunCli(home, "hosts").output.find("web: http://a.test\n"), 0u);
}

TEST(KorvidCli, SetsOfDifferentKeysRunningTogetherBothLand) {
  test::Sandbox sandbox;
  const std::string home = sandbox.Path().string();
  constexpr int kRounds = 8;
  for (int round = 1; round <= kRounds; ++round) {
    const std::string value = std::to_string(round);
    const std::string both = "( " + test::CliCommand(home, "set 编辑框_关键词 " + value) + " & " +
                             test::CliCommand(home, "set 编辑框_emby_url " + value) +
                             " & wait ) >/dev/null 2>&1";
    ASSERT_EQ(std::system(both.c_str()), 0);
    EXPECT_EQ(RunCli(home, "get 编辑框_关键词").output, value + "\n") << round;
    EXPECT_EQ(RunCli(home, "get 编辑框_emby_url").output, value + "\n") << round;
  }
}

TEST(KorvidCli, ExtraArgumentsAndAnEmptyHomeAreRefused) {
  test::Sandbox sandbox;
  const std::string home = sandbox.Path().string();
  for (const char* arguments : {"paths now", "hosts x", "settings all", "version 2", "get a b",
                                "set 编辑框_关键词", "fetch http://127.0.0.1:1/ extra"}) {
    EXPECT_EQ(RunCli(home, arguments).exitCode, 2) << arguments;
  }
  const std::string emptyHome = std::string(KORVID_CLI_PATH) + " --home '' paths >/dev/null 2>&1";
  const int status = std::system(emptyHome.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
}

TEST(KorvidCli, LoginSavesTheCookiesAndWhoamiTellsWhetherTheSiteTakesThem) {
  test::Sandbox sandbox;
  const std::string home = sandbox.Path().string();
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  const std::string hosts =
      "KORVID_API_BASE=" + site.BaseUrl() + " KORVID_PASSPORT_BASE=" + site.BaseUrl();
  const std::string accountLines =
      "登录状态：已登录\n用户名：社会易姐QwQ\nVIP状态：大会员\n等级：5  27125/28800\n信誉：70\n"
      "硬币 ：9\n";

  EXPECT_EQ(RunCli(home, "whoami", hosts).exitCode, 1);  // not logged in yet
  const test::ShellRun login = RunCli(home, "login", hosts);
  EXPECT_EQ(login.exitCode, 0);
  EXPECT_NE(login.output.find("▀"), std::string::npos);  // the code, drawn in the terminal
  EXPECT_NE(login.output.find("已扫码，请在手机上确认\n"), std::string::npos);
  EXPECT_NE(login.output.find(accountLines), std::string::npos);
  EXPECT_EQ(RunCli(home, "get 编辑框_cookies").output, site.LoginCookie() + "\n");
  EXPECT_EQ(std::filesystem::status(sandbox / "配置/Korvid配置.ini").permissions() &
                std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  const test::ShellRun whoami = RunCli(home, "whoami", hosts);
  EXPECT_EQ(whoami.exitCode, 0);
  EXPECT_TRUE(whoami.output.ends_with(accountLines)) << whoami.output;  // after the check line
  ASSERT_EQ(RunCli(home, "set 编辑框_cookies SESSDATA=stale").exitCode, 0);
  EXPECT_EQ(RunCli(home, "whoami", hosts).exitCode, 1);

  site.SetLoginScript(fakesite::LoginScript{1, 0, true});
  EXPECT_EQ(RunCli(home, "login", hosts).exitCode, 1);  // expired
  EXPECT_EQ(RunCli(home, "get 编辑框_cookies").output, "SESSDATA=stale\n");

  // A setting changed while the log-in waits for the phone stays.
  site.SetLoginScript(fakesite::LoginScript{8, 1, false});
  const std::string printed = test::ShellQuote((sandbox / "login.txt").string());
  const test::ShellRun both =
      test::RunShell("(" + test::CliCommand(home, "login", hosts) + " >" + printed +
                     " 2>&1 & pid=$!; for i in $(seq 200); do grep -q 等待扫码 " + printed +
                     " && break; sleep 0.05; done; " +
                     test::CliCommand(home, "set 编辑框_emby_url http://nas") + "; wait $pid)");
  EXPECT_EQ(both.exitCode, 0);
  EXPECT_EQ(RunCli(home, "get 编辑框_emby_url").output, "http://nas\n");
  EXPECT_EQ(RunCli(home, "get 编辑框_cookies").output, site.LoginCookie() + "\n");

  // Only "not logged in" (-101) clears the cookies; a block keeps them.
  site.SetFault("/x/space/myinfo", fakesite::Fault::Blocked());
  const test::ShellRun blocked = test::RunShell(test::CliCommand(home, "whoami", hosts) + " 2>&1");
  EXPECT_EQ(blocked.exitCode, 1);
  EXPECT_NE(blocked.output.find("账号信息获取失败：代码 -412 请求被拦截，已保留登录信息"),
            std::string::npos)
      << blocked.output;
  EXPECT_EQ(RunCli(home, "get 编辑框_cookies").output, site.LoginCookie() + "\n");
}

}  // namespace
}  // namespace korvid
