// korvid-cli refresh-metadata against the fake site: what it prints and its
// exit code.

#include <gtest/gtest.h>

#include <string>

#include "cli/cli_command_line.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

TEST(KorvidCliRefreshMetadata, PrintsWhatItWroteAndFailsForUnknownVideos) {
  fakesite::FakeSite site;
  ASSERT_TRUE(site.Start());
  test::Sandbox sandbox;
  // A folder of an earlier version, known by its ASS header only, and one
  // whose video the site does not know.
  ASSERT_TRUE(sandbox.WriteFile(
      "库/单页/一集S1E1.ass",
      "[Script Info]\r\nOriginal Script: [bid_BV1Ks411D7aa],[cid_35306865841]$\r\n[Events]\r\n"));
  ASSERT_TRUE(sandbox.WriteFile("库/单页/一集S1E1.mp4", "media"));
  const std::string command =
      test::CliCommand((sandbox / "home").string(),
                       "refresh-metadata " + test::ShellQuote((sandbox / "库").string()),
                       test::SiteHostsEnvironment(site.BaseUrl()));

  const test::ShellRun first = test::RunShell(command + " 2>&1");
  EXPECT_EQ(first.exitCode, 0) << first.output;
  EXPECT_NE(first.output.find("(BV1Ks411D7aa): 4 written"), std::string::npos) << first.output;
  EXPECT_NE(first.output.find("一集S1E1.nfo\n"), std::string::npos) << first.output;
  EXPECT_NE(first.output.find("1 video folders, 4 files written, 0 failed"), std::string::npos);
  EXPECT_EQ(sandbox.ReadFile("库/单页/一集S1E1.mp4"), "media");

  ASSERT_TRUE(sandbox.WriteFile("库/别的/tvshow.nfo", "<movie><id>BV1xx411c7XX</id></movie>"));
  const test::ShellRun second = test::RunShell(command + " 2>&1");
  EXPECT_EQ(second.exitCode, 1) << second.output;
  EXPECT_NE(second.output.find("2 video folders, 0 files written, 1 failed"), std::string::npos)
      << second.output;

  EXPECT_EQ(
      test::RunShell(test::CliCommand((sandbox / "home").string(), "refresh-metadata") + " 2>&1")
          .exitCode,
      2);
}

}  // namespace
}  // namespace korvid
