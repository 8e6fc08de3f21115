#include "app/app_paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <sys/stat.h>

#include "support/sandbox.h"

namespace fs = std::filesystem;

namespace korvid {
namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (m_old) {
      ::setenv(m_name, m_old->c_str(), 1);
    } else {
      ::unsetenv(m_name);
    }
  }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

TEST(AppPaths, KorvidHomeOverridesAndFoldersAreCreated) {
  test::Sandbox sandbox;
  ScopedEnv home("KORVID_HOME", (sandbox / "家").string());
  const AppPaths paths = LocateAppPaths();
  EXPECT_EQ(paths.programFolder, sandbox / "家");

  CreateWorkingFolders(paths);
  EXPECT_TRUE(fs::is_directory(sandbox / "家" / "配置"));
  EXPECT_TRUE(fs::is_directory(sandbox / "家" / "下载"));
  EXPECT_TRUE(fs::is_directory(sandbox / "家" / "头像"));
  CreateWorkingFolders(paths);  // a second start finds them and changes nothing
}

TEST(AppPaths, WritableExecutableFolderIsPortableHome) {
  ScopedEnv home("KORVID_HOME", std::nullopt);
  const fs::path exeFolder = fs::read_symlink("/proc/self/exe").parent_path();
  EXPECT_EQ(LocateAppPaths().programFolder, exeFolder);  // the build folder is writable
}

TEST(AppPaths, ConfigFileCreatesItsFolder) {
  test::Sandbox sandbox;
  const AppPaths paths{sandbox.Path()};
  EXPECT_EQ(paths.ConfigFile(), sandbox / "配置" / "Korvid配置.ini");
  EXPECT_TRUE(fs::is_directory(sandbox / "配置"));
}

TEST(AppPaths, OwnFfmpegIsUsedAsItIsElsePathIsSearched) {
  test::Sandbox sandbox;
  const AppPaths paths{sandbox / "home"};
  ASSERT_TRUE(sandbox.WriteFile("bin/ffmpeg", "#!/bin/sh\n"));
  ::chmod((sandbox / "bin" / "ffmpeg").c_str(), 0755);
  ASSERT_TRUE(sandbox.WriteFile("plain/ffmpeg", "not executable"));

  {
    ScopedEnv path("PATH", (sandbox / "plain").string() + "::" + (sandbox / "bin").string());
    EXPECT_EQ(FindFfmpeg(paths), (sandbox / "bin" / "ffmpeg").string());
    // A truncated tool of our own is still ours: never compared or replaced.
    ASSERT_TRUE(sandbox.WriteFile("home/配置/ffmpeg", "trunc"));
    EXPECT_EQ(FindFfmpeg(paths), (sandbox / "home" / "配置" / "ffmpeg").string());
    EXPECT_EQ(sandbox.ReadFile("home/配置/ffmpeg"), "trunc");
  }
  ScopedEnv path("PATH", (sandbox / "plain").string());
  EXPECT_EQ(FindFfmpeg(AppPaths{sandbox / "other"}), "");
}

}  // namespace
}  // namespace korvid
