#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/cli_command_line.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

using fakesite::CannedReply;
using fakesite::Fault;

// korvid-cli fetch URL -o FILE with stderr captured as output (not a terminal,
// so the progress comes as plain lines).
test::ShellRun FetchToFile(const std::string& home, const std::string& url,
                           const std::string& file) {
  return test::RunShell(test::CliCommand(home, "fetch '" + url + "' -o '" + file + "'") +
                        " 2>&1 >/dev/null");
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

  const test::ShellRun whole = FetchToFile(home, site.BaseUrl() + "/bulk/whole.bin", file);
  EXPECT_EQ(whole.exitCode, 0) << whole.output;
  EXPECT_EQ(test::ReadWholeFile(file), body);
  EXPECT_NE(whole.output.find("size 1.43MB  received 0.00MB  speed 0.0 KB/S  0秒\n"),
            std::string::npos)
      << whole.output;
  EXPECT_NE(whole.output.find("received 1.43MB"), std::string::npos);

  const test::ShellRun cut = FetchToFile(home, site.BaseUrl() + "/bulk/cut.bin", file);
  EXPECT_NE(cut.exitCode, 0);
  EXPECT_EQ(test::ReadWholeFile(file), body.substr(0, 700'000));

  const test::ShellRun missing = FetchToFile(home, site.BaseUrl() + "/bulk/none.bin", file);
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_NE(missing.output.find("the server answered 404"), std::string::npos) << missing.output;
  EXPECT_EQ(test::ReadWholeFile(file), body.substr(0, 700'000));  // untouched
}

}  // namespace
}  // namespace korvid
