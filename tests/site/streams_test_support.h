#pragma once

#include <gtest/gtest.h>

#include <string>

#include "net/site_hosts.h"
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
  }
  void TearDown() override {
    SetCurrentSiteHosts(m_savedHosts);
    m_site.Stop();
  }

  fakesite::FakeSite m_site;
  SiteHosts m_savedHosts;
};

// Any cookie makes the fake site answer the DASH form.
inline constexpr const char* kSomeCookie = "SESSDATA=fakesite";

}  // namespace korvid::test
