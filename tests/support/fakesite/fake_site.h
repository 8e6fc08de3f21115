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
  std::string path;                                          // without the query
  std::string query;                                         // raw text after '?', empty when none
  std::vector<std::pair<std::string, std::string>> headers;  // in arrival order, names as sent
  std::string body;
  int connection = 0;  // which accepted connection carried it (1 for the first)

  // First header of that name (case-insensitive); empty when absent.
  [[nodiscard]] std::string Header(const std::string& name) const;
  [[nodiscard]] bool HasHeader(const std::string& name) const;
};

// Misbehaviour switched on for every request whose path starts with a prefix.
struct Fault {
  int status = 0;                           // answer this HTTP status instead (404, 500, 412 ...)
  std::string body;                         // with status: the body to send (empty = a short text)
  std::int64_t throttleBytesPerSecond = 0;  // 0 = full speed
  std::int64_t dropAfterBytes = -1;         // close the connection after this many body bytes
  bool omitContentLength = false;           // send the body chunked
  int firstByteDelayMs = 0;                 // wait before the first byte of the answer
  bool blocked = false;  // answer {"code":-412,"message":"请求被拦截"} with status 412
  int apiCode = 0;       // non-zero: answer {"code":apiCode,"message":...} with 200
  int times = 0;         // 0: every request; N: only the next N requests, then gone

  // Shorthands (designated initialisers trip -Wmissing-field-initializers).
  [[nodiscard]] static Fault Status(int code, std::string text = {}) {
    Fault fault;
    fault.status = code;
    fault.body = std::move(text);
    return fault;
  }
  [[nodiscard]] static Fault Blocked() {
    Fault fault;
    fault.blocked = true;
    return fault;
  }
  [[nodiscard]] static Fault ApiCode(int code) {
    Fault fault;
    fault.apiCode = code;
    return fault;
  }
  [[nodiscard]] static Fault Throttle(std::int64_t bytesPerSecond) {
    Fault fault;
    fault.throttleBytesPerSecond = bytesPerSecond;
    return fault;
  }
  [[nodiscard]] static Fault DropAfter(std::int64_t bytes) {
    Fault fault;
    fault.dropAfterBytes = bytes;
    return fault;
  }
  [[nodiscard]] static Fault Chunked() {
    Fault fault;
    fault.omitContentLength = true;
    return fault;
  }
  [[nodiscard]] static Fault Delay(int ms) {
    Fault fault;
    fault.firstByteDelayMs = ms;
    return fault;
  }
  // This fault for the next count requests only.
  [[nodiscard]] Fault Times(int count) const {
    Fault fault = *this;
    fault.times = count;
    return fault;
  }
};

// A canned answer for one exact method and path, for tests that need a reply
// of their own.
struct CannedReply {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string contentType = "application/json; charset=utf-8";
};

// The generated media files the fake site serves.
enum class MediaKind {
  VideoOnly,    // DASH video entries (/media/video/...)
  AudioOnly,    // DASH audio entries (/media/audio/...)
  Progressive,  // the durl form (/media/progressive/...)
  Image,        // covers and faces (/img/...)
  QrImage,      // the QR-code image service (/action/qrcode/generate)
};

// How a QR-code log-in plays out, for keys issued after it is set: first
// notScannedPolls answers of -4, then notConfirmedPolls answers of -5, then
// success with Set-Cookie headers, or -2 (expired) when expire is true.
struct LoginScript {
  int notScannedPolls = 1;
  int notConfirmedPolls = 1;
  bool expire = false;
};

// Which generations of the QR log-in the passport host still serves. A
// retired older pair answers code 20000 to every /qrcode/getLoginInfo poll (as
// the site does today); a retired newer pair answers 404 to
// /x/passport-login/web/qrcode/generate and /poll.
struct QrLoginRetirement {
  bool older = false;
  bool newer = false;
};

// Which generation of the site's calls is gone. kOlderCalls: the unsigned
// space list answers -799. kNewerCalls: nav, finger/spi, the signed space
// list and the signed player call answer HTTP 404.
enum class Retired { kNothing, kOlderCalls, kNewerCalls };

// One image upload received by the Emby stand-in.
struct EmbyUpload {
  std::string itemId;
  std::string imageType;  // "Primary"
  std::string contentType;
  std::string body;  // as received (Base64 text)
};

// What the cookie refresh routes were asked.
struct RefreshCalls {
  int info = 0;
  int correspond = 0;
  int refresh = 0;
  int confirm = 0;
  std::string confirmCsrf;   // csrf of the last confirm/refresh
  std::string confirmToken;  // refresh_token of the last confirm/refresh
};

// The loopback stand-in for every outside party Korvid talks to: web, API,
// comment, passport and media hosts of the video site, and an Emby server.
// All hosts share the one base URL; their paths do not collide. What it
// serves is listed in tests/data/fakesite/videos.json (see tests/data/README.md).
// Listens on 127.0.0.1 only. Start/Stop from the test thread; every other
// method is thread-safe.
//
// Order of precedence for one request: it is logged; a canned reply for its
// method and path, else the built-in route, gives the answer; a fault on the
// longest matching path prefix then alters it. Only media and image paths
// honour Range (206); everything else answers 200 with the whole body. Media
// answers carry an ETag and a Last-Modified of the file's bytes.
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
  // Body bytes of media and image files sent so far (all answers, also the
  // ones cut off).
  [[nodiscard]] std::int64_t MediaBytesSent() const;
  // Connections accepted since Start.
  [[nodiscard]] int AcceptedConnections() const;
  void ClearRequests();

  void SetFault(const std::string& pathPrefix, Fault fault);
  void ClearFaults();

  void SetCanned(const std::string& method, const std::string& path, CannedReply reply);
  void ClearCanned();

  // The script plays for both QR generations: the newer pair answers 86101
  // (not scanned), 86090 (not confirmed), then 0 with the Set-Cookie headers,
  // or 86038 (expired).
  void SetLoginScript(LoginScript script);
  void RetireQrLogin(QrLoginRetirement retirement);
  // The cookie text a finished QR log-in yields: the first name=value pair of
  // each Set-Cookie header, joined by "; ". /x/space/myinfo accepts it; the
  // DASH form of /x/player/playurl only needs some Cookie header.
  [[nodiscard]] std::string LoginCookie() const;

  // The site's current calls: which generation is retired, and the signing
  // keys nav names and the signed space list checks w_rid against (by default
  // those of tests/data/api/nav_not_logged_in_wbi_img.json).
  void SetRetired(Retired which);
  void SetWbiKeys(std::string imgKey, std::string subKey);

  // A catalogue video the site no longer has (its page 404, the view API
  // -404), e.g. one in the middle of a favourites folder.
  void SetUnreadable(const std::string& bvid);
  // Adds `added` new videos to the top (newest end) of a space or favourites
  // folder, by mid or media id (also GET /fakesite/grow?list=ID&add=N); up to
  // 100 in all per list. The collection, the series and the licensed season
  // grow too, by their ids (videos at the collection's end, newest videos of
  // the series, episodes after the season's last). False for an unknown list.
  [[nodiscard]] bool GrowList(std::int64_t id, int added);
  // A video's title as the page and the view API give it (hostile texts).
  void SetTitle(const std::string& bvid, std::string title);
  // The cookie refresh: cookie/info answers refresh: needed; refresh_token
  // and the correspond page use the fake site's own RSA key pair, whose
  // public half (base64 DER) the client must be given as its refresh key.
  // A non-zero answer code makes cookie/refresh answer it (86095, -111 ...).
  void SetRefreshNeeded(bool needed);
  void SetRefreshAnswerCode(int code);
  [[nodiscard]] std::string RefreshPublicKey() const;
  [[nodiscard]] RefreshCalls RefreshCallsSeen() const;

  // Emby: persons and uploads need ?api_key= equal to this key (else 401).
  void SetEmbyApiKey(std::string key);
  [[nodiscard]] std::string EmbyApiKey() const;
  [[nodiscard]] std::vector<EmbyUpload> EmbyUploads() const;
  // Serves these persons (name, id) instead of the catalogue's.
  void SetEmbyPersons(const std::vector<std::pair<std::string, std::string>>& persons);

  // Bytes of a served media file (made by ffmpeg on first use); empty when it
  // cannot be made. Tests compare downloads against it.
  [[nodiscard]] std::string MediaBytes(MediaKind kind);
  // Where the generated media files are kept (default: KORVID_TEST_WORK_DIR/fakesite-media).
  void SetMediaCacheDir(std::string dir);
  // Pads the progressive media file with zero bytes up to this size, for
  // benchmarks of big downloads (0: as made).
  void SetProgressiveMediaSize(std::int64_t bytes);

  // Off by default: answers are never compressed, whatever Accept-Encoding
  // says. On: non-media answers are gzipped for clients that accept gzip.
  void SetCompression(bool on);

  // The catalogue file listing served videos, spaces, folders and comments.
  [[nodiscard]] std::string CataloguePath() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace korvid::fakesite
