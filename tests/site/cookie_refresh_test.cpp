#include "site/cookie_refresh.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <vector>

#include "app/login_record.h"
#include "app/settings_file.h"
#include "controls/control_names.h"
#include "controls/control_store.h"
#include "controls/window_layout.h"
#include "support/closed_port.h"
#include "support/fake_site_test.h"
#include "support/sandbox.h"

namespace korvid {
namespace {

constexpr std::int64_t kNow = 1'700'000'000'000;
constexpr std::string_view kQrToken = "fakesite0refresh0token";

// A key pair of the test's own, for the round trip.
class TestKey {
 public:
  TestKey() : m_pair(EVP_RSA_gen(1024)) {}
  ~TestKey() { EVP_PKEY_free(m_pair); }
  TestKey(const TestKey&) = delete;
  TestKey& operator=(const TestKey&) = delete;

  [[nodiscard]] std::string PublicBase64() const {
    unsigned char* der = nullptr;
    const int size = i2d_PUBKEY(m_pair, &der);
    std::string text(static_cast<std::size_t>(4 * ((size + 2) / 3)) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), der, size)));
    OPENSSL_free(der);
    return text;
  }

  [[nodiscard]] std::string Decrypt(const std::string& cipher) const {
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(m_pair, nullptr);
    std::size_t size = 512;
    std::vector<unsigned char> plain(size);
    const bool ok =
        EVP_PKEY_decrypt_init(context) > 0 &&
        EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_OAEP_PADDING) > 0 &&
        EVP_PKEY_CTX_set_rsa_oaep_md(context, EVP_sha256()) > 0 &&
        EVP_PKEY_CTX_set_rsa_mgf1_md(context, EVP_sha256()) > 0 &&
        EVP_PKEY_decrypt(context, plain.data(), &size,
                         reinterpret_cast<const unsigned char*>(cipher.data()), cipher.size()) > 0;
    EVP_PKEY_CTX_free(context);
    return ok ? std::string(reinterpret_cast<const char*>(plain.data()), size) : "(failed)";
  }

 private:
  EVP_PKEY* m_pair;
};

TEST(CookieRefreshCrypto, OaepRoundTripAndTheCorrespondPathForm) {
  const TestKey key;
  const std::optional<std::string> cipher =
      OaepEncrypt(key.PublicBase64(), "refresh_1684468084078");
  ASSERT_TRUE(cipher);
  EXPECT_EQ(key.Decrypt(*cipher), "refresh_1684468084078");

  // The site's own key: 1024 bits, so always 256 hex digits.
  const std::optional<std::string> path = CorrespondPath(kDefaultRefreshKey, 1684468084078);
  ASSERT_TRUE(path);
  EXPECT_EQ(path->size(), 256U);
  EXPECT_EQ(path->find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_FALSE(CorrespondPath("not a key", 1));
}

TEST(CookieRefreshCrypto, HexKeepsLeadingZeroBytes) {
  std::string cipher(128, '\x7f');
  cipher[0] = '\0';
  cipher[1] = '\x0a';
  const std::string hex = LowerHex(cipher);
  EXPECT_EQ(hex.size(), 256U);
  EXPECT_EQ(hex.substr(0, 6), "000a7f");
}

TEST(CookieRefreshCrypto, RefreshCsrfIsTheTextOfTheFirstNameDiv) {
  EXPECT_EQ(RefreshCsrfOfPage("<div id=\"2-name\">x</div><div id=\"1-name\">\n b0cc84 \n</div>"),
            "b0cc84");
  EXPECT_EQ(RefreshCsrfOfPage("<html>404</html>"), "");
}

class CookieRefreshTest : public test::FakeSiteTest {
 protected:
  void SetUp() override {
    FakeSiteTest::SetUp();
    CreateMainWindowControls(m_controls);
    m_savedKey = CurrentRefreshKey();
    SetCurrentRefreshKey(m_site.RefreshPublicKey());
    ASSERT_TRUE(StoreNewLogin(Settings(), m_site.LoginCookie(), std::string(kQrToken), 0));
    m_controls.SetText(kCookiesBox, m_site.LoginCookie());
  }
  void TearDown() override {
    SetCurrentRefreshKey(m_savedKey);
    FakeSiteTest::TearDown();
  }
  [[nodiscard]] std::string Settings() const { return (m_sandbox.Path() / "k.ini").string(); }
  [[nodiscard]] std::string StoredCookie() const {
    IniFile ini;
    return ini.Load(Settings()) ? DecodeEditText(ini.Get(kSectionEditBox, kCookiesBox)) : "";
  }
  [[nodiscard]] std::string NoticeTexts() {
    std::string texts;
    for (const NoticeRecord& notice : m_controls.TakeNotices()) texts += notice.text + "\n";
    return texts;
  }

  test::Sandbox m_sandbox;
  ControlStore m_controls;
  std::string m_savedKey;
};

TEST_F(CookieRefreshTest, NoRefreshNeededAsksOnlyTheCheckAndOnlyOnceADay) {
  const auto first = RefreshLoginIfDue(m_controls, Settings(), kNow);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->outcome, RefreshOutcome::kNotNeeded);
  EXPECT_FALSE(RefreshLoginIfDue(m_controls, Settings(), kNow + kRefreshCheckIntervalMs - 1));
  EXPECT_EQ(m_site.RefreshCallsSeen().info, 1);
  EXPECT_EQ(m_site.RefreshCallsSeen().refresh, 0);
  EXPECT_EQ(LoadLoginRecord(Settings()).lastCheckAnswer, "无需续期");
  EXPECT_EQ(StoredCookie(), m_site.LoginCookie());
}

TEST_F(CookieRefreshTest, AWholeRefreshStoresTheNewCookieAndTokenAndConfirmsWithTheOldToken) {
  m_site.SetRefreshNeeded(true);
  const auto result = RefreshLoginIfDue(m_controls, Settings(), kNow);
  ASSERT_TRUE(result);
  ASSERT_EQ(result->outcome, RefreshOutcome::kRefreshed) << result->reason;
  const std::string cookie = m_controls.Text(kCookiesBox);
  EXPECT_NE(cookie.find("SESSDATA=sess00000001"), std::string::npos) << cookie;
  EXPECT_NE(cookie.find("bili_jct=jct00000001"), std::string::npos) << cookie;
  EXPECT_NE(cookie.find("DedeUserID="), std::string::npos) << "unchanged cookies stay";
  EXPECT_EQ(StoredCookie(), cookie);
  EXPECT_EQ(LoadLoginRecord(Settings()).refreshToken, "tok00000001");
  const fakesite::RefreshCalls calls = m_site.RefreshCallsSeen();
  EXPECT_EQ(calls.confirm, 1);
  EXPECT_EQ(calls.confirmCsrf, "jct00000001");
  EXPECT_EQ(calls.confirmToken, kQrToken);
  EXPECT_TRUE(NoticeTexts().empty());

  // Once a day: the same day asks nothing more.
  EXPECT_FALSE(RefreshLoginIfDue(m_controls, Settings(), kNow + 1000));
  EXPECT_EQ(m_site.RefreshCallsSeen().info, 1);
}

struct FailureCase {
  std::string name;
  std::function<void(fakesite::FakeSite&)> arrange;
  RefreshOutcome outcome;
  std::string reasonHas;
};

class CookieRefreshFailure : public CookieRefreshTest,
                             public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CookieRefreshFailure, KeepsTheLogInAndSaysWhyOnce) {
  m_site.SetRefreshNeeded(true);
  GetParam().arrange(m_site);
  const auto result = RefreshLoginIfDue(m_controls, Settings(), kNow);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->outcome, GetParam().outcome);
  EXPECT_NE(result->reason.find(GetParam().reasonHas), std::string::npos) << result->reason;
  EXPECT_EQ(m_controls.Text(kCookiesBox), m_site.LoginCookie());
  EXPECT_EQ(StoredCookie(), m_site.LoginCookie());
  EXPECT_EQ(LoadLoginRecord(Settings()).refreshToken, kQrToken);
  EXPECT_EQ(NoticeTexts(), "登录续期失败：" + result->reason + "\n");
  EXPECT_EQ(m_site.RefreshCallsSeen().confirm, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CookieRefreshFailure,
    ::testing::Values(
        FailureCase{.name = "TokenRefused",
                    .arrange = [](fakesite::FakeSite& site) { site.SetRefreshAnswerCode(86095); },
                    .outcome = RefreshOutcome::kFailed,
                    .reasonHas = "86095"},
        FailureCase{.name = "CsrfRefused",
                    .arrange = [](fakesite::FakeSite& site) { site.SetRefreshAnswerCode(-111); },
                    .outcome = RefreshOutcome::kFailed,
                    .reasonHas = "-111"},
        FailureCase{.name = "CorrespondPageMissing",
                    .arrange =
                        [](fakesite::FakeSite& site) {
                          site.SetFault("/correspond/", fakesite::Fault::Status(404));
                        },
                    .outcome = RefreshOutcome::kFailed,
                    .reasonHas = "HTTP 404"},
        FailureCase{.name = "CheckBlocked",
                    .arrange =
                        [](fakesite::FakeSite& site) {
                          site.SetFault("/x/passport-login/web/cookie/info",
                                        fakesite::Fault::Blocked());
                        },
                    .outcome = RefreshOutcome::kFailed,
                    .reasonHas = "HTTP 412"}),
    [](const ::testing::TestParamInfo<FailureCase>& instance) { return instance.param.name; });

TEST_F(CookieRefreshTest, AWrongKeyMakesAPathThePageRefuses) {
  m_site.SetRefreshNeeded(true);
  SetCurrentRefreshKey(std::string(kDefaultRefreshKey));
  const auto result = RefreshLoginIfDue(m_controls, Settings(), kNow);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->outcome, RefreshOutcome::kFailed);
  EXPECT_EQ(StoredCookie(), m_site.LoginCookie());
}

TEST_F(CookieRefreshTest, AnUnreachableSiteKeepsTheLogIn) {
  const std::string closed = "http://127.0.0.1:" + std::to_string(test::ClosedPort());
  SetCurrentSiteHosts(SiteHosts{closed, closed, closed, closed, closed});
  const auto result = RefreshLoginIfDue(m_controls, Settings(), kNow);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->outcome, RefreshOutcome::kFailed);
  EXPECT_EQ(result->reason, "cookie/info: 网络错误");
  EXPECT_EQ(StoredCookie(), m_site.LoginCookie());
}

TEST_F(CookieRefreshTest, MinusOneHundredAndOneEndsTheLogIn) {
  m_controls.SetText(kCookiesBox, "SESSDATA=stale; bili_jct=x");
  const auto result = RefreshLoginIfDue(m_controls, Settings(), kNow);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->outcome, RefreshOutcome::kLoggedOut);
  EXPECT_EQ(m_controls.Text(kCookiesBox), "");
  EXPECT_EQ(StoredCookie(), "");
  EXPECT_EQ(LoadLoginRecord(Settings()).lastCheckAnswer, "登录已失效");
}

TEST_F(CookieRefreshTest, NothingIsAskedWithoutACookie) {
  m_controls.SetText(kCookiesBox, "");
  EXPECT_FALSE(RefreshLoginIfDue(m_controls, Settings(), kNow, true));
  EXPECT_EQ(m_site.RefreshCallsSeen().info, 0);
}

}  // namespace
}  // namespace korvid
