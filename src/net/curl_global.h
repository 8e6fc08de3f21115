#pragma once

namespace korvid {

// libcurl's global set-up, once per process. It is not safe to run while other
// threads use libcurl, so both front ends call it at start, before any thread;
// every request path calls it too, which costs nothing after the first time.
void EnsureCurlInitialised();

}  // namespace korvid
