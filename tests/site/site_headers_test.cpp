#include "site/site_headers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/settings_file.h"
#include "controls/control_names.h"
#include "support/fake_site_test.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

constexpr std::string_view kBuvid3 = "5C4B3A29-1F0E-D7C6-B5A4-9382716050F9402312infoc";
constexpr std::string_view kBuvid4 =
    "0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D40231-023120412-k9Yd3sGqL2bXr1tZ0QkzVg%3D%3D";

TEST(SiteHeadersTest, BrowserHeadersNameTheWebHost) {
  SiteHosts hosts;
  hosts.web = "https://www.example";
  EXPECT_EQ(SiteRequestHeaders(hosts),
            "User-Agent: " + std::string(kBrowserUserAgent) + "\r\nReferer: https://www.example/");
  EXPECT_EQ(SiteRequestHeaders(hosts, true),
            SiteRequestHeaders(hosts) + "\r\nOrigin: https://www.example");
}

TEST(SiteHeadersTest, CookieTextPutsTheLogInCookieFirst) {
  const VisitorCookies visitor{"v3", "v4"};
  const struct {
    const char* login;
    VisitorCookies visitor;
    const char* sent;
  } cases[] = {
      {"", visitor, "buvid3=v3; buvid4=v4"},
      {"SESSDATA=s; bili_jct=j", visitor, "SESSDATA=s; bili_jct=j; buvid3=v3; buvid4=v4"},
      {"buvid3=mine; SESSDATA=s", visitor, "buvid3=mine; SESSDATA=s; buvid4=v4"},
      {"Cookie: SESSDATA=s;\r\nbili_jct=j\n", visitor,
       "SESSDATA=s; bili_jct=j; buvid3=v3; buvid4=v4"},
      {"SESSDATA=s", {}, "SESSDATA=s"},
  };
  for (const auto& c : cases) EXPECT_EQ(SiteCookieText(c.login, c.visitor), c.sent) << c.login;
}

TEST(SiteHeadersTest, FingerAnswersThatCannotBeCookies) {
  const char* bodies[] = {
      R"({"code":0,"data":{"b_3":"a; SESSDATA=x","b_4":"b"}})",
      R"({"code":0,"data":{"b_3":"a\r\nSet-Cookie: x","b_4":"b"}})",
      R"({"code":0,"data":{"b_3":"a"}})",
      R"({"code":-412,"message":"请求被拦截"})",
      "not json",
  };
  for (const char* body : bodies) EXPECT_EQ(ParseVisitorCookies(body), std::nullopt) << body;
}

class VisitorCookiesTest : public test::FakeSiteTest {
 protected:
  [[nodiscard]] int FingerRequests() const { return RequestCount(kFingerPath); }

  test::Sandbox m_sandbox;
};

TEST_F(VisitorCookiesTest, FetchedOnceAndKeptBesideTheLogInCookie) {
  const std::string file = (m_sandbox / "Korvid配置.ini").string();
  ASSERT_TRUE(m_sandbox.WriteFile("Korvid配置.ini", "[编辑框]\n编辑框_cookies=SESSDATA=s\n"));
  VisitorCookieStore store(file);
  const VisitorCookies expected{std::string(kBuvid3), std::string(kBuvid4)};
  EXPECT_EQ(store.Known(), VisitorCookies{});
  EXPECT_EQ(FingerRequests(), 0) << "Known() never asks the site";
  EXPECT_EQ(store.Get(), expected);
  EXPECT_EQ(store.Known(), expected);
  EXPECT_EQ(store.Get(), expected);
  EXPECT_EQ(FingerRequests(), 1);
  const auto request = m_site.Requests().back();
  EXPECT_EQ(request.Header("User-Agent"), kBrowserUserAgent);
  EXPECT_FALSE(request.HasHeader("Cookie"));

  IniFile ini;
  ASSERT_TRUE(ini.Load(file));
  EXPECT_EQ(ini.Get(kSectionEditBox, kCookiesBox), "SESSDATA=s");
  EXPECT_EQ(ini.Get(kVisitorSection, "buvid3"), kBuvid3);
  EXPECT_EQ(ReadVisitorCookies(file), expected);

  VisitorCookieStore nextRun(file);
  EXPECT_EQ(nextRun.Get(), expected);
  EXPECT_EQ(FingerRequests(), 1) << "a later run reads them from the file";
}

TEST_F(VisitorCookiesTest, AfterAFailureTheSiteIsAskedAgainAtMostOnceAMinute) {
  m_site.SetFault(std::string(kFingerPath), fakesite::Fault::Status(500));
  const std::string file = (m_sandbox / "Korvid配置.ini").string();
  std::int64_t now = 1702204169;
  VisitorCookieStore store(file, {}, [&now] { return now; });
  EXPECT_EQ(store.Get(), VisitorCookies{});
  now += kVisitorRetrySeconds - 1;
  EXPECT_EQ(store.Get(), VisitorCookies{});
  EXPECT_EQ(FingerRequests(), 1) << "not again within the minute";
  EXPECT_FALSE(std::filesystem::exists(file));

  m_site.ClearFaults();
  now += 1;
  EXPECT_EQ(store.Get(), (VisitorCookies{std::string(kBuvid3), std::string(kBuvid4)}));
  now += kVisitorRetrySeconds;
  EXPECT_TRUE(store.Get().Complete());
  EXPECT_EQ(FingerRequests(), 2) << "kept once had";
}

TEST_F(VisitorCookiesTest, WrittenUnderTheSettingsLockAndNeverOverAnUnreadableFile) {
  const std::string file = (m_sandbox / "Korvid配置.ini").string();
  const VisitorCookies cookies{std::string(kBuvid3), std::string(kBuvid4)};
  bool written = false;
  std::thread writer;
  {
    // Another writer holds the lock and changes the file before letting go:
    // the cookies are written after it, onto its change.
    SettingsLock held(file);
    ASSERT_TRUE(held.Held());
    writer = std::thread([&] { written = WriteVisitorCookies(cookies, file); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(m_sandbox.WriteFile("Korvid配置.ini", "[编辑框]\n编辑框_cookies=SESSDATA=s\n"));
  }
  writer.join();
  EXPECT_TRUE(written);
  IniFile ini;
  ASSERT_TRUE(ini.Load(file));
  EXPECT_EQ(ini.Get(kSectionEditBox, kCookiesBox), "SESSDATA=s");
  EXPECT_EQ(ReadVisitorCookies(file), cookies);

  // A settings path that cannot be read (here a folder) is left alone.
  const std::string folder = (m_sandbox / "folder.ini").string();
  std::filesystem::create_directory(folder);
  EXPECT_FALSE(WriteVisitorCookies(cookies, folder));
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}

}  // namespace
}  // namespace korvid
