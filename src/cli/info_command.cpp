// info: one video as the details panel shows it, and its stream list.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <iostream>

#include "app/app_state.h"
#include "cli/cli_command.h"
#include "controls/control_names.h"
#include "net/site_hosts.h"
#include "site/classify_link.h"
#include "site/details_loader.h"
#include "site/licensed_work.h"
#include "site/site_transport.h"
#include "site/video_details.h"

namespace korvid::cli {
namespace {

struct InfoArgs {
  std::string link;
  int page = 1;
};

bool ParsePage(const std::string& text, int& page) {
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, page);
  return error == std::errc() && at == end && page >= 1;
}

bool ParseInfoArgs(const Args& args, InfoArgs& info) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--page" && i + 1 < args.size()) {
      if (!ParsePage(args[++i], info.page)) return false;
    } else if (info.link.empty() && !arg.starts_with("--")) {
      info.link = arg;
    } else {
      return false;
    }
  }
  return !info.link.empty();
}

// One line per value: line breaks of the description are written as "\n"
// and backslashes doubled, so a text holding a backslash and an n stays apart.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\\') {
      line += "\\\\";
    } else {
      line += c;
    }
  }
  return line;
}

// The panel shows page 1's CID and duration; the page asked for has its own.
std::string FieldOfPage(const Controls& controls, const JsonDocument& video,
                        std::string_view control, int page) {
  const std::string path = "data.pages[" + std::to_string(page - 1) + "]";
  if (control == kCidBox) return video.GetValue(path + ".cid");
  if (control == kDurationBox) {
    const double seconds = video.GetNumber(path + ".duration");
    return DurationText(std::isfinite(seconds) && seconds > 0 && seconds < 1e15
                            ? static_cast<std::int64_t>(seconds)
                            : 0);
  }
  return controls.Text(control);
}

void PrintPanel(const Controls& controls, const JsonDocument& video, int page) {
  for (const PanelField& field : PanelFields()) {
    std::cout << field.caption << ": "
              << TerminalLine(OneLine(FieldOfPage(controls, video, field.control, page))) << "\n";
  }
  const auto parts = controls.Items(kPartDrop);
  const std::string part = parts[static_cast<std::size_t>(page - 1)].text;
  std::cout << "分P: " << page << "/" << parts.size() << " " << TerminalLine(OneLine(part)) << "\n"
            << "封面: " << TerminalLine(video.GetValue("data.pic")) << "\n"
            << "头像: " << TerminalLine(video.GetValue("data.owner.face")) << "\n";
  for (const DropItem& item : controls.Items(kSourceDrop)) {
    std::cout << TerminalLine(item.text) << "\t" << item.value << "\n";
  }
}

constexpr double kMillisecondsPerSecond = 1000;

// An episode of a licensed work: the episode, then its season.
int PrintEpisode(const std::string& epId) {
  NetTransport transport;
  const SeasonAnswer season = ReadSeason(transport, SeasonKey::kEpisodeId, epId);
  if (season.refusal) return Fail(*season.refusal);
  const JsonDocument& answer = season.answer;
  const auto episode = FindEpisode(answer, epId);
  if (!episode) return Fail(std::string(kSeasonFailed) + ": ep" + epId);
  const std::string at = episode->path + ".";
  const double milliseconds = answer.GetNumber(at + "duration");
  const bool known = std::isfinite(milliseconds) && milliseconds > 0 && milliseconds < 1e15;
  const std::vector<std::pair<std::string_view, std::string>> lines = {
      {"分集", EpisodeTitle(answer, *episode)},
      {"EP", answer.GetValue(at + "ep_id")},
      {"BV", answer.GetValue(at + "bvid")},
      {"AID", answer.GetValue(at + "aid")},
      {"CID", answer.GetValue(at + "cid")},
      {"时长",
       DurationText(known ? static_cast<std::int64_t>(milliseconds / kMillisecondsPerSecond) : 0)},
      {"会员", VipOnlyEpisode(answer.GetObject(episode->path)) ? "大会员专享" : "否"},
      {"番外", episode->extra ? "是" : "否"},
      {"番剧", answer.GetValue("result.title")},
      {"原名", answer.GetValue("result.origin_name")},
      {"季", "ss" + answer.GetValue("result.season_id")},
      {"正片集数", std::to_string(answer.GetCount("result.episodes"))},
      {"首播", answer.GetValue("result.publish.pub_time")},
      {"评分", answer.GetValue("result.rating.score")},
      {"简介", answer.GetValue("result.evaluate")},
  };
  for (const auto& [caption, value] : lines) {
    std::cout << caption << ": " << TerminalLine(OneLine(value)) << "\n";
  }
  return 0;
}

int Info(const Args& args) {
  InfoArgs info;
  if (!ParseInfoArgs(args, info)) return Fail("info needs a video link (see --help)");
  const ClassifiedLink link = ClassifyLinkText(info.link, CurrentSiteHosts());
  if (link.kind == LinkKind::kPgcEpisode) return PrintEpisode(link.id);
  Core core;
  AppState app(core.controls, core.paths);
  core.controls.SetText(kDetailsLinkBox, info.link);
  DetailsLoader loader(app);
  if (!loader.Load()) return Fail(kDetailsFailed);
  const auto pages = static_cast<int>(core.controls.Items(kPartDrop).size());
  if (info.page > pages) {
    return Fail("the video has " + std::to_string(pages) + " page(s), not " +
                std::to_string(info.page));
  }
  if (info.page > 1) {
    core.controls.SelectIndex(kPartDrop, info.page - 1);
    (void)loader.LoadPage(info.page - 1);
  }
  PrintPanel(core.controls, loader.CurrentVideo(), info.page);
  return 0;
}

}  // namespace

KORVID_CLI_COMMAND(
    "info",
    "info LINK [--page N]  one video as the details panel shows it (name: value\n"
    "                      lines), then its streams: label TAB value, as\n"
    "                      下拉框_默认下载源 lists them (for page N, default 1).\n"
    "                      A 番剧 episode link (…/bangumi/play/ep<id>): the episode\n"
    "                      and its season, as name: value lines",
    Info, 30);

}  // namespace korvid::cli
