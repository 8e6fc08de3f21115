// korvid-fakesite: the loopback fake site as a program of its own, for
// tests that spawn it and for trying the client by hand.

#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/fakesite/fake_site.h"

namespace {

using korvid::fakesite::Fault;

int g_wakePipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(g_wakePipe[1], &byte, 1);
}

constexpr const char* kHelp =
    R"(korvid-fakesite [--port N] [--stdin-lifetime] [--data DIR] [--media DIR]
                [--media-size BYTES]
                [--fault PREFIX=SPEC]... [--retire older|newer] [--refresh-needed]
                [--unreadable BVID]... [--title BVID=TEXT]...

Serves every host of the video site, its media files and an Emby server on
http://127.0.0.1:PORT (all hosts share the one address). The first line on
stdout is "listening on http://127.0.0.1:PORT", the second the refresh key the
client needs for the cookie refresh ("KORVID_REFRESH_KEY=..."). Runs until SIGINT/SIGTERM, or
with --stdin-lifetime until stdin is closed.

Options
  --port N           port to listen on; 0 or none picks a free one
  --stdin-lifetime   exit when stdin reaches end of file
  --data DIR         recorded data folder (default: the source tree's tests/data)
  --media DIR        cache folder for the generated media files
  --media-size BYTES pad the progressive media file with zero bytes to BYTES
                     (for benchmarks of big downloads)
  --retire older|newer
                     retire one generation of the site's calls: older makes
                     /x/space/arc/search answer -799 and /qrcode/getLoginInfo
                     20000; newer makes nav, finger/spi, /x/space/wbi/arc/search,
                     /x/player/wbi/playurl and the /x/passport-login/web/qrcode/
                     pair answer HTTP 404
  --unreadable BVID  the video is gone: its page answers 404, the view API -404
  --title BVID=TEXT  the video's title, in its page and the view API, is TEXT
  --refresh-needed   cookie/info answers refresh: true, so a client renews its
                     log-in (cookie/refresh and confirm/refresh)
  --fault PREFIX=SPEC
                     misbehave for every path starting with PREFIX; SPEC is a
                     comma-separated list of
                       status:N      answer HTTP N with a short text body
                       body:TEXT     the body for status (must come last)
                       blocked       HTTP 412 {"code":-412,"message":"请求被拦截"}
                       code:N        HTTP 200 {"code":N,"message":"fault N"}
                       throttle:N    send the body at N bytes per second
                       drop:N        close the connection after N body bytes
                       chunked       no Content-Length (chunked transfer)
                       delay:MS      wait MS milliseconds before answering
                       times:N       only for the next N requests
                     e.g. --fault /x/player/playurl=status:412
                          --fault /media/=throttle:20000,drop:30000

Routes (hosts are a setting of the client; here they all are this server)
  web       GET  /video/{bvid}                 page with one __INITIAL_STATE__ line
  API       GET  /x/web-interface/view?bvid=|aid=
            GET  /x/player/playurl?cid=..&fnval=16 (+ Cookie: DASH) | else durl
            GET  /x/player/wbi/playurl?..&wts=..&w_rid=..  the same when w_rid
                                               is right, else code -352
            GET  /x/space/arc/search?mid=..&ps=30&pn=..&keyword=..&tid=..
            GET  /x/space/wbi/arc/search?..&wts=..&w_rid=..  the same list when
                                               w_rid is right, else code -352
            GET  /x/web-interface/nav          code -101 with data.wbi_img keys
                                               (code 0 with the log-in cookie)
            GET  /x/frontend/finger/spi        data.b_3, data.b_4 (buvid3/4)
            GET  /x/v3/fav/resource/list?media_id=..&pn=..&ps=20  (medias null when empty)
            GET  /x/space/myinfo               needs Cookie SESSDATA, else code -101
            GET  /x/player/wbi/v2?aid=..&cid=..&wts=..&w_rid=..  subtitle list
                                               (code -352 when w_rid is wrong)
            GET  /x/player/v2?aid=..&cid=..    the same list, unsigned
  subtitles GET  /bfs/subtitle/{lan}.json      body[] of from, to, content
  passport  GET  /qrcode/getLoginUrl           data.url, data.oauthKey
            POST /qrcode/getLoginInfo          body oauthKey=..: -4, -5, then success
            GET  /x/passport-login/web/qrcode/generate  data.url, data.qrcode_key
            GET  /x/passport-login/web/qrcode/poll?qrcode_key=..  86101, 86090, then 0
                                               with Set-Cookie (or -2 expired)
            GET  /x/passport-login/web/cookie/info  data.refresh, data.timestamp
            POST /x/passport-login/web/cookie/refresh  csrf, refresh_csrf, source,
                                               refresh_token: new cookies and token
            POST /x/passport-login/web/confirm/refresh  csrf (new), refresh_token (old)
  web       GET  /correspond/1/{hex}           <div id="1-name">refresh_csrf</div> when
                                               the hex decrypts to refresh_<timestamp>
  QR image  GET  /action/qrcode/generate?data=..   a GIF
  comments  GET  /{cid}.xml                    raw deflate, Content-Encoding: deflate
  media     GET|HEAD /media/video/* /media/audio/* /media/progressive/* /img/*
                                               Content-Length; Range -> 206
  Emby      GET  /emby/Persons?api_key=..      {Items:[...],TotalRecordCount}
            POST /emby/Items/{id}/Images/Primary?api_key=..  Base64 body; 200 empty,
                                               401 wrong key, 404 unknown id
  switch    GET  /fakesite/grow?list=ID&add=N  N new videos on top of the space or
                                               favourites folder ID (100 at most), at
                                               the end of collection 1227671 or series
                                               534501, N new episodes of season 42290
)";

// The catalogue part of --help, read from the data folder in use.
void PrintCatalogue(const std::string& dataDir) {
  std::ifstream in(dataDir + "/fakesite/videos.json");
  const auto catalogue = nlohmann::json::parse(in, nullptr, false);
  if (catalogue.is_discarded()) {
    std::cout << "\n(no catalogue at " << dataDir << "/fakesite/videos.json)\n";
    return;
  }
  std::cout << "\nVideos (" << dataDir << "/fakesite/videos.json)\n";
  for (const auto& video : catalogue["videos"]) {
    std::cout << "  " << video["bvid"].get<std::string>()
              << "  page:" << video["page"].get<std::string>()
              << " view:" << video["view"].get<std::string>() << "  "
              << video["about"].get<std::string>() << "\n";
  }
  std::cout << "Uploader spaces (pages of 30)\n";
  for (const auto& space : catalogue["spaces"]) {
    std::cout << "  mid " << space["mid"] << ": " << space["count"] << " videos, "
              << space["bvidPrefix"].get<std::string>() << "0000001 ...\n";
  }
  std::cout << "Favourites folders (pages of 20)\n";
  for (const auto& folder : catalogue["favourites"]) {
    std::cout << "  media_id " << folder["mediaId"] << ": " << folder["count"] << " entries\n";
  }
  std::cout << "Comment documents by cid\n";
  for (const auto& [cid, file] : catalogue["comments"]["byCid"].items()) {
    std::cout << "  " << cid << ": " << file.get<std::string>() << "\n";
  }
  std::cout << "  other cids: the pages' danmaku lists, else an empty document\n";
  std::cout << "Log-in cookie SESSDATA=" << catalogue["account"]["sessdata"].get<std::string>()
            << "; Emby api_key=" << catalogue["emby"]["apiKey"].get<std::string>() << "\n";
}

bool ApplyFaultItem(const std::string& item, Fault& fault) {
  const auto colon = item.find(':');
  const std::string name = item.substr(0, colon);
  const std::string value = colon == std::string::npos ? "" : item.substr(colon + 1);
  try {
    if (name == "status") {
      fault.status = std::stoi(value);
    } else if (name == "blocked") {
      fault.blocked = true;
    } else if (name == "code") {
      fault.apiCode = std::stoi(value);
    } else if (name == "throttle") {
      fault.throttleBytesPerSecond = std::stoll(value);
    } else if (name == "drop") {
      fault.dropAfterBytes = std::stoll(value);
    } else if (name == "chunked") {
      fault.omitContentLength = true;
    } else if (name == "delay") {
      fault.firstByteDelayMs = std::stoi(value);
    } else if (name == "times") {
      fault.times = std::stoi(value);
    } else {
      return false;
    }
  } catch (...) {
    return false;
  }
  return true;
}

bool ParseFault(const std::string& text, std::string& prefix, Fault& fault) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0) {
    return false;
  }
  prefix = text.substr(0, eq);
  std::string spec = text.substr(eq + 1);
  if (const auto body = spec.find("body:"); body != std::string::npos) {
    fault.body = spec.substr(body + 5);
    spec.erase(body == 0 ? 0 : body - 1);
  }
  std::size_t at = 0;
  while (at < spec.size()) {
    const auto comma = spec.find(',', at);
    const std::string item =
        spec.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    if (!item.empty() && !ApplyFaultItem(item, fault)) {
      return false;
    }
    at = comma == std::string::npos ? spec.size() : comma + 1;
  }
  return true;
}

// Waits for a signal, or for end of file on stdin when asked to.
void WaitForEnd(bool stdinLifetime) {
  std::vector<pollfd> fds = {{g_wakePipe[0], POLLIN, 0}};
  if (stdinLifetime) {
    fds.push_back({STDIN_FILENO, POLLIN, 0});
  }
  for (;;) {
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (fds[0].revents != 0) {
      return;
    }
    if (stdinLifetime && fds[1].revents != 0) {
      char buffer[256];
      const auto n = ::read(STDIN_FILENO, buffer, sizeof(buffer));
      if (n <= 0) {
        return;
      }
    }
  }
}

int Run(int argc, char** argv) {
  int port = 0;
  bool stdinLifetime = false;
  std::string dataDir = KORVID_TEST_DATA_DIR;
  std::string mediaDir;
  long long mediaSize = 0;
  std::vector<std::pair<std::string, Fault>> faults;
  bool help = false;
  korvid::fakesite::Retired retired = korvid::fakesite::Retired::kNothing;
  std::vector<std::string> unreadable;
  std::vector<std::pair<std::string, std::string>> titles;
  bool refreshNeeded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      help = true;
      continue;
    }
    if (arg == "--stdin-lifetime") {
      stdinLifetime = true;
    } else if (arg == "--port" && hasValue) {
      port = std::atoi(argv[++i]);
    } else if (arg == "--data" && hasValue) {
      dataDir = argv[++i];
    } else if (arg == "--media" && hasValue) {
      mediaDir = argv[++i];
    } else if (arg == "--refresh-needed") {
      refreshNeeded = true;
    } else if (arg == "--media-size" && hasValue) {
      mediaSize = std::atoll(argv[++i]);
    } else if (arg == "--retire" && hasValue &&
               (std::string(argv[i + 1]) == "older" || std::string(argv[i + 1]) == "newer")) {
      retired = std::string(argv[++i]) == "older" ? korvid::fakesite::Retired::kOlderCalls
                                                  : korvid::fakesite::Retired::kNewerCalls;
    } else if (arg == "--unreadable" && hasValue) {
      unreadable.emplace_back(argv[++i]);
    } else if (arg == "--title" && hasValue && std::string(argv[i + 1]).find('=') != 0 &&
               std::string(argv[i + 1]).find('=') != std::string::npos) {
      const std::string text = argv[++i];
      titles.emplace_back(text.substr(0, text.find('=')), text.substr(text.find('=') + 1));
    } else if (arg == "--fault" && hasValue) {
      std::pair<std::string, Fault> fault;
      if (!ParseFault(argv[++i], fault.first, fault.second)) {
        std::cerr << "korvid-fakesite: bad --fault " << argv[i] << "\n";
        return 2;
      }
      faults.push_back(fault);
    } else {
      std::cerr << "korvid-fakesite: unknown argument " << arg << " (see --help)\n";
      return 2;
    }
  }
  if (help) {
    std::cout << kHelp;
    PrintCatalogue(dataDir);
    return 0;
  }
  if (::pipe(g_wakePipe) != 0) {
    return 1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  korvid::fakesite::FakeSite site(dataDir);
  if (!mediaDir.empty()) {
    site.SetMediaCacheDir(mediaDir);
  }
  site.SetProgressiveMediaSize(mediaSize);
  for (auto& [prefix, fault] : faults) {
    site.SetFault(prefix, fault);
  }
  site.SetRetired(retired);
  site.RetireQrLogin({retired == korvid::fakesite::Retired::kOlderCalls,
                      retired == korvid::fakesite::Retired::kNewerCalls});
  for (const std::string& bvid : unreadable) site.SetUnreadable(bvid);
  for (const auto& [bvid, title] : titles) site.SetTitle(bvid, title);
  site.SetRefreshNeeded(refreshNeeded);
  if (!site.Start(port)) {
    std::cerr << "korvid-fakesite: cannot listen on port " << port << "\n";
    return 1;
  }
  std::cout << "listening on " << site.BaseUrl() << std::endl;
  std::cout << "KORVID_REFRESH_KEY=" << site.RefreshPublicKey() << std::endl;
  WaitForEnd(stdinLifetime);
  site.Stop();
  // For benchmarks: what a resumed download cost on the wire.
  std::cout << "media bytes sent " << site.MediaBytesSent() << std::endl;
  std::cerr << "korvid-fakesite: " << site.AcceptedConnections() << " connections accepted\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "korvid-fakesite: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "korvid-fakesite: unknown failure\n";
  }
  return 1;
}
