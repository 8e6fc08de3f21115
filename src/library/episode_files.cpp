#include "library/episode_files.h"

#include <nlohmann/json.hpp>
#include <system_error>

#include "app/file_helpers.h"
#include "app/tasks/task_record.h"
#include "controls/control_names.h"
#include "library/artwork.h"
#include "library/nfo_writer.h"
#include "library/subtitle_srt.h"
#include "net/http_client.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr std::string_view kCrLf = "\r\n";
constexpr long long kSecondsPerMinute = 60;

std::string Unquoted(std::string text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

// A string or integer member as text; "" for anything else.
std::string TextAt(const Json& json, const char* pointer) {
  const Json::json_pointer at(pointer);
  if (!json.contains(at)) return {};
  const Json& value = json.at(at);
  if (value.is_string()) return Unquoted(value.get<std::string>());
  if (value.is_number_integer()) return value.dump();
  return {};
}

long long IntegerAt(const Json& json, const char* pointer) {
  const std::string text = TextAt(json, pointer);
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  return end != nullptr && *end == '\0' ? value : 0;
}

// The page of the record's cid, else the one at its episode number, else the first.
Json PageOf(const Json& data, std::string_view cid, long long episode) {
  const auto pages = data.find("pages");
  if (pages == data.end() || !pages->is_array() || pages->empty()) return Json::object();
  for (const Json& page : *pages) {
    if (page.is_object() && TextAt(page, "/cid") == cid) return page;
  }
  if (episode >= 1 && static_cast<std::size_t>(episode) <= pages->size()) {
    return (*pages)[static_cast<std::size_t>(episode - 1)];
  }
  return pages->front();
}

std::string LineBreaksAsCrLf(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      out += kCrLf;
    } else {
      out += c;
    }
  }
  return out;
}

void AppendElement(std::string& nfo, std::string_view tag, std::string_view text) {
  nfo += "  <";
  nfo += tag;
  nfo += '>';
  nfo += XmlElementText(text);
  nfo += "</";
  nfo += tag;
  nfo += ">\r\n";
}

bool Exists(const fs::path& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

void Note(std::vector<fs::path>& written, SideFileResult result, const fs::path& path) {
  if (result == SideFileResult::kWritten) written.push_back(path);
}

fs::path WithSuffix(const fs::path& base, std::string_view suffix) {
  fs::path path = base;
  path += std::string(suffix);
  return path;
}

void WriteSubtitles(const EpisodeInfo& info, const fs::path& base, const EpisodeOptions& options,
                    const SubtitleSource& source, std::vector<fs::path>& written) {
  if (!source.list || !source.body || info.cid.empty()) return;
  for (const SubtitleTrack& track : source.list({info.aid, info.cid, options.cookies})) {
    if (track.ai && !options.aiSubtitles) continue;
    const fs::path path = WithSuffix(base, "." + track.lan + ".srt");
    if (Exists(path)) continue;
    const std::string srt = SubtitleBodyToSrt(source.body(track.url));
    if (!srt.empty()) Note(written, WriteFileIfMissing(path, srt), path);
  }
}

// An episode of a licensed work: its own title, date and picture, the
// season's title; numbered within the main episodes or the extras.
void ReadLicensedEpisode(const Json& record, EpisodeInfo& info) {
  const Json licensed = record.value(std::string(record::kLicensed), Json::object());
  if (!licensed.is_object()) return;
  const Json episode = licensed.value("episode", Json::object());
  if (!episode.is_object()) return;
  info.epId = TextAt(episode, "/ep_id");
  if (info.epId.empty()) info.epId = TextAt(episode, "/id");
  info.episode = std::to_string(std::max(1LL, IntegerAt(record, "/分集序号")));
  if (TextAt(licensed, "/special") == record::kTrue) info.season = "0";
  info.plot.clear();
  const long long aired = IntegerAt(episode, "/pub_time");
  info.aired = aired > 0 ? ChinaDateTimeText(aired).substr(0, 10) : std::string();
  info.firstFrame = TextAt(episode, "/cover");
}

}  // namespace

EpisodeOptions EpisodeOptions::Read(const Controls& controls) {
  return {controls.Checked(kAiSubtitlesCheck), controls.Text(kCookiesBox)};
}

EpisodeInfo ReadEpisodeInfo(std::string_view recordText) {
  const Json record = Json::parse(recordText, nullptr, false);
  EpisodeInfo info;
  if (!record.is_object()) return info;
  const Json data = record.value("data", Json::object());
  if (!data.is_object()) return info;
  info.bvid = TextAt(data, "/bvid");
  info.aid = TextAt(data, "/aid");
  info.cid = TextAt(record, "/cid序号");
  info.showTitle = TextAt(data, "/title");
  const bool onePage = TextAt(data, "/videos") == "1";
  const long long episode = onePage ? 1 : std::max(1LL, IntegerAt(record, "/分集序号"));
  info.episode = std::to_string(episode);
  const Json page = PageOf(data, info.cid, episode);
  if (info.cid.empty()) info.cid = TextAt(page, "/cid");
  info.title = onePage ? info.showTitle : TextAt(record, "/视频part");
  if (info.title.empty()) info.title = TextAt(page, "/part");
  info.plot = LineBreaksAsCrLf(TextAt(data, "/desc"));
  info.aired = ChinaDateTimeText(IntegerAt(data, "/pubdate")).substr(0, 10);
  const long long seconds = IntegerAt(page, "/duration");
  info.runtimeMinutes = seconds > 0 ? (seconds + kSecondsPerMinute - 1) / kSecondsPerMinute : 0;
  info.firstFrame = TextAt(page, "/first_frame");
  info.cover = TextAt(data, "/pic");
  if (record.contains(std::string(record::kLicensed))) ReadLicensedEpisode(record, info);
  return info;
}

std::string BuildEpisodeNfo(const EpisodeInfo& info) {
  std::string nfo = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes" ?>)";
  nfo += "\r\n<episodedetails>\r\n";
  AppendElement(nfo, "title", info.title);
  AppendElement(nfo, "showtitle", info.showTitle);
  AppendElement(nfo, "season", info.season);
  AppendElement(nfo, "episode", info.episode);
  AppendElement(nfo, "plot", info.plot);
  AppendElement(nfo, "aired", info.aired);
  if (info.runtimeMinutes > 0) AppendElement(nfo, "runtime", std::to_string(info.runtimeMinutes));
  if (!info.epId.empty()) {
    nfo += "  <uniqueid type=\"bilibili_ep\" default=\"true\">" + XmlElementText(info.epId) +
           "</uniqueid>\r\n";
  }
  if (info.epId.empty() || !info.bvid.empty()) {
    nfo += "  <uniqueid type=\"bilibili\"" +
           std::string(info.epId.empty() ? " default=\"true\"" : "") + ">" +
           XmlElementText(info.bvid) + "</uniqueid>\r\n";
  }
  if (!info.cid.empty()) {
    nfo += "  <uniqueid type=\"bilibili_cid\">" + XmlElementText(info.cid) + "</uniqueid>\r\n";
  }
  if (!info.firstFrame.empty()) AppendElement(nfo, "thumb", info.firstFrame);
  nfo += "</episodedetails>";
  return nfo;
}

SubtitleSource SubtitleSource::Site() {
  SubtitleSource source;
  source.list = [](const SubtitleRequest& request) {
    return FetchSubtitleTracks(request, WbiKeyCache::Shared());
  };
  source.body = [](std::string_view url) { return PlainGet(url); };
  return source;
}

std::vector<fs::path> WriteEpisodeFiles(std::string_view recordText, const fs::path& base,
                                        const EpisodeOptions& options,
                                        const SubtitleSource& subtitles) {
  std::vector<fs::path> written;
  const EpisodeInfo info = ReadEpisodeInfo(recordText);
  const fs::path nfo = WithSuffix(base, ".nfo");
  if (!Exists(nfo)) Note(written, WriteFileIfMissing(nfo, BuildEpisodeNfo(info)), nfo);
  const fs::path thumb = WithSuffix(base, kThumbSuffix);
  if (!info.firstFrame.empty()) Note(written, FetchPictureIfMissing(info.firstFrame, thumb), thumb);
  const fs::path folder = base.parent_path();
  Note(written, WritePosterIfMissing(folder, info.cover), folder / kPosterFileName);
  WriteSubtitles(info, base, options, subtitles, written);
  return written;
}

}  // namespace korvid
