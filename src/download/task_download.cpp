#include "download/task_download.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "app/tasks/task_record.h"
#include "app/text_helpers.h"
#include "controls/control_names.h"
#include "danmaku/comment_file.h"
#include "download/download_engine.h"
#include "library/artwork.h"
#include "library/episode_files.h"
#include "library/nfo_writer.h"
#include "net/http_client.h"
#include "site/clean_name.h"
#include "site/site_headers.h"
#include "site/stream_selection.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;

// The media hosts, like the API, refuse some older agents.
constexpr std::string_view kMediaAgent = kBrowserUserAgent;
constexpr std::string_view kMediaAccept =
    "Accept:text/html,application/xhtml+xml,application/xml;q=0.9,image/webp,image/apng,*/"
    "*;q=0.8,application/signed-exchange;v=b3;q=0.9";
// Room left in a file name for "S1E<n>.mp4.视频" after the page title.
constexpr std::size_t kEpisodeNameBytes = 40;
constexpr std::size_t kSuffixChars = 3;

std::string Value(const JsonDocument& record, std::string_view path) {
  return Unquote(record.GetValue(path));
}

// The page title in front of "S1E<n>": none when the page has no title.
std::string PartPrefix(const JsonDocument& record) {
  const std::string part = Value(record, record::kPart);
  if (part.empty()) return {};
  return CleanName(part, false, {}, kMaxNameBytes - kEpisodeNameBytes);
}

std::string EpisodeName(const JsonDocument& record) {
  const bool singlePage = Value(record, "data.videos") == "1";
  const std::string episode = singlePage ? "1" : Value(record, record::kEpisode);
  // Extras of a licensed work are the library's specials (season 0).
  const bool special = Value(record, record::kLicensedSpecial) == record::kTrue;
  return PartPrefix(record) + (special ? "S0E" : "S1E") + CleanName(episode, false);
}

// A split half whose merged file is there from an earlier run (the halves
// are deleted after a merge).
bool MergedFileExists(const fs::path& half, std::string_view suffix) {
  if (suffix.empty()) return false;
  std::error_code ec;
  if (fs::exists(half, ec)) return false;
  const fs::path merged = DropTrailingChars(half.string(), kSuffixChars);
  return fs::is_regular_file(merged, ec) && fs::file_size(merged, ec) > 0 && !ec;
}

void ShowHandOverState(TaskList& list, int row, std::string_view state) {
  if (!state.empty()) list.SetCellText(row, kColState, state);
  list.ResetRowColors(row);
  list.SetCellColor(row, kColState, kColorCrimson);
}

// Column 0 gets the record and column 9 a final state, under the list lock.
void EndRow(AppState& state, int row, const JsonDocument& record, std::string_view text,
            std::uint32_t color = kColorCrimson) {
  const std::lock_guard held(state.ListLock());
  TaskList& list = state.Tasks();
  list.SetCellText(row, kColRecord, record.ToText());
  ShowHandOverState(list, row, text);
  list.SetCellColor(row, kColState, color);
}

// The site could not be reached: the task is not at fault, so it waits for
// its turn again rather than ending failed.
void WaitAgain(AppState& state, int row, const std::string& text) {
  state.Reachability().NoteUnreachable();
  const std::lock_guard held(state.ListLock());
  TaskList& list = state.Tasks();
  if (!state.QueueTask(row, text)) {
    ShowHandOverState(list, row, kStateStartFailed);
    return;
  }
  list.SetCellText(row, kColState, kStateWaiting);
  list.SetCellTip(row, kColState, kUnreachableCaption);
  list.ResetRowColors(row);
}

// The reason a video folder could not be made, as the state cell's tip; a
// download folder that refuses writing is said once as a notice too.
void ShowFolderFailure(AppState& state, int row, const fs::path& root, const std::error_code& ec) {
  const bool refused = ec == std::errc::permission_denied ||
                       ec == std::errc::read_only_file_system ||
                       ec == std::errc::operation_not_permitted;
  const bool unwritable = refused || ::access(root.c_str(), W_OK) != 0;
  const std::string why =
      unwritable ? std::string(kNoticeFolderUnwritablePrefix) + root.string() : ec.message();
  if (unwritable && state.FirstTime(why)) state.Ui().ShowNotice(why, kNoticeFailed);
  const std::lock_guard held(state.ListLock());
  state.Tasks().SetCellTip(row, kColState, why);
}

// Paused or removed after its record was taken off the queue.
bool IsSetAside(const TaskList& list, int row) {
  return list.IsRemovedRow(row) || list.CellText(row, kColState) == kStatePaused;
}

bool IsAudioOfPairInOneFile(const JsonDocument& record, const StreamChoice& choice) {
  return Value(record, record::kSplit) == record::kTrue && choice.suffix.empty() &&
         Value(record, record::kStreamKind) == record::kAudio;
}

// False when the comments were missing and could not be fetched.
bool WriteSideFiles(const Controls& ui, const JsonDocument& record, const std::string& text,
                    const VideoLayout& layout) {
  (void)WriteNfoIfMissing(layout.folder, text);
  (void)WriteFanArtIfMissing(layout.folder, Value(record, "data.pic"));
  (void)WriteEpisodeFiles(text, fs::path(layout.subtitle).replace_extension(),
                          EpisodeOptions::Read(ui));
  std::error_code ec;
  if (fs::exists(layout.subtitle, ec)) return true;
  return FetchCommentFile(ui, Value(record, record::kCid), Value(record, "data.bvid"),
                          layout.subtitle)
      .Fresh();
}

constexpr std::string_view kNfoIdOpen = "<id>";
constexpr std::string_view kNfoIdClose = "</id>";
constexpr std::uintmax_t kMaxNfoBytes = 1024 * 1024;

std::string ReadFolderNfo(const fs::path& folder) {
  std::error_code ec;
  const fs::path path = folder / kNfoFileName;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size > kMaxNfoBytes) return {};
  std::ifstream in(path, std::ios::binary);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (!in.read(text.data(), static_cast<std::streamsize>(size))) return {};
  return text;
}

}  // namespace

LayoutSettings LayoutSettings::Read(const Controls& controls) {
  LayoutSettings layout;
  layout.downloadPath = controls.Text(kDownloadPathBox);
  layout.byType = controls.Checked(kByTypeCheck);
  layout.byUploader = controls.Checked(kByUploaderCheck);
  return layout;
}

fs::path DownloadRoot(std::string_view downloadPath, const AppPaths& paths) {
  std::error_code ec;
  if (!downloadPath.empty() && fs::is_directory(fs::path(downloadPath), ec)) {
    return fs::path(downloadPath);
  }
  return paths.DownloadFolder();
}

std::string FolderVideoId(const fs::path& folder) {
  const std::string nfo = ReadFolderNfo(folder);
  const std::size_t open = nfo.find(kNfoIdOpen);
  if (open == std::string::npos) return {};
  const std::size_t from = open + kNfoIdOpen.size();
  const std::size_t close = nfo.find(kNfoIdClose, from);
  if (close == std::string::npos) return {};
  return nfo.substr(from, close - from);
}

VideoLayout PlanVideoLayout(const JsonDocument& record, const LayoutSettings& layout,
                            const fs::path& root, std::string_view suffix) {
  fs::path folder = root;
  if (layout.byType) folder /= CleanName(Value(record, "data.tname"), false);
  if (layout.byUploader) folder /= CleanName(Value(record, "data.owner.name"), false);
  const std::string bvid = Value(record, "data.bvid");
  const std::string title = CleanName(Value(record, "data.title"), true, bvid);
  // Two videos whose titles clean to one name must not share a folder: the
  // folder's tvshow.nfo names the video (or season) it belongs to.
  const std::string id = NfoIdOf(record);
  const std::string owner = FolderVideoId(folder / title);
  folder /= owner.empty() || owner == id ? title : title + " [" + id + "]";
  const std::string name = EpisodeName(record);
  VideoLayout paths;
  paths.folder = folder;
  paths.media = folder / (name + ".mp4" + std::string(suffix));
  paths.subtitle = folder / (name + ".ass");
  return paths;
}

std::string MediaHeaderBlock(const SiteHosts& hosts) {
  return "User-Agent: " + std::string(kMediaAgent) + "\r\n" + std::string(kMediaAccept) +
         "\r\nreferer: " + hosts.web + "/";
}

bool AlreadyComplete(const fs::path& path, const std::vector<std::string>& urls,
                     std::string_view headerBlock) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  const std::uintmax_t local = fs::file_size(path, ec);
  if (ec) return false;
  // The download takes the first address that answers; so does the check.
  for (const std::string& url : urls) {
    const std::int64_t remote = QueryMediaLength(url, headerBlock);
    if (remote >= 0) return static_cast<std::uintmax_t>(remote) == local;
  }
  return false;
}

// The path the partner half of a split task was given, when it has one.
std::optional<fs::path> PartnerHalfPath(const TaskList& list, int row, std::string_view suffix) {
  if (suffix.empty()) return std::nullopt;
  const bool video = suffix == kVideoHalfSuffix;
  const int partner = video ? row + 1 : row - 1;
  JsonDocument record;
  if (!record.Parse(list.CellText(partner, kColRecord))) return std::nullopt;
  const std::optional<MergeHalves> halves =
      MergeHalvesOf(Unquote(record.GetValue(record::kMediaPath)), partner);
  if (!halves || (video ? halves->videoRow : halves->audioRow) != row) return std::nullopt;
  return fs::path(video ? halves->video : halves->audio);
}

namespace {

// The run ends while the task waits for a slot: it goes back to the head of
// the queue, as if never taken (its side files stay).
TaskDownloadEnd PutBack(AppState& state, int row, const std::string& text, std::int64_t queuedSeq) {
  const std::lock_guard held(state.ListLock());
  if (IsSetAside(state.Tasks(), row) || state.Tasks().QueuedSeq(row) != queuedSeq) {
    return TaskDownloadEnd::kSetAside;
  }
  if (!state.QueueTaskFirst(row, text)) {
    ShowHandOverState(state.Tasks(), row, kStateStartFailed);
    return TaskDownloadEnd::kEngineRefused;
  }
  return TaskDownloadEnd::kPutBack;
}

}  // namespace

TaskDownloadEnd DownloadOneTask(AppState& state, DownloadEngine& engine,
                                const SlotWait& waitForSlot) {
  std::string text;
  if (!state.TaskQueue().PopText(text)) return TaskDownloadEnd::kNoRecord;
  JsonDocument record;
  if (!record.Parse(text)) return TaskDownloadEnd::kUnreadable;
  const int row = std::atoi(Value(record, record::kRow).c_str());
  if (IsSetAside(state.Tasks(), row)) return TaskDownloadEnd::kSetAside;
  // Paused and continued while this worker prepares, the row is queued again
  // for another worker: then this take is stale.
  const std::int64_t queuedSeq = state.Tasks().QueuedSeq(row);
  Controls& ui = state.Ui();

  const StreamChoice choice = SelectStream(text, ui);
  if (choice.unreachable) {
    WaitAgain(state, row, text);
    return TaskDownloadEnd::kUnreachable;
  }
  state.Reachability().NoteReached();
  if (choice.Refused()) {
    EndRow(state, row, record, std::string(kStateRefusedPrefix) + *choice.refusal);
    return TaskDownloadEnd::kRefused;
  }
  if (IsAudioOfPairInOneFile(record, choice)) {
    EndRow(state, row, record, kStateInVideoFile, kColorDone);
    return TaskDownloadEnd::kInVideoFile;
  }

  const std::string wantedRoot = ui.Text(kDownloadPathBox);
  const fs::path root = DownloadRoot(wantedRoot, state.Paths());
  if (!wantedRoot.empty() && fs::path(wantedRoot) != root &&
      state.FirstTime(std::string(kNoticeFolderMissingPrefix) + wantedRoot)) {
    ui.ShowNotice(std::string(kNoticeFolderMissingPrefix) + root.string(), kNoticeFailed);
  }
  VideoLayout layout = PlanVideoLayout(record, LayoutSettings::Read(ui), root, choice.suffix);
  // Both halves go where the first one went, whatever the settings say now.
  if (const auto partner = PartnerHalfPath(state.Tasks(), row, choice.suffix)) {
    layout.folder = partner->parent_path();
    layout.media = layout.folder / layout.media.filename();
    layout.subtitle = layout.folder / layout.subtitle.filename();
  }
  std::error_code ec;
  fs::create_directories(layout.folder, ec);
  std::error_code probe;  // keeps ec: why the folder could not be made
  if (!fs::is_directory(layout.folder, probe)) {
    EndRow(state, row, record, kStateStartFailed);
    ShowFolderFailure(state, row, root, ec);
    return TaskDownloadEnd::kFolderFailed;
  }
  const bool commentsOk = WriteSideFiles(ui, record, text, layout);

  const std::string headerBlock = MediaHeaderBlock(CurrentSiteHosts());
  std::vector<std::string> urls{choice.url};
  urls.insert(urls.end(), choice.backups.begin(), choice.backups.end());
  // Asked before the list lock is taken: no request runs under it.
  bool halfOnDisk = AlreadyComplete(layout.media, urls, headerBlock);
  bool present = halfOnDisk || MergedFileExists(layout.media, choice.suffix);
  if (!present && waitForSlot) {
    if (!waitForSlot()) return PutBack(state, row, text, queuedSeq);
    // Another task for the same video may have finished the file meanwhile.
    halfOnDisk = AlreadyComplete(layout.media, urls, headerBlock);
    present = halfOnDisk || MergedFileExists(layout.media, choice.suffix);
  }
  const std::lock_guard held(state.ListLock());
  TaskList& list = state.Tasks();
  if (IsSetAside(list, row) || list.QueuedSeq(row) != queuedSeq) {
    return TaskDownloadEnd::kSetAside;
  }
  (void)record.SetValue(record::kMediaPath, layout.media.string());
  list.SetCellText(row, kColRecord, record.ToText());
  list.SetCellTip(row, kColState, commentsOk ? "" : kTipCommentsFailed);
  if (present) {
    // A half found on disk may be the later of its pair: its partner's end
    // report came first and found nothing to merge with yet.
    if (halfOnDisk && !choice.suffix.empty() && engine.StartMergeIfPairDone(row)) {
      return TaskDownloadEnd::kExisting;
    }
    ShowHandOverState(list, row, kStateExisting);
    return TaskDownloadEnd::kExisting;
  }
  DownloadRequest request;
  request.row = row;
  request.url = choice.url;
  request.fallbackUrls = choice.backups;
  request.targetPath = layout.media.string();
  request.headerBlock = headerBlock;
  request.addressesIssuedMs = engine.Now();
  request.freshAddresses = [text, settings = StreamSettings::Read(ui)] {
    const StreamChoice fresh = SelectStream(text, settings);
    std::vector<std::string> addresses;
    if (fresh.Refused() || fresh.url.empty()) return addresses;
    addresses.push_back(fresh.url);
    addresses.insert(addresses.end(), fresh.backups.begin(), fresh.backups.end());
    return addresses;
  };
  if (engine.StartDownload(std::move(request)) != kDownloadStarted) {
    ShowHandOverState(list, row, kStateStartFailed);
    return TaskDownloadEnd::kEngineRefused;
  }
  // Its reports wait for the list lock, so they recolour the row after this.
  ShowHandOverState(list, row, {});
  return TaskDownloadEnd::kStarted;
}

}  // namespace korvid
