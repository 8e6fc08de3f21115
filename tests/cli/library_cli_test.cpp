#include <gtest/gtest.h>

#include <string>

#include "cli/cli_command_line.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

test::ShellRun RunCli(const std::string& home, const std::string& arguments) {
  return test::RunShell(test::CliCommand(home, arguments) + " 2>/dev/null");
}

TEST(KorvidCliLibrary, ListsEntriesAndUploadExitsNonZeroOnAnyFailure) {
  test::Sandbox home;
  ASSERT_TRUE(home.WriteFile("下载/甲/tvshow.nfo", "<tvshow><title>甲 ABC</title></tvshow>"));
  ASSERT_TRUE(home.WriteFile("下载/乙/tvshow.nfo", "<tvshow><title>乙</title></tvshow>"));
  const std::string dir = home.Path().string();
  EXPECT_EQ(RunCli(dir, "library --keyword abc").output, "甲 ABC\t" + dir + "/下载/甲\n");
  EXPECT_EQ(RunCli(dir, "library " + dir + "/下载/乙").output, "乙\t" + dir + "/下载/乙\n");
  EXPECT_EQ(RunCli(dir, "library /no/such/folder").exitCode, 1);

  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  site.SetEmbyPersons({{"甲", "101"}});
  const std::string server = "--url " + site.BaseUrl() + " --key " + site.EmbyApiKey();
  // People without a picture (actors of other libraries) are skipped, not failed.
  const test::ShellRun none = RunCli(dir, "emby-upload " + server);
  EXPECT_EQ(none.exitCode, 0);
  EXPECT_EQ(none.output, "上传头像完成，成功：0      失败：1\n跳过：1（没有头像）\n");
  ASSERT_TRUE(home.WriteFile("头像/甲.jpg", "jpeg"));
  const test::ShellRun uploaded = RunCli(dir, "emby-upload " + server);
  EXPECT_EQ(uploaded.exitCode, 0);
  EXPECT_EQ(uploaded.output, "上传头像完成，成功：1      失败：0\n跳过：0（没有头像）\n");
  EXPECT_EQ(RunCli(dir, "emby-upload --url " + site.BaseUrl() + " --key wrong").exitCode, 1);
  site.SetFault("/emby/Items", fakesite::Fault::Status(500));
  EXPECT_EQ(RunCli(dir, "emby-upload " + server).exitCode, 1);  // the server refused it

  // Into a pipe: no redraws; a hostile name of the server shows harmlessly.
  site.ClearFaults();
  site.SetEmbyPersons({{"\x1b]0;title\x07甲", "101"}});
  const test::ShellRun piped =
      test::RunShell(test::CliCommand(dir, "emby-upload " + server) + " 2>&1");
  EXPECT_EQ(piped.output.find_first_of("\r\x1b\x07"), std::string::npos) << piped.output;
}

TEST(KorvidCliLibrary, FileNamesAreShownHarmlessly) {
  test::Sandbox home;
  ASSERT_TRUE(
      home.WriteFile("下载/\x1b[2J甲/tvshow.nfo", "<tvshow><title>甲\x1b[31m</title></tvshow>"));
  const std::string dir = home.Path().string();
  const std::string shown = "\xEF\xBF\xBD";
  EXPECT_EQ(RunCli(dir, "library").output,
            "甲" + shown + "[31m\t" + dir + "/下载/" + shown + "[2J甲\n");
}

}  // namespace
}  // namespace korvid
