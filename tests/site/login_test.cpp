#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>

#include "app/app_state.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "net/site_hosts.h"
#include "site/account_info.h"
#include "site/login_images.h"
#include "site/login_workers.h"
#include "site/qr_image.h"
#include "site/qr_login.h"
#include "support/fake_site_test.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

using fakesite::CannedReply;
using fakesite::Fault;
using fakesite::LoginScript;

constexpr std::string_view kRecordedAccountLabel =
    "登录状态：已登录\r\n用户名：社会易姐QwQ\r\nVIP状态：大会员\r\n等级：5  27125/28800\r\n"
    "信誉：70\r\n硬币 ：9";

std::string RecordedAccount() {
  std::ifstream in(std::string(KORVID_TEST_DATA_DIR) + "/api/space_myinfo.json");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Replace(std::string text, std::string_view from, std::string_view to) {
  const auto at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

class LoginTest : public test::FakeSiteTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(FakeSiteTest::SetUp());
    CreateMainWindowControls(store);
  }

  QrLoginOutcome Login() {
    OauthKeyQrLogin api;
    QrLoginHooks hooks;
    hooks.wait = [this](std::chrono::milliseconds interval) {
      EXPECT_EQ(interval.count(), 500);
      ++waits;
      return true;
    };
    return RunQrLogin(store, api, hooks);
  }

  int Requests(const std::string& path) {
    int count = 0;
    for (const auto& request : m_site.Requests()) count += request.path == path ? 1 : 0;
    return count;
  }

  std::vector<std::string> NoticeTexts() {
    std::vector<std::string> texts;
    for (const auto& notice : store.NoticeHistory()) texts.push_back(notice.text);
    return texts;
  }

  ControlStore store;
  int waits = 0;
};

TEST_F(LoginTest, ConfirmedAfterSomePollsFillsTheCookiesAndShowsTheAccount) {
  m_site.SetLoginScript(LoginScript{2, 1, false});
  EXPECT_EQ(Login(), QrLoginOutcome::kLoggedIn);
  EXPECT_EQ(Requests("/qrcode/getLoginInfo"), 4);
  EXPECT_EQ(waits, 3);
  EXPECT_EQ(store.Text(kCookiesBox), m_site.LoginCookie());
  EXPECT_EQ(store.Text(kUserInfoLabel), kRecordedAccountLabel);
  EXPECT_EQ(store.Picture(kVipBadgePicture), VipBadgePng());
  EXPECT_FALSE(store.Picture(kUserAvatarPicture).empty());
  EXPECT_TRUE(store.Picture(kQrPicture).empty());  // the used code is gone
  EXPECT_EQ(NoticeTexts(), std::vector<std::string>{"已扫码，请在手机上确认"});
  EXPECT_EQ(store.NoticeHistory().front().title, "提示") << "not done yet: the phone must confirm";

  for (const auto& request : m_site.Requests()) {
    if (request.path == "/qrcode/getLoginInfo") {
      EXPECT_EQ(request.method, "POST");
      EXPECT_TRUE(request.body.starts_with("oauthKey=")) << request.body;
      EXPECT_EQ(request.Header("Referer"), m_site.BaseUrl() + "/");
      EXPECT_EQ(request.Header("User-Agent"),
                "Mozilla/5.0 (Windows NT 6.1; WOW64; rv:46.0) Gecko/20100101 Firefox/46.0");
      EXPECT_FALSE(request.HasHeader("Cookie"));
    }
    // The log-in address is a credential: no outside image service is asked.
    EXPECT_NE(request.path, "/action/qrcode/generate");
    if (request.path == "/x/space/myinfo") {
      EXPECT_EQ(request.Header("Cookie"), m_site.LoginCookie());
    }
  }
}

TEST_F(LoginTest, EndsWithoutALogInKeepThePreviousCookies) {
  const std::string unconfirmed = R"({"status":false,"message":"no code field here"})";
  const std::string confirmedNoCookie =
      R"({"code":0,"status":true,"data":{"url":"https://passport.example/x"}})";
  struct Case {
    std::string name;
    LoginScript script;
    std::string cannedPoll;  // empty: the scripted poll
    QrLoginOutcome outcome;
    int polls;
  };
  const std::vector<Case> cases = {
      {"expired", LoginScript{1, 1, true}, "", QrLoginOutcome::kExpired, 3},
      {"never confirmed", LoginScript{1000, 0, false}, "", QrLoginOutcome::kTimedOut, 120},
      {"answers without code", LoginScript{}, unconfirmed, QrLoginOutcome::kTimedOut, 120},
      {"confirmed, no cookie", LoginScript{}, confirmedNoCookie, QrLoginOutcome::kNoCookie, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_site.ClearRequests();
    m_site.ClearCanned();
    m_site.SetLoginScript(c.script);
    if (!c.cannedPoll.empty()) {
      m_site.SetCanned("POST", "/qrcode/getLoginInfo", CannedReply{200, {}, c.cannedPoll});
    }
    store.SetText(kCookiesBox, "SESSDATA=earlier");
    store.SetPicture(kQrPicture, {});
    SetStatusCaption(store, "");
    waits = 0;

    EXPECT_EQ(Login(), c.outcome);
    EXPECT_EQ(Requests("/qrcode/getLoginInfo"), c.polls);
    EXPECT_EQ(store.Text(kCookiesBox), "SESSDATA=earlier");
    EXPECT_EQ(Requests("/x/space/myinfo"), 0);
    if (c.outcome == QrLoginOutcome::kNoCookie) {
      EXPECT_EQ(store.NoticeHistory().back().text, kNoticeLoginFailed);
    } else {
      EXPECT_EQ(store.Picture(kQrPicture), ExpiredQrPng());
      EXPECT_EQ(store.Caption(), "Korvid - 请重新获取二维码");
    }
  }
}

TEST_F(LoginTest, NoCodeFromThePassportHostIsANotice) {
  m_site.SetFault("/qrcode/getLoginUrl", Fault::Status(404));
  EXPECT_EQ(Login(), QrLoginOutcome::kNoCode);
  EXPECT_EQ(NoticeTexts(), std::vector<std::string>{std::string(kNoticeQrFailed)});
  EXPECT_EQ(Requests("/qrcode/getLoginInfo"), 0);
}

TEST_F(LoginTest, AccountDisplayForEachAnswer) {
  std::string nonVip = Replace(RecordedAccount(), R"("coins": 9)", R"("coins": 12.5)");
  nonVip = Replace(nonVip, R"("status": 1)", R"("status": 0)");
  struct Case {
    std::string name;
    std::string cookies;
    std::optional<std::string> canned;  // the account answer instead of the site's own
    std::optional<Fault> fault;
    AccountCheck result;
    std::string label;
    std::string cookiesAfter;
  };
  const std::string loggedIn = m_site.LoginCookie();
  const std::vector<Case> cases = {
      {"recorded account", loggedIn, std::nullopt, std::nullopt, AccountCheck::kLoggedIn,
       std::string(kRecordedAccountLabel), loggedIn},
      {"coins 12.5, no VIP", loggedIn, nonVip, std::nullopt, AccountCheck::kLoggedIn,
       "登录状态：已登录\r\n用户名：社会易姐QwQ\r\nVIP状态：非会员\r\n等级：5  27125/28800\r\n"
       "信誉：70\r\n硬币 ：12.5",
       loggedIn},
      {"refused", "SESSDATA=stale", std::nullopt, std::nullopt, AccountCheck::kRefused,
       "登录状态：失败", ""},
      // Only -101 clears the cookies; every other failure keeps them and says why.
      {"blocked (-412)", loggedIn, std::nullopt, Fault::Blocked(), AccountCheck::kKept,
       AccountKeptText("代码 -412 请求被拦截"), loggedIn},
      {"risk control (-352)", loggedIn, std::nullopt, Fault::ApiCode(-352), AccountCheck::kKept,
       AccountKeptText("代码 -352 fault -352"), loggedIn},
      {"HTTP 412", loggedIn, std::nullopt, Fault::Status(412), AccountCheck::kKept,
       AccountKeptText("HTTP 412"), loggedIn},
      {"HTTP 500", loggedIn, std::nullopt, Fault::Status(500, "<html>oops</html>"),
       AccountCheck::kKept, AccountKeptText("HTTP 500"), loggedIn},
      {"answer cut off", loggedIn, std::nullopt, Fault::DropAfter(3), AccountCheck::kKept,
       AccountKeptText("网络错误"), loggedIn},
      {"not JSON", loggedIn, "abc", std::nullopt, AccountCheck::kKept,
       AccountKeptText("无法读取的回答"), loggedIn},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_site.ClearCanned();
    m_site.ClearFaults();
    if (c.canned) m_site.SetCanned("GET", "/x/space/myinfo", CannedReply{200, {}, *c.canned});
    if (c.fault) m_site.SetFault("/x/space/myinfo", *c.fault);
    store.SetText(kCookiesBox, c.cookies);
    const std::size_t noticesBefore = store.NoticeHistory().size();

    EXPECT_EQ(ShowAccountInfo(store), c.result);
    EXPECT_EQ(store.Text(kUserInfoLabel), c.label);
    EXPECT_EQ(store.Text(kCookiesBox), c.cookiesAfter);
    const bool failed = c.result != AccountCheck::kLoggedIn;
    EXPECT_EQ(store.NoticeHistory().size(), noticesBefore + (failed ? 1 : 0));
    if (c.result == AccountCheck::kRefused) {
      EXPECT_EQ(store.NoticeHistory().back().text, kNoticeLoginFailed);
    }
    if (c.result == AccountCheck::kKept) {
      EXPECT_EQ(store.NoticeHistory().back().text, c.label);
    } else {
      const bool vip = c.result == AccountCheck::kLoggedIn && !c.canned;
      EXPECT_EQ(store.Picture(kVipBadgePicture), vip ? VipBadgePng() : NonVipBadgePng());
    }
  }
}

// The current pair's code lives 180 s: a confirmation after a minute and a
// half still logs in, and an unconfirmed code is given up at its end. The
// clock moves with each wait, so nothing here waits for real.
TEST_F(LoginTest, CurrentPairPollsForTheCodesLifetime) {
  struct Case {
    std::string name;
    LoginScript script;
    QrLoginOutcome outcome;
    int polls;
  };
  const std::vector<Case> cases = {
      {.name = "confirmed at 90 s",
       .script = LoginScript{170, 10, false},
       .outcome = QrLoginOutcome::kLoggedIn,
       .polls = 181},
      {.name = "never confirmed",
       .script = LoginScript{1000, 0, false},
       .outcome = QrLoginOutcome::kTimedOut,
       .polls = 360},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_site.ClearRequests();
    m_site.SetLoginScript(c.script);
    store.SetText(kCookiesBox, "");
    auto clock = std::chrono::steady_clock::time_point{};
    QrcodeKeyQrLogin api;
    QrLoginHooks hooks;
    hooks.now = [&clock] { return clock; };
    hooks.wait = [&clock](std::chrono::milliseconds interval) {
      clock += interval;
      return true;
    };
    EXPECT_EQ(RunQrLogin(store, api, hooks), c.outcome);
    EXPECT_EQ(Requests("/x/passport-login/web/qrcode/poll"), c.polls);
    EXPECT_EQ(store.Text(kCookiesBox).empty(), c.outcome != QrLoginOutcome::kLoggedIn);
  }
}

TEST_F(LoginTest, ARedirectedPollCannotPlantACookie) {
  const std::string elsewhere = "http://localhost:" + std::to_string(m_site.Port()) + "/planted";
  m_site.SetCanned("GET", "/x/passport-login/web/qrcode/poll",
                   CannedReply{302, {{"Location", elsewhere}}, ""});
  m_site.SetCanned("GET", "/planted",
                   CannedReply{200,
                               {{"Set-Cookie", "bili_jct=planted; Path=/"}},
                               R"({"code":0,"data":{"code":0,"url":"x"}})"});
  store.SetText(kCookiesBox, "SESSDATA=earlier");
  QrcodeKeyQrLogin api;
  QrLoginHooks hooks;
  hooks.wait = [](std::chrono::milliseconds) { return true; };
  EXPECT_EQ(RunQrLogin(store, api, hooks), QrLoginOutcome::kNoCookie);
  EXPECT_EQ(store.Text(kCookiesBox), "SESSDATA=earlier");
}

TEST_F(LoginTest, CurrentQrPairFirstAndTheOlderPairWhereItIsNotServed) {
  const std::string refused = R"({"code":-1,"message":"服务调用超时","ttl":1})";
  struct Case {
    std::string name;
    fakesite::QrLoginRetirement retired;
    LoginScript script;
    std::string cannedGenerate;  // non-empty: the generate call answers this
    QrLoginOutcome outcome;
    int newerPolls;
    int olderPolls;
  };
  const std::vector<Case> cases = {
      {"current pair",
       {true, false},
       LoginScript{2, 1, false},
       "",
       QrLoginOutcome::kLoggedIn,
       4,
       0},
      {"current pair, expired",
       {false, false},
       LoginScript{1, 1, true},
       "",
       QrLoginOutcome::kExpired,
       3,
       0},
      {"current pair retired (404)",
       {false, true},
       LoginScript{1, 1, false},
       "",
       QrLoginOutcome::kLoggedIn,
       0,
       3},
      {"generate refused",
       {false, false},
       LoginScript{1, 0, false},
       refused,
       QrLoginOutcome::kLoggedIn,
       0,
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_site.ClearRequests();
    m_site.ClearCanned();
    m_site.RetireQrLogin(c.retired);
    m_site.SetLoginScript(c.script);
    if (!c.cannedGenerate.empty()) {
      m_site.SetCanned("GET", "/x/passport-login/web/qrcode/generate",
                       CannedReply{200, {}, c.cannedGenerate});
    }
    store.SetText(kCookiesBox, "");
    const std::size_t noticesBefore = store.NoticeHistory().size();
    const std::unique_ptr<QrLoginApi> api = DefaultQrLoginApi();
    QrLoginHooks hooks;
    hooks.wait = [](std::chrono::milliseconds) { return true; };
    std::vector<QrPollState> states;
    hooks.stateChanged = [&](QrPollState state) { states.push_back(state); };

    EXPECT_EQ(RunQrLogin(store, *api, hooks), c.outcome);
    EXPECT_EQ(Requests("/x/passport-login/web/qrcode/poll"), c.newerPolls);
    EXPECT_EQ(Requests("/qrcode/getLoginInfo"), c.olderPolls);
    const bool loggedIn = c.outcome == QrLoginOutcome::kLoggedIn;
    EXPECT_EQ(store.Text(kCookiesBox), loggedIn ? m_site.LoginCookie() : "");
    if (loggedIn) {
      EXPECT_EQ(store.Text(kUserInfoLabel), kRecordedAccountLabel);
    }
    if (c.script.notConfirmedPolls > 0) {
      // "已扫码，请在手机上确认" once the phone has scanned.
      EXPECT_EQ(store.NoticeHistory().at(noticesBefore).text, kNoticeQrScanned);
      EXPECT_EQ(states.at(1), QrPollState::kScanned);
    }
    EXPECT_EQ(states.front(), QrPollState::kNotScanned);
  }
  // With both gone there is no code to show.
  m_site.ClearCanned();
  m_site.RetireQrLogin({true, true});
  m_site.SetFault("/qrcode/getLoginUrl", Fault::Status(404));
  const std::unique_ptr<QrLoginApi> api = DefaultQrLoginApi();
  EXPECT_EQ(RunQrLogin(store, *api, QrLoginHooks{}), QrLoginOutcome::kNoCode);
}

TEST_F(LoginTest, RetiredOlderPairNeverConfirms) {
  m_site.RetireQrLogin({true, false});
  EXPECT_EQ(Login(), QrLoginOutcome::kTimedOut);  // code 20000 to every poll
  EXPECT_EQ(Requests("/qrcode/getLoginInfo"), kQrMaxPolls);
}

class LoginWorkersTest : public LoginTest {
 protected:
  LoginWorkersTest() : state(store, AppPaths{sandbox / "program"}) {}

  // The workers log in with the site's current calls.
  int Polls() { return Requests("/x/passport-login/web/qrcode/poll"); }

  test::Sandbox sandbox;
  AppState state;
};

TEST_F(LoginWorkersTest, OneQrLogInAtATimeAndTheFlagClearsAfterIt) {
  std::mutex mutex;
  std::condition_variable released;
  bool go = false;
  LoginWorkers workers(state);
  workers.SetPollWait([&](std::chrono::milliseconds) {
    std::unique_lock lock(mutex);
    released.wait_for(lock, std::chrono::seconds(10), [&] { return go; });
  });
  m_site.SetLoginScript(LoginScript{1, 0, false});
  workers.StartQrLogin();
  ASSERT_TRUE(test::WaitFor([&] { return Polls() == 1; }, 5000));
  EXPECT_TRUE(state.Busy().IsSet(BusyFlag::kQrLogin));
  workers.StartQrLogin();
  EXPECT_EQ(NoticeTexts(), std::vector<std::string>{"请勿重复获取二维码"});
  {
    std::lock_guard lock(mutex);
    go = true;
  }
  released.notify_all();
  workers.Join();
  EXPECT_FALSE(state.Busy().IsSet(BusyFlag::kQrLogin));
  EXPECT_EQ(store.Text(kCookiesBox), m_site.LoginCookie());
  EXPECT_EQ(Requests("/x/passport-login/web/qrcode/generate"), 1);
}

TEST_F(LoginWorkersTest, EndingTheProgramStopsAPollingLogIn) {
  m_site.SetLoginScript(LoginScript{1000, 0, false});
  const auto start = std::chrono::steady_clock::now();
  {
    LoginWorkers workers(state);  // the real 500 ms wait
    workers.StartQrLogin();
    ASSERT_TRUE(test::WaitFor([&] { return Polls() >= 1; }, 5000));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(state.Busy().IsSet(BusyFlag::kQrLogin));
  EXPECT_LE(Polls(), 2);
}

TEST_F(LoginWorkersTest, CheckAndStartUpAskTheSiteOnlyWithCookies) {
  LoginWorkers workers(state);
  EXPECT_FALSE(workers.StartAccountCheckIfLoggedIn());
  workers.CheckLogin();  // empty box: the failure display at once, no request
  EXPECT_EQ(store.Text(kUserInfoLabel), "登录状态：失败");
  EXPECT_EQ(NoticeTexts(), std::vector<std::string>{std::string(kNoticeLoginFailed)});
  EXPECT_EQ(store.Picture(kVipBadgePicture), NonVipBadgePng());

  store.SetText(kCookiesBox, m_site.LoginCookie());
  EXPECT_TRUE(workers.StartAccountCheckIfLoggedIn());
  workers.CheckLogin();
  workers.Join();
  EXPECT_EQ(Requests("/x/space/myinfo"), 2);
  EXPECT_EQ(store.Text(kUserInfoLabel), kRecordedAccountLabel);
}

TEST(QrImageTest, HalfBlocksDrawTwoModuleRowsPerLineWithABorder) {
  // A 2x2 code: dark, light / light, dark.
  const QrModules modules{2, {true, false, false, true}};
  EXPECT_EQ(QrHalfBlocks(modules),
            "██████\n"
            "██▄▀██\n"
            "██████\n");
  EXPECT_EQ(QrHalfBlocks(modules, true),
            "      \n"
            "  ▀▄  \n"
            "      \n");
  const std::optional<QrModules> code = EncodeQr("https://passport.bilibili.com/qrcode/h5/login");
  ASSERT_TRUE(code);
  EXPECT_EQ(code->size % 4, 1);  // 21, 25, 29 ...: a real QR version
  EXPECT_TRUE(code->Dark(0, 0) && code->Dark(6, 6) && !code->Dark(7, 7));  // finder pattern
}

}  // namespace
}  // namespace korvid
