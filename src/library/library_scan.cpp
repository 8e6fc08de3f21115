#include "library/library_scan.h"

#include <array>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <utility>

#include "app/file_helpers.h"
#include "controls/control_names.h"
#include "net/http_text.h"

namespace korvid {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kNfoName = "tvshow.nfo";
constexpr std::string_view kScanJob = "library scan";
constexpr std::int64_t kSecondsFrom = 5000;

std::string ReadFileText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool IsFolder(const fs::path& path) {
  std::error_code error;
  return !path.empty() && fs::is_directory(path, error);
}

std::string DecodeXmlEntities(std::string_view text) {
  static constexpr std::array<std::pair<std::string_view, char>, 5> kEntities = {{
      {"&amp;", '&'},
      {"&lt;", '<'},
      {"&gt;", '>'},
      {"&quot;", '"'},
      {"&apos;", '\''},
  }};
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool replaced = false;
    for (const auto& [entity, character] : kEntities) {
      if (text.substr(i, entity.size()) == entity) {
        out += character;
        i += entity.size() - 1;
        replaced = true;
        break;
      }
    }
    if (!replaced) out += text[i];
  }
  return out;
}

}  // namespace

LibraryList ScanLibrary(const fs::path& folder, std::string_view keyword) {
  LibraryList found;
  ForEachFile(folder, ".nfo", [&](const fs::path& nfo) {
    // Only the end of the name counts, case as written: mytvshow.nfo is an entry too.
    if (!nfo.native().ends_with(kNfoName)) return;
    if (!keyword.empty() && FindIgnoreCase(ReadFileText(nfo), keyword) == std::string::npos) {
      return;
    }
    found.push_back(nfo.native());
  });
  found.shrink_to_fit();
  return found;
}

std::string ElapsedText(std::int64_t elapsedMs) {
  if (elapsedMs < kSecondsFrom) return "耗时：" + std::to_string(elapsedMs) + "毫秒";
  return "耗时：" + std::to_string(elapsedMs / 1000) + "秒";
}

std::string ScanDoneText(std::size_t count, std::int64_t elapsedMs) {
  return "加载" + std::to_string(count) + "个视频," + ElapsedText(elapsedMs);
}

std::string NfoTitle(std::string_view nfoText) {
  return DecodeXmlEntities(TextBetween(nfoText, "<title>", "</title>"));
}

LibraryEntryInfo ReadEntryInfo(const fs::path& nfoPath) {
  return {NfoTitle(ReadFileText(nfoPath)), nfoPath.parent_path() / "fanart.jpg"};
}

std::optional<fs::path> FindFirstEpisode(const fs::path& folder) {
  std::optional<fs::path> loose;
  std::error_code error;
  fs::directory_iterator it(folder, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!name.ends_with(".mp4") || name.find("S1E1") == std::string::npos) continue;
    // "S1E1" alone would also pick S1E10 or S1E12 of a long series first.
    if (name.ends_with("S1E1.mp4")) return it->path();
    if (!loose) loose = it->path();
  }
  return loose;
}

std::int64_t SteadyNowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

LibraryBrowser::LibraryBrowser(AppState& state, MsClock clock)
    : m_state(state), m_clock(std::move(clock)), m_entries(std::make_shared<const LibraryList>()) {}

LibraryBrowser::~LibraryBrowser() {
  WaitForScan();
}

bool LibraryBrowser::ChooseFolderAndScan() {
  Controls& ui = m_state.Ui();
  const fs::path current = fs::path(ui.Text(kLibraryFolderBox));
  const fs::path start = IsFolder(current) ? current : m_state.Paths().programFolder;
  const std::string chosen = ui.Shell().PickFolder(kLibraryPickerTitle, start.string());
  ui.SetText(kLibraryFolderBox, chosen);
  return StartScan();
}

bool LibraryBrowser::StartScan() {
  BusyGuard busy = m_state.Busy().TryAcquire(BusyFlag::kLibraryScan);
  if (!busy) {
    m_state.Ui().ShowNotice(kLibraryScanBusy, kNoticeFailed);
    return false;
  }
  SetStatusCaption(m_state.Ui(), kLibraryLoading);
  WaitForScan();  // the last worker has released its flag and is ending
  auto held = std::make_shared<BusyGuard>(std::move(busy));
  return m_worker.Start(kScanJob, [this, held] {
    RunScan();
    held->Release();
  });
}

void LibraryBrowser::WaitForScan() {
  m_worker.JoinAll();
}

fs::path LibraryBrowser::SearchFolder() const {
  const fs::path chosen = fs::path(m_state.Ui().Text(kLibraryFolderBox));
  return IsFolder(chosen) ? chosen : m_state.Paths().DownloadFolder();
}

void LibraryBrowser::RunScan() {
  const std::int64_t started = m_clock();
  Publish(std::make_shared<const LibraryList>());
  auto found = std::make_shared<const LibraryList>(
      ScanLibrary(SearchFolder(), m_state.Ui().Text(kKeywordBox)));
  const std::size_t count = found->size();
  Publish(std::move(found));
  SetStatusCaption(m_state.Ui(), ScanDoneText(count, m_clock() - started));
}

void LibraryBrowser::Publish(std::shared_ptr<const LibraryList> list) {
  {
    std::lock_guard lock(m_mutex);
    m_entries = list;
  }
  if (m_listener) m_listener(std::move(list));
}

std::shared_ptr<const LibraryList> LibraryBrowser::Entries() const {
  std::lock_guard lock(m_mutex);
  return m_entries;
}

std::optional<fs::path> LibraryBrowser::EntryFolder(std::size_t index) const {
  const auto entries = Entries();
  if (index >= entries->size()) return std::nullopt;
  return fs::path((*entries)[index]).parent_path();
}

bool LibraryBrowser::PlayVideo(std::size_t index) {
  const auto folder = EntryFolder(index);
  const auto video = folder ? FindFirstEpisode(*folder) : std::nullopt;
  if (!video) {
    m_state.Ui().ShowNotice(kNoVideoInFolder, kNoticeFailed);
    return false;
  }
  return OpenWithShell(*video);
}

bool LibraryBrowser::OpenFolder(std::size_t index) {
  const auto folder = EntryFolder(index);
  return folder && OpenWithShell(*folder);
}

bool LibraryBrowser::OpenWithShell(const fs::path& path) {
  if (m_state.Ui().Shell().Open(path.string())) return true;
  m_state.Ui().ShowNotice(std::string(kOpenFailed) + path.filename().string(), kNoticeFailed);
  return false;
}

}  // namespace korvid
