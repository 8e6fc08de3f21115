#include "library/metadata_refresh.h"

#include <nlohmann/json.hpp>
#include <set>
#include <system_error>

#include "app/file_helpers.h"
#include "danmaku/comment_file.h"
#include "danmaku/danmaku_refresh.h"
#include "library/artwork.h"
#include "library/nfo_writer.h"
#include "net/http_text.h"
#include "site/video_info.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr std::string_view kOurUniqueId = "<uniqueid type=\"bilibili\" default=\"true\">";
constexpr std::string_view kEpisodeMark = "S1E";

// n of a name ending in "S1E<n>" (the extension already removed); 0 when not.
int EpisodeNumber(const std::string& stem) {
  const std::size_t mark = stem.rfind(kEpisodeMark);
  if (mark == std::string::npos) return 0;
  const std::string digits = stem.substr(mark + kEpisodeMark.size());
  if (digits.empty() || digits.size() > 6 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  return std::stoi(digits);
}

void AddEpisodes(VideoFolder& video) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(video.folder, error)) {
    const fs::path& path = entry.path();
    const std::string extension = path.extension().string();
    if (extension != ".mp4" && extension != ".ass") continue;
    const int episode = EpisodeNumber(path.stem().string());
    if (episode > 0) video.episodes.emplace(episode, fs::path(path).replace_extension());
  }
}

std::string BvidOfFolder(const fs::path& folder) {
  if (const auto nfo = ReadFileBytes(folder / kNfoFileName)) {
    if (std::string bvid = NfoBvid(*nfo); !bvid.empty()) return bvid;
  }
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (entry.path().extension() != ".ass") continue;
    const AssSource source = ReadAssSource(ReadAssHeader(entry.path()));
    if (source.bvid.starts_with("BV")) return source.bvid;
  }
  return {};
}

// The task record of page n as a download makes it: the view answer and the
// task's own keys.
std::string EpisodeRecord(const Json& answer, int episode) {
  Json record = answer;
  const Json& pages = answer["data"].value("pages", Json::array());
  const auto index = static_cast<std::size_t>(episode - 1);
  const Json page = index < pages.size() ? pages[index] : Json::object();
  record["cid序号"] = page.contains("cid") ? page["cid"].dump() : std::string();
  record["视频part"] = page.value("part", std::string());
  record["分集序号"] = std::to_string(episode);
  return record.dump();
}

bool Exists(const fs::path& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

// Rewrites tvshow.nfo when it is missing, ours, or forced; a file the user
// wrote (no uniqueid of ours) stays without --force.
void RefreshTvshowNfo(const std::string& record, const MetadataRefreshOptions& options,
                      const MetadataSources& sources, FolderRefresh& result) {
  const fs::path path = result.video.folder / kNfoFileName;
  if (const auto existing = ReadFileBytes(path); existing && !options.force) {
    if (!IsOurTvshowNfo(*existing)) {
      result.nfoLeftAlone = true;
      return;
    }
  }
  const std::string nfo = BuildNfo(record, sources.pageTags);
  if (ReadFileBytes(path) == nfo) return;
  if (WriteFileAtomically(path, nfo)) result.written.push_back(path);
}

void RefreshEpisode(const std::string& record, const fs::path& base, const std::string& bvid,
                    const MetadataRefreshOptions& options, const MetadataSources& sources,
                    FolderRefresh& result) {
  for (fs::path& path : WriteEpisodeFiles(record, base, options.episode, sources.subtitles)) {
    result.written.push_back(std::move(path));
  }
  fs::path ass = base;
  ass += ".ass";
  if (Exists(ass)) return;
  const std::string cid = Json::parse(record).value("cid序号", std::string());
  if (FetchCommentFile(options.danmaku, cid, bvid, ass).Fresh()) {
    result.written.push_back(ass);
    result.written.push_back(CommentXmlPath(ass));
  }
}

}  // namespace

std::string NfoBvid(std::string_view nfoText) {
  std::string bvid = TextBetween(nfoText, kOurUniqueId, "</uniqueid>");
  if (bvid.empty()) bvid = TextBetween(nfoText, "<id>", "</id>");
  return bvid.starts_with("BV") ? bvid : std::string();
}

bool IsOurTvshowNfo(std::string_view nfoText) {
  return nfoText.find(kOurUniqueId) != std::string_view::npos;
}

std::vector<VideoFolder> FindVideoFolders(const fs::path& root) {
  std::vector<VideoFolder> found;
  std::set<fs::path> seen;
  const auto consider = [&](const fs::path& file) {
    const fs::path folder = file.parent_path();
    if (!seen.insert(folder).second) return;
    VideoFolder video{folder, BvidOfFolder(folder), {}};
    if (video.bvid.empty()) return;
    AddEpisodes(video);
    found.push_back(std::move(video));
  };
  ForEachFile(root, ".nfo", [&](const fs::path& nfo) {
    if (nfo.filename() == kNfoFileName) consider(nfo);
  });
  ForEachFile(root, ".ass", consider);
  return found;
}

MetadataSources MetadataSources::Site() {
  MetadataSources sources;
  sources.video = [](std::string_view bvid) {
    NetTransport transport;
    const VideoInfo info = FetchVideoInfo(transport, bvid);
    return info.refused ? std::string() : info.answer.ToText();
  };
  sources.subtitles = SubtitleSource::Site();
  sources.pageTags = FetchPageTags;
  return sources;
}

FolderRefresh RefreshVideoFolder(const VideoFolder& video, const MetadataRefreshOptions& options,
                                 const MetadataSources& sources) {
  FolderRefresh result;
  result.video = video;
  const Json answer = Json::parse(sources.video ? sources.video(video.bvid) : "", nullptr, false);
  if (!answer.is_object() || !answer.contains("data") || !answer["data"].is_object() ||
      answer["data"].value("bvid", std::string()) != video.bvid) {
    result.error = "the site gave no video for " + video.bvid;
    return result;
  }
  RefreshTvshowNfo(EpisodeRecord(answer, 1), options, sources, result);
  if (WriteFanArtIfMissing(video.folder, answer["data"].value("pic", std::string())) ==
      SideFileResult::kWritten) {
    result.written.push_back(video.folder / kFanArtFileName);
  }
  for (const auto& [episode, base] : video.episodes) {
    RefreshEpisode(EpisodeRecord(answer, episode), base, video.bvid, options, sources, result);
  }
  return result;
}

}  // namespace korvid
