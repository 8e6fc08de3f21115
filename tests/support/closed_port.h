#pragma once

namespace korvid::test {

// A loopback port with nothing listening on it (0 if none could be had).
[[nodiscard]] int ClosedPort();

}  // namespace korvid::test
