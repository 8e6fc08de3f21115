#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

using fakesite::CannedReply;
using fakesite::Fault;

struct FetchRun {
  int exitCode = -1;
  std::string messages;  // stderr
};

// korvid-cli fetch URL -o FILE with stderr captured (not a terminal, so the
// progress comes as plain lines).
FetchRun FetchToFile(const std::string& home, const std::string& url, const std::string& file) {
  const std::string command = std::string(KORVID_CLI_PATH) + " --home '" + home + "' fetch '" +
                              url + "' -o '" + file + "' 2>&1 >/dev/null";
  FetchRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer{};
  std::size_t read = 0;
  while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    run.messages.append(buffer.data(), read);
  }
  const int status = ::pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(KorvidCliFetchOutput, StreamsToTheFileAndFailsUnlessTheWholeBodyArrived) {
  test::Sandbox sandbox;
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  const std::string body(1'500'000, 'b');
  CannedReply reply;
  reply.body = body;
  site.SetCanned("GET", "/bulk/whole.bin", reply);
  site.SetCanned("GET", "/bulk/cut.bin", reply);
  site.SetFault("/bulk/whole.bin", Fault::Throttle(2'000'000));
  site.SetFault("/bulk/cut.bin", Fault::DropAfter(700'000));
  const std::string home = sandbox.Path().string();
  const std::string file = (sandbox / "out.bin").string();

  const FetchRun whole = FetchToFile(home, site.BaseUrl() + "/bulk/whole.bin", file);
  EXPECT_EQ(whole.exitCode, 0) << whole.messages;
  EXPECT_EQ(test::ReadWholeFile(file), body);
  EXPECT_NE(whole.messages.find("size 1.43MB  received 0.00MB  speed 0.0 MB/S  0秒\n"),
            std::string::npos)
      << whole.messages;
  EXPECT_NE(whole.messages.find("received 1.43MB"), std::string::npos);

  const FetchRun cut = FetchToFile(home, site.BaseUrl() + "/bulk/cut.bin", file);
  EXPECT_NE(cut.exitCode, 0);
  EXPECT_EQ(test::ReadWholeFile(file), body.substr(0, 700'000));

  const FetchRun missing = FetchToFile(home, site.BaseUrl() + "/bulk/none.bin", file);
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_NE(missing.messages.find("the server answered 404"), std::string::npos)
      << missing.messages;
  EXPECT_EQ(test::ReadWholeFile(file), body.substr(0, 700'000));  // untouched
}

}  // namespace
}  // namespace korvid
