#include "site/details_loader.h"

#include <memory>
#include <utility>
#include <vector>

#include "app/text_helpers.h"
#include "controls/control_names.h"
#include "net/http_client.h"
#include "net/regex_matcher.h"
#include "site/site_transport.h"
#include "site/stream_selection.h"
#include "site/video_details.h"
#include "site/video_info.h"

namespace korvid {

namespace {

constexpr std::string_view kBvidPattern = "BV[0-9a-zA-Z]{10}";
constexpr std::string_view kLoadJob = "details loader";
constexpr std::string_view kPageJob = "page streams loader";

}  // namespace

std::optional<std::string> FindBvid(std::string_view text) {
  auto match = FirstMatch(kBvidPattern, text);
  if (!match || match->size() != 12) return std::nullopt;
  return match;
}

DetailsLoader::DetailsLoader(AppState& app) : m_app(app) {}

DetailsLoader::~DetailsLoader() {
  m_workers.JoinAll();
}

bool DetailsLoader::Start() {
  BusyGuard busy = m_app.Busy().TryAcquire(BusyFlag::kDetails);
  if (!busy) return false;
  // Shared, because the job is copied into a std::function; it clears the
  // flag when the worker's job ends.
  auto held = std::make_shared<BusyGuard>(std::move(busy));
  return m_workers.Start(kLoadJob, [this, held] {
    (void)Load();
    held->Release();
  });
}

void DetailsLoader::SelectPage(int pageIndex) {
  {
    std::lock_guard guard(m_pageMutex);
    m_wantedPage = pageIndex;
    if (m_pageWorkerRunning) return;
    m_pageWorkerRunning = true;
  }
  if (m_workers.Start(kPageJob, [this] { ServePageRequests(); })) return;
  std::lock_guard guard(m_pageMutex);
  m_pageWorkerRunning = false;
}

void DetailsLoader::ServePageRequests() {
  for (;;) {
    int page = 0;
    {
      std::lock_guard guard(m_pageMutex);
      if (!m_wantedPage) {
        m_pageWorkerRunning = false;
        return;
      }
      page = *m_wantedPage;
      m_wantedPage.reset();
    }
    try {
      (void)LoadPage(page);
    } catch (...) {
      // The next request is still served.
    }
  }
}

bool DetailsLoader::Load() {
  Controls& ui = m_app.Ui();
  // Held across the requests: the rows of AddVideo wait until the panel is
  // filled. Only workers ever wait for it; the window's task view try-locks.
  std::lock_guard listLock(m_app.ListLock());
  const auto bvid = FindBvid(ui.Text(kDetailsLinkBox));
  // Obtained as AddVideo obtains it: the page's state, else the view API.
  NetTransport transport;
  VideoInfo video;
  video.refused = true;
  if (bvid) video = FetchVideoInfo(transport, *bvid);
  if (video.refused) {
    ui.ShowNotice(kDetailsFailed, kNoticeFailed);
    return false;
  }
  const VideoDetails details = ReadVideoDetails(video.answer);
  {
    std::lock_guard guard(m_documentsMutex);
    m_video = video.answer.GetObject("");
    m_streams = JsonDocument();
    ++m_generation;
  }
  ShowVideoDetails(ui, details);
  (void)LoadPage(0);
  const std::string faceUrl = details.people.front().face;
  ShowPictures(faceUrl, details.coverUrl);
  (void)SaveMissingAvatars(m_app.Paths().AvatarFolder(), details.people);
  return true;
}

bool DetailsLoader::LoadPage(int pageIndex) {
  std::string cid;
  std::string bvid;
  std::string aid;
  std::uint64_t generation = 0;
  {
    std::lock_guard guard(m_documentsMutex);
    if (pageIndex < 0 || pageIndex >= m_video.GetCount("data.pages")) return false;
    cid = Unquote(m_video.GetValue("data.pages[" + std::to_string(pageIndex) + "].cid"));
    bvid = m_video.GetValue("data.bvid");
    aid = m_video.GetValue("data.aid");
    generation = m_generation;
  }
  const PlayUrlAnswer answer = RequestDashPlayUrl(cid, bvid, aid, m_app.Ui().Text(kCookiesBox));
  const std::vector<DropItem> items = StreamListItems(answer.json);
  std::lock_guard guard(m_documentsMutex);
  // A video loaded meanwhile owns the list now.
  if (generation != m_generation) return false;
  m_streams = answer.json;
  Controls& ui = m_app.Ui();
  ui.ClearItems(kSourceDrop);
  for (const DropItem& item : items) ui.AddItem(kSourceDrop, item);
  ui.SelectIndex(kSourceDrop, 0);
  return true;
}

void DetailsLoader::ShowPictures(const std::string& faceUrl, const std::string& coverUrl) {
  for (const auto& [box, url] :
       {std::pair{kUploaderFacePicture, &faceUrl}, std::pair{kCoverPicture, &coverUrl}}) {
    const std::string bytes = url->empty() ? std::string() : PlainGet(*url);
    m_app.Ui().SetPicture(box, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  }
}

bool DetailsLoader::WaitIdle(int timeoutMs) {
  return m_workers.WaitIdle(timeoutMs);
}

JsonDocument DetailsLoader::CurrentVideo() const {
  std::lock_guard guard(m_documentsMutex);
  return m_video.GetObject("");
}

JsonDocument DetailsLoader::CurrentStreams() const {
  std::lock_guard guard(m_documentsMutex);
  return m_streams.GetObject("");
}

}  // namespace korvid
