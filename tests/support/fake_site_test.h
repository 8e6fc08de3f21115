#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "net/site_hosts.h"
#include "site/site_headers.h"
#include "support/fakesite/fake_site.h"

namespace korvid::test {

// Starts the fake site and points every site host at it for one test.
class FakeSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_site.Start());
    const std::string base = m_site.BaseUrl();
    m_savedHosts = CurrentSiteHosts();
    SetCurrentSiteHosts(SiteHosts{base, base, base, base, base});
    // A new site: nothing learnt from an earlier one carries over.
    VisitorCookieStore::Shared().Forget();
  }
  void TearDown() override {
    SetCurrentSiteHosts(m_savedHosts);
    m_site.Stop();
  }

  // How many requests the fake site has seen for path.
  [[nodiscard]] int RequestCount(std::string_view path) const {
    int count = 0;
    for (const auto& request : m_site.Requests()) count += request.path == path ? 1 : 0;
    return count;
  }

  fakesite::FakeSite m_site;
  SiteHosts m_savedHosts;
};

}  // namespace korvid::test
