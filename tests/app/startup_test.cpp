#include "app/startup.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/settings_file.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "net/site_hosts.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

class StartCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("KORVID_API_BASE");
    CreateMainWindowControls(controls);
    paths.programFolder = sandbox.Path() / "程序";
  }
  void TearDown() override { SetCurrentSiteHosts(LoadSiteHosts()); }

  test::Sandbox sandbox;
  ControlStore controls;
  AppPaths paths;
};

TEST_F(StartCoreTest, FirstStartCreatesFoldersAndShowsLoggedOut) {
  const CoreStart started = StartCore(controls, paths);

  EXPECT_TRUE(std::filesystem::is_directory(paths.ConfigFolder()));
  EXPECT_TRUE(std::filesystem::is_directory(paths.DownloadFolder()));
  EXPECT_TRUE(std::filesystem::is_directory(paths.AvatarFolder()));
  EXPECT_FALSE(started.settingsRestored);
  EXPECT_EQ(controls.Text(kVersionLabel), "当前版本: 0.1.1");
  EXPECT_EQ(controls.Text(kUserInfoLabel), "登录状态：失败");
  EXPECT_EQ(controls.Text(kMaxDownloadsBox), "3");
}

TEST_F(StartCoreTest, RestoresSavedStatesAndSiteHostsFromTheSettingsFile) {
  ASSERT_TRUE(sandbox.WriteFile("程序/配置/Korvid配置.ini",
                                "[编辑框]\n编辑框_cookies=SESSDATA=abc; bili_jct=x\n"
                                "编辑框_最大线程=7\n"
                                "[站点]\nKORVID_API_BASE=http://127.0.0.1:8123/\n"));

  const CoreStart started = StartCore(controls, paths);

  EXPECT_TRUE(started.settingsRestored);
  EXPECT_EQ(controls.Text(kMaxDownloadsBox), "7");
  // A saved log-in is left for the account display, not marked as failed.
  EXPECT_NE(controls.Text(kUserInfoLabel), "登录状态：失败");
  EXPECT_EQ(CurrentSiteHosts().api, "http://127.0.0.1:8123");
  EXPECT_EQ(ApiUrl("/x/space/myinfo"), "http://127.0.0.1:8123/x/space/myinfo");
}

TEST_F(StartCoreTest, EnvironmentWinsOverTheSettingsFile) {
  ASSERT_TRUE(sandbox.WriteFile("程序/配置/Korvid配置.ini",
                                "[站点]\nKORVID_API_BASE=http://127.0.0.1:8123\n"));
  ::setenv("KORVID_API_BASE", "http://127.0.0.1:9000", 1);

  (void)StartCore(controls, paths);
  ::unsetenv("KORVID_API_BASE");

  EXPECT_EQ(CurrentSiteHosts().api, "http://127.0.0.1:9000");
}

}  // namespace
}  // namespace korvid
