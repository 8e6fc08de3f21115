#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

struct CliRun {
  int exitCode = -1;
  std::string output;
};

CliRun RunCli(const std::string& home, const std::string& arguments) {
  const std::string command =
      std::string(KORVID_CLI_PATH) + " --home '" + home + "' " + arguments + " 2>/dev/null";
  CliRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer{};
  for (std::size_t read = 0; (read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
    run.output.append(buffer.data(), read);
  }
  const int status = ::pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
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
  EXPECT_EQ(RunCli(dir, "emby-upload " + server).exitCode, 1);  // no picture yet
  ASSERT_TRUE(home.WriteFile("头像/甲.jpg", "jpeg"));
  const CliRun uploaded = RunCli(dir, "emby-upload " + server);
  EXPECT_EQ(uploaded.exitCode, 0);
  EXPECT_EQ(uploaded.output, "上传头像完成，成功：1      失败：0\n");
  EXPECT_EQ(RunCli(dir, "emby-upload --url " + site.BaseUrl() + " --key wrong").exitCode, 1);
}

}  // namespace
}  // namespace korvid
