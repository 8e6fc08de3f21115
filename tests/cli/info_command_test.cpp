// korvid-cli info against the fake site, as a user runs it.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

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
  std::string env;
  for (const char* host : {"WEB", "API", "COMMENT", "PASSPORT", "SPACE"}) {
    env += std::string("KORVID_") + host + "_BASE=" + base + " ";
  }
  const std::string errFile = (sandbox / "stderr.txt").string();
  const std::string command = env + KORVID_CLI_PATH + " --home '" + sandbox.Path().string() + "' " +
                              args + " 2>'" + errFile + "'";
  InfoRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer{};
  std::size_t read = 0;
  while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    run.out.append(buffer.data(), read);
  }
  const int status = ::pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = test::ReadWholeFile(errFile);
  return run;
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
  EXPECT_NE(second.out.find("分P: 2/2 下集\n"), std::string::npos);
  bool askedForPage2 = false;
  for (const auto& request : site.Requests()) {
    askedForPage2 = askedForPage2 || request.query.starts_with("cid=35306865892&");
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

}  // namespace
}  // namespace korvid
