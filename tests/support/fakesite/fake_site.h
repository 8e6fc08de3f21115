#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace korvid::fakesite {

// One request as the fake site received it.
struct RecordedRequest {
  std::string method;
  std::string path;   // without the query
  std::string query;  // raw text after '?', empty when none
  std::vector<std::pair<std::string, std::string>> headers;  // in arrival order, names as sent
  std::string body;

  // First header of that name (case-insensitive); empty when absent.
  [[nodiscard]] std::string Header(const std::string& name) const;
  [[nodiscard]] bool HasHeader(const std::string& name) const;
};

// Misbehaviour switched on for every request whose path starts with a prefix.
struct Fault {
  int status = 0;                  // answer this HTTP status instead (404, 500, 412 ...)
  std::string body;                // with status: the body to send (empty = a short text)
  std::int64_t throttleBytesPerSecond = 0;  // 0 = full speed
  std::int64_t dropAfterBytes = -1;         // close the connection after this many body bytes
  bool omitContentLength = false;           // send the body chunked
  int firstByteDelayMs = 0;                 // wait before the first byte of the answer
  bool blocked = false;            // answer {"code":-412,"message":"请求被拦截"} with status 412
  int apiCode = 0;                 // non-zero: answer {"code":apiCode,"message":...} with 200
};

// A canned answer for one exact method and path, for tests that need a reply
// of their own.
struct CannedReply {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string contentType = "application/json; charset=utf-8";
};

// The loopback stand-in for every outside party Korvid talks to: web, API,
// comment, passport and media hosts of the video site, and an Emby server.
// Listens on 127.0.0.1 only. Start/Stop from the test thread; every other
// method is thread-safe.
class FakeSite {
 public:
  // dataDir holds the recorded answers (tests/data by default).
  explicit FakeSite(std::string dataDir = KORVID_TEST_DATA_DIR);
  ~FakeSite();
  FakeSite(const FakeSite&) = delete;
  FakeSite& operator=(const FakeSite&) = delete;

  // port 0 = ephemeral. False when the port cannot be bound.
  [[nodiscard]] bool Start(int port = 0);
  void Stop();
  [[nodiscard]] int Port() const;
  // "http://127.0.0.1:PORT"
  [[nodiscard]] std::string BaseUrl() const;

  [[nodiscard]] std::vector<RecordedRequest> Requests() const;
  void ClearRequests();

  void SetFault(const std::string& pathPrefix, Fault fault);
  void ClearFaults();

  void SetCanned(const std::string& method, const std::string& path, CannedReply reply);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace korvid::fakesite
