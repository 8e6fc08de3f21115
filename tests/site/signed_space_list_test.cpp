// The signing keys, the signed uploader list and its fallback, against the
// fake site, which checks each signature with code of its own.
#include "site/signed_space_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "net/json_document.h"
#include "net/site_hosts.h"
#include "site/site_headers.h"
#include "support/fake_site_test.h"

namespace korvid {
namespace {

using fakesite::Retired;

const WbiKeys kNavKeys{"7cd084941338484aae1ad9425b84077c", "4932caff0ff746eab6f01bf08b70ac45"};
const WbiKeys kRotatedKeys{"00112233445566778899aabbccddeeff", "ffeeddccbbaa99887766554433221100"};
constexpr std::int64_t kMid = 20061;  // 61 videos

class SignedListTest : public test::FakeSiteTest {
 protected:
  [[nodiscard]] std::string OldUrl(const std::string& query) const {
    return m_site.BaseUrl() + "/x/space/arc/search?mid=" + std::to_string(kMid) + query;
  }
  static std::string Get(std::string_view url) { return GetSiteApi(url, SiteRequest{true, {}}); }

  std::int64_t m_now = 1702204169;
  UnixClock m_clock = [this] { return m_now; };
};

TEST_F(SignedListTest, KeysComeFromNavWithoutLogInAndAreCachedForTheDay) {
  WbiKeyCache cache({}, m_clock);
  EXPECT_EQ(cache.Keys(), kNavKeys);  // the nav answer says -101
  EXPECT_EQ(cache.Keys(), kNavKeys);
  EXPECT_EQ(RequestCount("/x/web-interface/nav"), 1);

  m_site.SetWbiKeys(kRotatedKeys.imgKey, kRotatedKeys.subKey);
  EXPECT_EQ(cache.Keys(), kNavKeys) << "same site day: no new request";
  cache.Invalidate();
  EXPECT_EQ(cache.Keys(), kRotatedKeys);
  EXPECT_EQ(RequestCount("/x/web-interface/nav"), 2);

  m_site.SetWbiKeys(kNavKeys.imgKey, kNavKeys.subKey);
  m_now += 24 * 60 * 60;
  EXPECT_EQ(cache.Keys(), kNavKeys) << "the next day fetches again";

  m_site.SetRetired(Retired::kNewerCalls);
  cache.Invalidate();
  EXPECT_EQ(cache.Keys(), std::nullopt);
}

TEST_F(SignedListTest, WholeSpaceThroughTheSignedCallWithTheOlderOneRetired) {
  m_site.SetRetired(Retired::kOlderCalls);
  WbiKeyCache cache({}, m_clock);
  int listed = 0;
  for (int pn = 3; pn >= 1; --pn) {
    const SpaceListAnswer answer = FetchSpaceListPage(
        OldUrl("&ps=30&tid=0&keyword=&order=pubdate&pn=" + std::to_string(pn) + "&jsonp=jsonp"),
        cache, Get, m_clock);
    ASSERT_TRUE(answer.accepted) << answer.notice;
    EXPECT_TRUE(answer.signedCall);
    JsonDocument page;
    ASSERT_TRUE(page.Parse(answer.body));
    EXPECT_EQ(page.GetValue("data.page.count"), "61");
    listed += page.GetCount("data.list.vlist");
  }
  EXPECT_EQ(listed, 61);
  EXPECT_EQ(RequestCount("/x/space/arc/search"), 0);
  const auto requests = m_site.Requests();
  const auto& last = requests.back();
  EXPECT_EQ(last.Header("Origin"), m_site.BaseUrl());
  EXPECT_EQ(last.Header("Referer"), m_site.BaseUrl() + "/");
  EXPECT_EQ(last.Header("User-Agent"), kBrowserUserAgent);
  EXPECT_NE(last.query.find("dm_img_list=%5B%5D"), std::string::npos);
}

// A CJK keyword with a space survives encoding on both sides and finds the
// three titles "... 第6个", "... 第60个", "... 第61个".
TEST_F(SignedListTest, SpaceSearchWithCjkKeyword) {
  WbiKeyCache cache({}, m_clock);
  const SpaceListAnswer answer =
      FetchSpaceListPage(OldUrl("&ps=30&keyword=UP%E4%B8%BB%20%E7%AC%AC6&pn=1"), cache, Get);
  ASSERT_TRUE(answer.accepted && answer.signedCall) << answer.notice;
  JsonDocument page;
  ASSERT_TRUE(page.Parse(answer.body));
  EXPECT_EQ(page.GetValue("data.page.count"), "3");
}

// The address signed over a query that writes a space as '+', as form
// encoding does; the site signs the %20 form.
std::string SignedWithPlus(const std::string& unsignedUrl) {
  std::string url = unsignedUrl;
  url.replace(url.find("a%20b"), 5, "a+b");
  const std::string query = url.substr(url.find('?') + 1);
  return url + "&w_rid=" + Md5Hex(query + WbiMixinKey(kNavKeys));
}

TEST_F(SignedListTest, SiteRefusesWrongOrMissingSignatures) {
  const std::string url = SignedSpaceListUrl(OldUrl("&ps=30&keyword=a%20b"), kNavKeys, m_now);
  const std::size_t rid = url.find("&w_rid=");
  const std::string unsignedUrl = url.substr(0, rid);
  const struct {
    const char* name;
    std::string url;
    const char* code;
  } cases[] = {
      {"as signed", url, "0"},
      {"no w_rid", unsignedUrl, "-352"},
      {"wrong w_rid", unsignedUrl + "&w_rid=8f6f2b5b3d485fe1886cec6a0be8c5d4", "-352"},
      {"signed with + for a space", SignedWithPlus(unsignedUrl), "-352"},
      {"other keys", SignedSpaceListUrl(OldUrl("&ps=30"), kRotatedKeys, m_now), "-352"},
  };
  for (const auto& c : cases) {
    JsonDocument answer;
    ASSERT_TRUE(answer.Parse(Get(c.url))) << c.name;
    EXPECT_EQ(answer.GetValue("code"), c.code) << c.name;
  }
}

enum class Trouble { kNone, kTimeout, kDropped, kBlockedText };

// How one page is fetched in each state of the site.
TEST_F(SignedListTest, FallbackAndRefusals) {
  struct Case {
    const char* name;
    Retired retired;
    bool rotateKeysAfterCaching;
    bool tamper;  // every signed address loses its signature
    bool olderRefusedWith799;
    Trouble trouble;  // of the signed call
    bool accepted;
    bool signedCall;
    int navRequests;
    int olderRequests;
    const char* notice;
  };
  const Case cases[] = {
      {"both served", Retired::kNothing, false, false, false, Trouble::kNone, true, true, 1, 0, ""},
      {"newer retired", Retired::kNewerCalls, false, false, false, Trouble::kNone, true, false, 1,
       1, ""},
      {"keys rotated", Retired::kOlderCalls, true, false, false, Trouble::kNone, true, true, 2, 0,
       ""},
      {"risk control", Retired::kOlderCalls, false, true, false, Trouble::kNone, false, false, 2, 1,
       "被风控拦截，请登录后重试"},
      {"newer retired, older refused", Retired::kNewerCalls, false, false, true, Trouble::kNone,
       false, false, 1, 1, "读取列表失败：fault -799（-799）"},
      // The older call's -799 is a retired call's, not the cause.
      {"signed call timed out", Retired::kOlderCalls, false, false, false, Trouble::kTimeout, false,
       false, 1, 1, "读取列表失败：请求超时"},
      {"signed call cut off", Retired::kOlderCalls, false, false, false, Trouble::kDropped, false,
       false, 1, 1, "读取列表失败：连接中断"},
      {"signed call blocked, text body", Retired::kOlderCalls, false, false, false,
       Trouble::kBlockedText, false, false, 1, 1, "被风控拦截，请登录后重试"},
  };
  for (const Case& c : cases) {
    m_site.ClearRequests();
    m_site.ClearFaults();
    m_site.SetRetired(Retired::kNothing);
    m_site.SetWbiKeys(kNavKeys.imgKey, kNavKeys.subKey);
    WbiKeyCache cache({}, m_clock);
    (void)cache.Keys();
    if (c.rotateKeysAfterCaching) m_site.SetWbiKeys(kRotatedKeys.imgKey, kRotatedKeys.subKey);
    if (c.olderRefusedWith799)
      m_site.SetFault("/x/space/arc/search", fakesite::Fault::ApiCode(-799));
    m_site.SetRetired(c.retired);
    if (c.trouble == Trouble::kDropped)
      m_site.SetFault("/x/space/wbi/", fakesite::Fault::DropAfter(10));
    if (c.trouble == Trouble::kBlockedText)
      m_site.SetFault("/x/space/wbi/", fakesite::Fault::Status(412, "<html>blocked</html>"));
    const ReplyGet get = [&](std::string_view url) {
      const std::string text(url);
      const bool signedUrl = text.find("/wbi/") != std::string::npos;
      // A real time-out takes the whole request limit; its failure is what counts.
      if (c.trouble == Trouble::kTimeout && signedUrl) {
        return ApiReply({}, 0, HttpFailure::kNoResponse);
      }
      const HttpResponse response = SiteApiRequest(
          c.tamper ? text.substr(0, text.find("&w_rid=")) : text, SiteRequest{true, {}});
      return ApiReply(response.body, response.status, response.failure);
    };
    const SpaceListAnswer answer = FetchSpaceListPage(OldUrl("&ps=30&pn=1"), cache, get, m_clock);
    EXPECT_EQ(answer.accepted, c.accepted) << c.name;
    EXPECT_EQ(answer.signedCall, c.signedCall) << c.name;
    EXPECT_EQ(answer.notice, c.notice) << c.name;
    EXPECT_EQ(answer.body.empty(), !c.accepted) << c.name;
    EXPECT_EQ(RequestCount("/x/web-interface/nav"), c.navRequests) << c.name;
    EXPECT_EQ(RequestCount("/x/space/arc/search"), c.olderRequests) << c.name;
  }
}

TEST_F(SignedListTest, ConcurrentCallersShareOneNavRequest) {
  std::atomic<int> fetches{0};
  WbiKeyCache cache(
      [&](std::string_view url) {
        ++fetches;
        return GetSiteApi(url);
      },
      m_clock);
  std::vector<std::thread> threads;
  std::atomic<int> right{0};
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] { right += cache.Keys() == kNavKeys ? 1 : 0; });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(right, 4);
  EXPECT_EQ(fetches, 1);
}

}  // namespace
}  // namespace korvid
