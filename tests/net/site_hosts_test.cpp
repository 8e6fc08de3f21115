#include "net/site_hosts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace korvid {
namespace {

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    ::setenv(name, value, 1);
  }
  ~ScopedEnvironment() {
    if (m_old) {
      ::setenv(m_name, m_old->c_str(), 1);
    } else {
      ::unsetenv(m_name);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

class SiteHostsTest : public ::testing::Test {
 protected:
  void SetUp() override { m_saved = CurrentSiteHosts(); }
  void TearDown() override { SetCurrentSiteHosts(m_saved); }

  static auto Ini(std::map<std::string, std::string> values) {
    return [values = std::move(values)](std::string_view key) {
      const auto it = values.find(std::string(key));
      return it == values.end() ? std::string() : it->second;
    };
  }

 private:
  SiteHosts m_saved;
};

TEST_F(SiteHostsTest, DefaultsAreTheRealSiteOverHttps) {
  const SiteHosts hosts = LoadSiteHosts();
  EXPECT_EQ(hosts.web, "https://www.bilibili.com");
  EXPECT_EQ(hosts.api, "https://api.bilibili.com");
  EXPECT_EQ(hosts.comment, "https://comment.bilibili.com");
  EXPECT_EQ(hosts.passport, "https://passport.bilibili.com");
  EXPECT_EQ(hosts.space, "https://space.bilibili.com");
}

TEST_F(SiteHostsTest, SettingsFileOverridesAndEnvironmentWins) {
  ScopedEnvironment api("KORVID_API_BASE", "http://127.0.0.1:9000/");
  const SiteHosts hosts =
      LoadSiteHosts(Ini({{"KORVID_API_BASE", "https://api.mirror.test"},
                         {"KORVID_COMMENT_BASE", "https://comment.mirror.test//"}}));
  EXPECT_EQ(hosts.api, "http://127.0.0.1:9000");
  EXPECT_EQ(hosts.comment, "https://comment.mirror.test");
  EXPECT_EQ(hosts.web, "https://www.bilibili.com");
}

TEST_F(SiteHostsTest, InvalidOverridesKeepTheDefault) {
  ScopedEnvironment web("KORVID_WEB_BASE", "ftp://files.test");
  const SiteHosts hosts = LoadSiteHosts(Ini({{"KORVID_API_BASE", "not an address"},
                                             {"KORVID_COMMENT_BASE", "https://"},
                                             {"KORVID_PASSPORT_BASE", "https://host.test/path"},
                                             {"KORVID_SPACE_BASE", "https://host.test:99999"}}));
  EXPECT_EQ(hosts, SiteHosts{});
}

TEST_F(SiteHostsTest, InvalidEnvironmentFallsBackToSettingsFile) {
  ScopedEnvironment api("KORVID_API_BASE", "api.test");
  const SiteHosts hosts = LoadSiteHosts(Ini({{"KORVID_API_BASE", "https://api.mirror.test"}}));
  EXPECT_EQ(hosts.api, "https://api.mirror.test");
}

TEST(NormaliseBaseUrlTest, AcceptsHostPortAndIpv6AndRejectsTheRest) {
  EXPECT_EQ(NormaliseBaseUrl(" HTTPS://Host.Test:8443/ "), "HTTPS://Host.Test:8443");
  EXPECT_EQ(NormaliseBaseUrl("http://[::1]:8080"), "http://[::1]:8080");
  EXPECT_FALSE(NormaliseBaseUrl("https://user@host.test"));
  EXPECT_FALSE(NormaliseBaseUrl("https://host.test?x=1"));
  EXPECT_FALSE(NormaliseBaseUrl("https://host.test:"));
  EXPECT_FALSE(NormaliseBaseUrl("https://host.test:0"));
  EXPECT_FALSE(NormaliseBaseUrl("https://[]"));
  EXPECT_FALSE(NormaliseBaseUrl(""));
}

TEST_F(SiteHostsTest, AddressesFollowTheCurrentHosts) {
  SiteHosts hosts;
  hosts.web = "http://127.0.0.1:8000";
  hosts.api = "http://127.0.0.1:8001";
  hosts.comment = "http://127.0.0.1:8002";
  hosts.passport = "http://127.0.0.1:8003";
  hosts.space = "https://space.mirror.test:8443";
  SetCurrentSiteHosts(hosts);
  EXPECT_EQ(VideoPageUrl("BV117411r7R1"), "http://127.0.0.1:8000/video/BV117411r7R1");
  EXPECT_EQ(ApiUrl("/x/web-interface/view?bvid=BV1"),
            "http://127.0.0.1:8001/x/web-interface/view?bvid=BV1");
  EXPECT_EQ(ApiUrl("x/space/myinfo"), "http://127.0.0.1:8001/x/space/myinfo");
  EXPECT_EQ(CommentUrl("35306865840"), "http://127.0.0.1:8002/35306865840.xml");
  EXPECT_EQ(PassportUrl("/qrcode/getLoginUrl"), "http://127.0.0.1:8003/qrcode/getLoginUrl");
  EXPECT_EQ(SpaceHostName(), "space.mirror.test:8443");
}

TEST_F(SiteHostsTest, SpaceHostNameOfDefaultHasNoPort) {
  SetCurrentSiteHosts(SiteHosts{});
  EXPECT_EQ(SpaceHostName(), "space.bilibili.com");
}

}  // namespace
}  // namespace korvid
