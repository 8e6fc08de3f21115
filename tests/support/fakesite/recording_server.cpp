#include "support/fakesite/recording_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>

namespace korvid::fakesite {

namespace {

constexpr int kReadTimeoutMs = 5000;
constexpr int kWriteTimeoutMs = 5000;
constexpr int kKeepAliveTimeoutMs = 5000;
constexpr int kStopPollMs = 20;
constexpr std::size_t kMaxRequestsPerConnection = 100;
// Idle kept-alive connections each hold a thread, so keep plenty.
constexpr std::size_t kThreadCount = 48;

thread_local HeaderList t_currentHeaders;
thread_local int t_currentConnection = 0;

bool WaitSocket(int sock, short events, int timeoutMs) {
  pollfd pfd{sock, events, 0};
  int rc = 0;
  do {
    rc = ::poll(&pfd, 1, timeoutMs);
  } while (rc < 0 && errno == EINTR);
  return rc > 0;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

void AddressOf(int sock, bool peer, std::string& ip, int& port) {
  sockaddr_storage addr{};
  socklen_t len = sizeof(addr);
  const int rc = peer ? ::getpeername(sock, reinterpret_cast<sockaddr*>(&addr), &len)
                      : ::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len);
  if (rc != 0 || addr.ss_family != AF_INET) {
    return;
  }
  const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
  std::array<char, INET_ADDRSTRLEN> text{};
  ::inet_ntop(AF_INET, &in->sin_addr, text.data(), text.size());
  ip = text.data();
  port = ntohs(in->sin_port);
}

// A socket stream that remembers every byte it hands to the request parser.
// httplib reads the head a byte at a time and the body by its length, so the
// record of one request starts exactly at its request line.
class RecordingStream : public httplib::Stream {
 public:
  explicit RecordingStream(int sock) : m_sock(sock) {}

  bool is_readable() const override {
    return m_pos < m_buffer.size() || WaitSocket(m_sock, POLLIN, kReadTimeoutMs);
  }
  bool is_writable() const override { return WaitSocket(m_sock, POLLOUT, kWriteTimeoutMs); }

  ssize_t read(char* ptr, size_t size) override {
    if (m_pos == m_buffer.size() && !Fill()) {
      return -1;
    }
    const size_t n = std::min(size, m_buffer.size() - m_pos);
    std::memcpy(ptr, m_buffer.data() + m_pos, n);
    m_record.append(ptr, n);
    m_pos += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) {
      return -1;
    }
    return ::send(m_sock, ptr, size, MSG_NOSIGNAL);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    AddressOf(m_sock, true, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    AddressOf(m_sock, false, ip, port);
  }
  socket_t socket() const override { return m_sock; }

  [[nodiscard]] bool HasBuffered() const { return m_pos < m_buffer.size(); }
  void StartRecord() { m_record.clear(); }
  [[nodiscard]] const std::string& Record() const { return m_record; }

 private:
  bool Fill() {
    if (!WaitSocket(m_sock, POLLIN, kReadTimeoutMs)) {
      return false;
    }
    m_buffer.resize(4096);
    ssize_t n = 0;
    do {
      n = ::recv(m_sock, m_buffer.data(), m_buffer.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
      m_buffer.clear();
      m_pos = 0;
      return false;
    }
    m_buffer.resize(static_cast<size_t>(n));
    m_pos = 0;
    return true;
  }

  int m_sock;
  std::string m_buffer;
  size_t m_pos = 0;
  std::string m_record;
};

}  // namespace

HeaderList ParseHeaderLines(const std::string& rawHead) {
  HeaderList headers;
  const auto end = rawHead.find("\r\n\r\n");
  const std::string head = rawHead.substr(0, end);
  size_t lineStart = head.find("\r\n");
  while (lineStart != std::string::npos) {
    lineStart += 2;
    const size_t lineEnd = head.find("\r\n", lineStart);
    const std::string line = head.substr(
        lineStart, lineEnd == std::string::npos ? std::string::npos : lineEnd - lineStart);
    const auto colon = line.find(':');
    if (colon != std::string::npos) {
      headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }
    lineStart = lineEnd;
  }
  return headers;
}

RecordingServer::RecordingServer() {
  new_task_queue = [] { return new httplib::ThreadPool(kThreadCount); };
  set_keep_alive_max_count(kMaxRequestsPerConnection);
  // httplib also sets SO_REUSEPORT by default, which lets a second server
  // bind the same port and steal half the connections.
  set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  });
}

const HeaderList& RecordingServer::CurrentHeaders() {
  return t_currentHeaders;
}

int RecordingServer::CurrentConnection() {
  return t_currentConnection;
}

int RecordingServer::AcceptedConnections() const {
  return m_accepted.load();
}

bool RecordingServer::IsStopping() const {
  return svr_sock_ == INVALID_SOCKET;
}

bool RecordingServer::process_and_close_socket(socket_t sock) {
  t_currentConnection = ++m_accepted;
  // httplib writes an answer's head and body apart: with Nagle's algorithm
  // the body waits for the client's delayed ACK of the head, some 40 ms per
  // request, which no real web server costs.
  int noDelay = 1;
  ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay));
  RecordingStream stream(sock);
  bool ok = true;
  for (std::size_t left = kMaxRequestsPerConnection; left > 0 && !IsStopping(); --left) {
    // Wait for the next request in short steps so that stop() is noticed.
    bool readable = stream.HasBuffered();
    for (int waited = 0; !readable && waited < kKeepAliveTimeoutMs && !IsStopping();
         waited += kStopPollMs) {
      readable = WaitSocket(sock, POLLIN, kStopPollMs);
    }
    if (!readable || IsStopping()) {
      break;
    }
    stream.StartRecord();
    bool connectionClosed = false;
    ok = process_request(stream, left == 1, connectionClosed, [&](httplib::Request& req) {
      t_currentHeaders = ParseHeaderLines(stream.Record());
      if (m_headHook) {
        m_headHook(req);
      }
    });
    if (!ok || connectionClosed) {
      break;
    }
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

}  // namespace korvid::fakesite
