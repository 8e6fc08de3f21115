#pragma once

#include "support/fake_site_test.h"

namespace korvid::test {

// Any cookie makes the fake site answer the DASH form.
inline constexpr const char* kSomeCookie = "SESSDATA=fakesite";

}  // namespace korvid::test
