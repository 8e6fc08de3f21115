#include "site/wbi_signer.h"

#include <gtest/gtest.h>

#include "site/signed_space_list.h"

namespace korvid {
namespace {

// The example of the site's public API documentation.
const WbiKeys kDocumentedKeys{"7cd084941338484aae1ad9425b84077c",
                              "4932caff0ff746eab6f01bf08b70ac45"};
constexpr std::string_view kDocumentedMixin = "ea1db124af3c7062474693fa704f4ff8";

TEST(WbiSignerTest, DocumentedVector) {
  EXPECT_EQ(WbiMixinKey(kDocumentedKeys), kDocumentedMixin);
  EXPECT_EQ(
      SignQuery({{"foo", "114"}, {"bar", "514"}, {"zab", "1919810"}}, kDocumentedMixin, 1702204169),
      "bar=514&foo=114&wts=1702204169&zab=1919810&w_rid=8f6f2b5b3d485fe1886cec6a0be8c5d4");
  EXPECT_EQ(WbiMixinKey("7cd084941338484aae1ad9425b84077c", "4932caff"), "");
}

TEST(WbiSignerTest, EncodesSortsAndFiltersBeforeSigning) {
  struct Case {
    const char* name;
    QueryParams params;
    const char* signedPart;  // the query before &w_rid=
  };
  const Case cases[] = {
      {"CJK keyword", {{"keyword", "影视"}}, "keyword=%E5%BD%B1%E8%A7%86&wts=100"},
      {"space is %20", {{"keyword", "a b"}}, "keyword=a%20b&wts=100"},
      {"!'()* leave values", {{"k", "a!b'c(d)e*f"}}, "k=abcdef&wts=100"},
      {"reserved bytes", {{"k", "&=+/?%~-_."}}, "k=%26%3D%2B%2F%3F%25~-_.&wts=100"},
      {"lists", {{"dm_img_list", "[]"}}, "dm_img_list=%5B%5D&wts=100"},
      {"equal keys keep order", {{"b", "2"}, {"a", "x"}, {"b", "1"}}, "a=x&b=2&b=1&wts=100"},
      {"old stamp replaced", {{"w_rid", "0"}, {"wts", "5"}, {"a", ""}}, "a=&wts=100"},
      {"upper before lower", {{"b", "1"}, {"B", "2"}}, "B=2&b=1&wts=100"},
  };
  for (const Case& c : cases) {
    const std::string query = SignQuery(c.params, kDocumentedMixin, 100);
    const std::string part = c.signedPart;
    EXPECT_EQ(query, part + "&w_rid=" + Md5Hex(part + std::string(kDocumentedMixin))) << c.name;
  }
}

TEST(WbiSignerTest, KeysFromTheNavAnswer) {
  const std::string documented =
      R"({"code":-101,"message":"账号未登录","data":{"isLogin":false,"wbi_img":{)"
      R"("img_url":"https://i0.hdslb.com/bfs/wbi/7cd084941338484aae1ad9425b84077c.png",)"
      R"("sub_url":"https://i0.hdslb.com/bfs/wbi/4932caff0ff746eab6f01bf08b70ac45.png?x=1"}}})";
  EXPECT_EQ(ParseWbiKeys(documented), kDocumentedKeys);
  const char* without[] = {
      R"({"code":0,"data":{"wbi_img":{"img_url":"https://h/7cd084941338484aae1ad9425b84077c.png"}}})",
      R"({"code":0,"data":{"wbi_img":{"img_url":"https://h/short.png","sub_url":"https://h/s.png"}}})",
      R"({"code":0,"data":{"wbi_img":{"img_url":"https://h/7cd0849413384(4aae1ad9425b84077c.png",)"
      R"("sub_url":"https://h/4932caff0ff746eab6f01bf08b70ac45.png"}}})",
      "<html>busy</html>",
      "",
  };
  for (const char* body : without) EXPECT_EQ(ParseWbiKeys(body), std::nullopt) << body;
}

TEST(WbiSignerTest, SignedListAddressFromTheOlderOne) {
  const std::string url = SignedSpaceListUrl(
      "https://api.example/x/space/arc/search?mid=7&ps=30&tid=0&keyword=%E5%BD%B1&pn=2&jsonp=jsonp",
      kDocumentedKeys, 1702204169);
  const std::string prefix = "https://api.example/x/space/wbi/arc/search?";
  ASSERT_EQ(url.substr(0, prefix.size()), prefix);
  const QueryParams sent = ParseQuery(url.substr(prefix.size()));
  QueryParams expected = {{"mid", "7"},      {"ps", "30"}, {"tid", "0"},
                          {"keyword", "影"}, {"pn", "2"},  {"jsonp", "jsonp"}};
  for (auto& field : BrowserFingerprintParams()) expected.push_back(field);
  // Signing what was sent again gives the same address: nothing was lost.
  EXPECT_EQ(url, prefix + SignQuery(expected, kDocumentedMixin, 1702204169));
  EXPECT_EQ(sent.back().first, "w_rid");
}

}  // namespace
}  // namespace korvid
