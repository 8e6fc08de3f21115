#include "support/fakesite/fake_site.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "support/fakesite/recording_server.h"
#include "support/fakesite/site_routes.h"

namespace korvid::fakesite {

namespace {

constexpr int kStartTimeoutMs = 5000;
constexpr std::size_t kFullSpeedPiece = 64 * 1024;
constexpr std::size_t kMinThrottlePiece = 1024;
const char* const kBlockedBody = R"({"code":-412,"message":"请求被拦截","ttl":1,"data":null})";

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

std::string QueryOf(const std::string& target) {
  const auto mark = target.find('?');
  return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsNoCase(key, name)) {
      return value;
    }
  }
  return {};
}

bool RecordedRequest::HasHeader(const std::string& name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& header) { return EqualsNoCase(header.first, name); });
}

Reply JsonReply(std::string body, int status) {
  Reply reply;
  reply.status = status;
  reply.body = std::move(body);
  return reply;
}

Reply TextReply(int status, std::string body) {
  Reply reply;
  reply.status = status;
  reply.contentType = "text/plain; charset=utf-8";
  reply.body = std::move(body);
  return reply;
}

struct FakeSite::Impl {
  explicit Impl(const std::string& dataDir)
      : routes(dataDir, std::filesystem::path(KORVID_TEST_WORK_DIR) / "fakesite-media") {}

  SiteRoutes routes;
  RecordingServer server;
  std::atomic<bool> compression{false};
  std::thread listener;
  int port = 0;
  std::atomic<bool> stopping{false};
  mutable std::atomic<std::int64_t> mediaBytesSent{0};

  mutable std::mutex mutex;
  std::vector<RecordedRequest> requests;
  std::vector<std::pair<std::string, Fault>> faults;
  std::map<std::pair<std::string, std::string>, CannedReply> canned;

  void Handle(const httplib::Request& req, httplib::Response& res);
  [[nodiscard]] std::optional<Fault> FaultFor(const std::string& path) const;
  // FaultFor, and one use of a fault with a count is spent.
  [[nodiscard]] std::optional<Fault> TakeFault(const std::string& path);
  [[nodiscard]] std::optional<Reply> CannedFor(const std::string& method,
                                               const std::string& path) const;
  void PrepareRequest(httplib::Request& req) const;
  void SleepUnlessStopping(std::chrono::milliseconds duration) const;
  void Send(Reply reply, const Fault& fault, httplib::Response& res);
  static void Compress(Reply& reply);
  [[nodiscard]] bool StreamPiece(const std::string& body, std::size_t offset, std::size_t length,
                                 const Fault& fault, httplib::DataSink& sink) const;
};

std::optional<Fault> FakeSite::Impl::FaultFor(const std::string& path) const {
  std::lock_guard lock(mutex);
  const std::pair<std::string, Fault>* best = nullptr;
  for (const auto& entry : faults) {
    if (path.rfind(entry.first, 0) == 0 &&
        (best == nullptr || entry.first.size() > best->first.size())) {
      best = &entry;
    }
  }
  return best == nullptr ? std::nullopt : std::optional<Fault>(best->second);
}

std::optional<Fault> FakeSite::Impl::TakeFault(const std::string& path) {
  std::lock_guard lock(mutex);
  auto best = faults.end();
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    if (path.rfind(it->first, 0) == 0 &&
        (best == faults.end() || it->first.size() > best->first.size())) {
      best = it;
    }
  }
  if (best == faults.end()) return std::nullopt;
  Fault fault = best->second;
  if (best->second.times > 0 && --best->second.times == 0) faults.erase(best);
  return fault;
}

std::optional<Reply> FakeSite::Impl::CannedFor(const std::string& method,
                                               const std::string& path) const {
  std::lock_guard lock(mutex);
  // A canned GET also answers HEAD, as a real server would.
  auto it = canned.find({method, path});
  if (it == canned.end() && method == "HEAD") {
    it = canned.find({"GET", path});
  }
  if (it == canned.end()) {
    return std::nullopt;
  }
  Reply reply;
  reply.status = it->second.status;
  reply.contentType = it->second.contentType;
  reply.body = it->second.body;
  reply.headers = it->second.headers;
  return reply;
}

// Runs once a request's head is read, before routing.
void FakeSite::Impl::PrepareRequest(httplib::Request& req) const {
  // Compression, when on, is done in Handle; httplib's own would only cover
  // some content types.
  req.headers.erase("Accept-Encoding");
  // Only media files honour Range; API answers and faults ignore it as a
  // plain web server would.
  const Fault fault = FaultFor(req.path).value_or(Fault{});
  const bool faulted = fault.status != 0 || fault.blocked || fault.apiCode != 0;
  if (faulted || !SiteRoutes::ServesRanges(req.path) || CannedFor(req.method, req.path)) {
    req.ranges.clear();
  }
}

void FakeSite::Impl::SleepUnlessStopping(std::chrono::milliseconds duration) const {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (!stopping && std::chrono::steady_clock::now() < deadline) {
    const auto left = deadline - std::chrono::steady_clock::now();
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(10)));
  }
}

void FakeSite::Impl::Handle(const httplib::Request& req, httplib::Response& res) {
  RecordedRequest request;
  request.method = req.method;
  request.path = req.path;
  request.query = QueryOf(req.target);
  request.headers = RecordingServer::CurrentHeaders();
  request.body = req.body;
  request.connection = RecordingServer::CurrentConnection();
  {
    std::lock_guard lock(mutex);
    requests.push_back(request);
  }
  const Fault fault = TakeFault(request.path).value_or(Fault{});
  std::optional<Reply> reply = CannedFor(request.method, request.path);
  if (!reply) {
    reply = routes.Route(Incoming{request, req});
  }
  if (fault.firstByteDelayMs > 0) {
    SleepUnlessStopping(std::chrono::milliseconds(fault.firstByteDelayMs));
  }
  if (compression && request.Header("Accept-Encoding").find("gzip") != std::string::npos) {
    Compress(*reply);
  }
  Send(std::move(*reply), fault, res);
}

bool FakeSite::Impl::StreamPiece(const std::string& body, std::size_t offset, std::size_t length,
                                 const Fault& fault, httplib::DataSink& sink) const {
  const auto started = std::chrono::steady_clock::now();
  std::size_t sent = 0;
  const std::size_t piece =
      fault.throttleBytesPerSecond > 0
          ? std::max(kMinThrottlePiece, static_cast<std::size_t>(fault.throttleBytesPerSecond / 20))
          : kFullSpeedPiece;
  while (sent < length) {
    if (stopping) {
      return false;
    }
    std::size_t n = std::min(piece, length - sent);
    // The drop counts the bytes of this answer, wherever its range starts.
    const auto limit = static_cast<std::size_t>(std::max<std::int64_t>(fault.dropAfterBytes, 0));
    const bool dropping = fault.dropAfterBytes >= 0 && sent + n >= limit;
    if (dropping) {
      n = limit - sent;
    }
    if (n > 0 && !sink.write(body.data() + offset + sent, n)) {
      return false;
    }
    sent += n;
    mediaBytesSent += static_cast<std::int64_t>(n);
    if (dropping) {
      return false;  // httplib closes the connection when a provider fails
    }
    if (fault.throttleBytesPerSecond > 0) {
      const auto due = started + std::chrono::milliseconds(static_cast<std::int64_t>(sent) * 1000 /
                                                           fault.throttleBytesPerSecond);
      SleepUnlessStopping(std::chrono::duration_cast<std::chrono::milliseconds>(
          due - std::chrono::steady_clock::now()));
    }
  }
  return true;
}

// Text answers only, as the site's servers do; media and bodies that carry
// an encoding of their own are left alone.
void FakeSite::Impl::Compress(Reply& reply) {
  const bool encoded = std::any_of(
      reply.headers.begin(), reply.headers.end(),
      [](const auto& header) { return EqualsNoCase(header.first, "Content-Encoding"); });
  if (reply.honoursRange || encoded || reply.body.empty()) {
    return;
  }
  reply.body = Gzip(reply.body);
  reply.headers.emplace_back("Content-Encoding", "gzip");
}

void FakeSite::Impl::Send(Reply reply, const Fault& fault, httplib::Response& res) {
  if (fault.blocked) {
    reply = JsonReply(kBlockedBody, 412);
  } else if (fault.status != 0) {
    reply = fault.body.empty() ? TextReply(fault.status, "fault " + std::to_string(fault.status))
                               : TextReply(fault.status, fault.body);
  } else if (fault.apiCode != 0) {
    reply = JsonReply(R"({"code":)" + std::to_string(fault.apiCode) + R"(,"message":"fault )" +
                      std::to_string(fault.apiCode) + R"(","ttl":1})");
  }
  // A status left at -1 lets httplib answer 206 for a Range request.
  if (!(reply.status == 200 && reply.honoursRange)) {
    res.status = reply.status;
  }
  for (const auto& [name, value] : reply.headers) {
    res.headers.emplace(name, value);
  }
  // Media always goes through StreamPiece, so its bytes are counted.
  const bool streamed = reply.honoursRange || fault.throttleBytesPerSecond > 0 ||
                        fault.dropAfterBytes >= 0 || fault.omitContentLength;
  if (!streamed) {
    res.set_content(reply.body, reply.contentType);
    return;
  }
  auto body = std::make_shared<std::string>(std::move(reply.body));
  if (fault.omitContentLength) {
    res.set_chunked_content_provider(
        reply.contentType, [this, body, fault](std::size_t offset, httplib::DataSink& sink) {
          if (!StreamPiece(*body, offset, body->size() - offset, fault, sink)) {
            return false;
          }
          sink.done();
          return true;
        });
    return;
  }
  res.set_content_provider(
      body->size(), reply.contentType,
      [this, body, fault](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        return StreamPiece(*body, offset, length, fault, sink);
      });
}

FakeSite::FakeSite(std::string dataDir) : m_impl(std::make_unique<Impl>(dataDir)) {
  m_impl->server.SetHeadHook(
      [impl = m_impl.get()](httplib::Request& req) { impl->PrepareRequest(req); });
  auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    m_impl->Handle(req, res);
  };
  auto& server = m_impl->server;
  server.Get(".*", handler);
  server.Post(".*", handler);
  server.Put(".*", handler);
  server.Patch(".*", handler);
  server.Delete(".*", handler);
  server.Options(".*", handler);
}

std::int64_t FakeSite::MediaBytesSent() const {
  return m_impl->mediaBytesSent.load();
}

FakeSite::~FakeSite() {
  Stop();
}

bool FakeSite::Start(int port) {
  if (m_impl->listener.joinable()) {
    return true;
  }
  auto& server = m_impl->server;
  if (port == 0) {
    m_impl->port = server.bind_to_any_port("127.0.0.1");
  } else {
    m_impl->port = server.bind_to_port("127.0.0.1", port) ? port : -1;
  }
  if (m_impl->port <= 0) {
    m_impl->port = 0;
    return false;
  }
  m_impl->stopping = false;
  m_impl->routes.SetBaseUrl(BaseUrl());
  m_impl->listener = std::thread([&server] { server.listen_after_bind(); });
  // stop() before the accept loop runs would be lost, so wait for it.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (!server.is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return server.is_running();
}

void FakeSite::Stop() {
  if (!m_impl->listener.joinable()) {
    return;
  }
  m_impl->stopping = true;
  m_impl->server.stop();
  m_impl->listener.join();
}

int FakeSite::Port() const {
  return m_impl->port;
}

std::string FakeSite::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(m_impl->port);
}

int FakeSite::AcceptedConnections() const {
  return m_impl->server.AcceptedConnections();
}

std::vector<RecordedRequest> FakeSite::Requests() const {
  std::lock_guard lock(m_impl->mutex);
  return m_impl->requests;
}

void FakeSite::ClearRequests() {
  std::lock_guard lock(m_impl->mutex);
  m_impl->requests.clear();
}

void FakeSite::SetFault(const std::string& pathPrefix, Fault fault) {
  std::lock_guard lock(m_impl->mutex);
  for (auto& entry : m_impl->faults) {
    if (entry.first == pathPrefix) {
      entry.second = std::move(fault);
      return;
    }
  }
  m_impl->faults.emplace_back(pathPrefix, std::move(fault));
}

void FakeSite::ClearFaults() {
  std::lock_guard lock(m_impl->mutex);
  m_impl->faults.clear();
}

void FakeSite::SetCanned(const std::string& method, const std::string& path, CannedReply reply) {
  std::lock_guard lock(m_impl->mutex);
  m_impl->canned[{method, path}] = std::move(reply);
}

}  // namespace korvid::fakesite

namespace korvid::fakesite {

void FakeSite::ClearCanned() {
  std::lock_guard lock(m_impl->mutex);
  m_impl->canned.clear();
}

void FakeSite::SetLoginScript(LoginScript script) {
  m_impl->routes.SetLoginScript(script);
}

void FakeSite::RetireQrLogin(QrLoginRetirement retirement) {
  m_impl->routes.RetireQrLogin(retirement);
}

bool FakeSite::GrowList(std::int64_t id, int added) {
  return m_impl->routes.GrowList(id, added);
}

void FakeSite::SetUnreadable(const std::string& bvid) {
  m_impl->routes.SetUnreadable(bvid);
}

void FakeSite::SetTitle(const std::string& bvid, std::string title) {
  m_impl->routes.SetTitle(bvid, std::move(title));
}

void FakeSite::SetRetired(Retired which) {
  m_impl->routes.SetRetired(which);
}

void FakeSite::SetWbiKeys(std::string imgKey, std::string subKey) {
  m_impl->routes.SetWbiKeys(std::move(imgKey), std::move(subKey));
}

std::string FakeSite::LoginCookie() const {
  return m_impl->routes.LoginCookie();
}

void FakeSite::SetRefreshNeeded(bool needed) {
  m_impl->routes.CookieRefresh().SetRefreshNeeded(needed);
}

void FakeSite::SetRefreshAnswerCode(int code) {
  m_impl->routes.CookieRefresh().SetRefreshAnswerCode(code);
}

std::string FakeSite::RefreshPublicKey() const {
  return m_impl->routes.CookieRefresh().PublicKeyBase64();
}

RefreshCalls FakeSite::RefreshCallsSeen() const {
  return m_impl->routes.CookieRefresh().Calls();
}

void FakeSite::SetEmbyApiKey(std::string key) {
  m_impl->routes.SetEmbyApiKey(std::move(key));
}

std::string FakeSite::EmbyApiKey() const {
  return m_impl->routes.EmbyApiKey();
}

std::vector<EmbyUpload> FakeSite::EmbyUploads() const {
  return m_impl->routes.EmbyUploads();
}

void FakeSite::SetEmbyPersons(const std::vector<std::pair<std::string, std::string>>& persons) {
  Json list = Json::array();
  for (const auto& [name, id] : persons) list.push_back({{"Name", name}, {"Id", id}});
  m_impl->routes.SetEmbyPersons(std::move(list));
}

std::string FakeSite::MediaBytes(MediaKind kind) {
  return m_impl->routes.Media().Bytes(kind);
}

void FakeSite::SetMediaCacheDir(std::string dir) {
  m_impl->routes.Media().SetFolder(std::move(dir));
}

void FakeSite::SetProgressiveMediaSize(std::int64_t bytes) {
  m_impl->routes.Media().SetProgressiveSize(bytes);
}

void FakeSite::SetCompression(bool on) {
  m_impl->compression = on;
}

std::string FakeSite::CataloguePath() const {
  return (m_impl->routes.Videos().DataDir() / "fakesite" / "videos.json").string();
}

}  // namespace korvid::fakesite
