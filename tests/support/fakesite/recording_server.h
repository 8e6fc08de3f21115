#pragma once

#include <httplib.h>

#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace korvid::fakesite {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// An httplib server that also keeps each request's header lines exactly as
// they arrived (order and spelling), which httplib's sorted header map loses.
// It reads the request through a stream of its own that records every byte
// handed to the parser.
class RecordingServer : public httplib::Server {
 public:
  // Called on the connection thread once the head of a request is read and
  // before it is routed; may edit the request (drop ranges, say).
  using HeadHook = std::function<void(httplib::Request&)>;

  RecordingServer();

  void SetHeadHook(HeadHook hook) { m_headHook = std::move(hook); }

  // Header lines of the request being handled on the calling thread.
  [[nodiscard]] static const HeaderList& CurrentHeaders();

  // The number of the connection the calling thread serves (1 for the first
  // accepted), and how many were accepted so far.
  [[nodiscard]] static int CurrentConnection();
  [[nodiscard]] int AcceptedConnections() const;

  // True once stop() has been called (the listening socket is gone).
  [[nodiscard]] bool IsStopping() const;

 private:
  bool process_and_close_socket(socket_t sock) override;

  HeadHook m_headHook;
  std::atomic<int> m_accepted{0};
};

// Header lines of a raw request head ("GET / HTTP/1.1\r\nName: value\r\n...").
[[nodiscard]] HeaderList ParseHeaderLines(const std::string& rawHead);

}  // namespace korvid::fakesite
