// korvid-cli danmaku and refresh-danmaku, run as a user would.

#include <gtest/gtest.h>

#include <string>

#include "cli/cli_command_line.h"
#include "support/fakesite/fake_site.h"
#include "support/fakesite/site_routes.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

test::ShellRun RunCli(const std::string& home, const std::string& arguments,
                      const std::string& env = "") {
  return test::RunShell(test::CliCommand(home, arguments, env) + " 2>/dev/null");
}

const std::string kXml =
    "<i><d p=\"1.5,1,25,16777215,1,0,a,1,11\">打卡</d><d "
    "p=\"2,1,25,16777215,1,0,a,1,11\">你好</d></i>";

TEST(DanmakuCommand, ConvertsDeflatedOrPlainFilesWithTheSettingsOrOptions) {
  test::Sandbox sandbox;
  const std::string home = sandbox.Path().string();
  ASSERT_TRUE(sandbox.WriteFile("plain.xml", kXml));
  ASSERT_TRUE(sandbox.WriteFile("packed.xml", fakesite::DeflateRaw(kXml)));

  const test::ShellRun plain =
      RunCli(home, "danmaku " + (sandbox / "plain.xml").string() + " --cid 5 --bvid BV1");
  EXPECT_EQ(plain.exitCode, 0);
  EXPECT_TRUE(plain.output.starts_with("[Script Info]\r\n"));
  EXPECT_NE(plain.output.find("[bid_BV1],[cid_5]$"), std::string::npos);
  EXPECT_EQ(plain.output.find("}打卡"), std::string::npos);  // on the default block list
  EXPECT_NE(plain.output.find("}你好"), std::string::npos);

  const std::string out = (sandbox / "out.ass").string();
  EXPECT_EQ(RunCli(home, "danmaku " + (sandbox / "packed.xml").string() +
                             " --cid 5 --bvid BV1 -o " + out + " --block '' --scroll-size 30")
                .exitCode,
            0);
  const std::string written = sandbox.ReadFile("out.ass");
  EXPECT_NE(written.find("}打卡"), std::string::npos);
  EXPECT_NE(written.find("Style: R2L,黑体,30,"), std::string::npos);
}

TEST(DanmakuCommand, RefusesMissingOrUnreadableInput) {
  test::Sandbox sandbox;
  const std::string home = sandbox.Path().string();
  ASSERT_TRUE(sandbox.WriteFile("junk.bin", std::string("\x1f\x8b\x08\x00junk", 8)));
  EXPECT_EQ(
      RunCli(home, "danmaku " + (sandbox / "none.xml").string() + " --cid 5 --bvid BV1").exitCode,
      1);
  EXPECT_EQ(
      RunCli(home, "danmaku " + (sandbox / "junk.bin").string() + " --cid 5 --bvid BV1").exitCode,
      1);
  EXPECT_EQ(RunCli(home, "danmaku " + (sandbox / "junk.bin").string() + " --bvid BV1").exitCode, 1);
  EXPECT_EQ(RunCli(home, "refresh-danmaku " + (sandbox / "none").string()).exitCode, 1);
}

TEST(RefreshDanmakuCommand, RefreshesAFolderFromTheCommentHost) {
  test::Sandbox sandbox;
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  site.SetCanned("GET", "/77.xml",
                 fakesite::CannedReply{200, {}, fakesite::DeflateRaw(kXml), "text/xml"});
  ASSERT_TRUE(sandbox.WriteFile("lib/v/S1E1.ass",
                                "[Script Info]\r\nOriginal Script: [bid_BV7],[cid_77]$\r\n"));
  ASSERT_TRUE(sandbox.WriteFile("lib/other.ass", "[Script Info]\r\n"));

  const test::ShellRun run =
      RunCli(sandbox.Path().string(), "refresh-danmaku " + (sandbox / "lib").string(),
             "KORVID_COMMENT_BASE=" + site.BaseUrl());
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("共刷新了2部影片弹幕: 1 refreshed, 1 skipped, 0 failed"),
            std::string::npos)
      << run.output;
  EXPECT_NE(sandbox.ReadFile("lib/v/S1E1.ass").find("}你好"), std::string::npos);
  EXPECT_EQ(sandbox.ReadFile("lib/v/S1E1.xml"), kXml);
}

}  // namespace
}  // namespace korvid
