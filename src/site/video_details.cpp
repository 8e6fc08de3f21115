#include "site/video_details.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "controls/control_names.h"
#include "net/http_client.h"
#include "site/clean_name.h"

namespace korvid {

namespace {

constexpr std::int64_t kUtc8Offset = 8 * 3600;
// Years 1 to 9999, so the calendar arithmetic stays in range.
constexpr std::int64_t kEarliestTime = -62135596800;
constexpr std::int64_t kLatestTime = 253402300799 - kUtc8Offset;

constexpr std::array<std::string_view, 6> kStatPaths{
    "data.stat.like",  "data.stat.coin",  "data.stat.favorite",
    "data.stat.share", "data.stat.reply", "data.stat.danmaku",
};

constexpr std::array kPanelFields{
    PanelField{kTitleBox, "标题"},        PanelField{kCategoryBox, "分区"},
    PanelField{kPageCountBox, "分P数"},   PanelField{kAidBox, "AID"},
    PanelField{kCidBox, "CID"},           PanelField{kUploaderNameBox, "UP主"},
    PanelField{kUploaderIdBox, "UP主ID"}, PanelField{kPublishedBox, "发布时间"},
    PanelField{kDurationBox, "时长"},     PanelField{kDescriptionBox, "简介"},
    PanelField{kLikesLabel, "点赞"},      PanelField{kCoinsLabel, "投币"},
    PanelField{kFavouritesLabel, "收藏"}, PanelField{kSharesLabel, "分享"},
    PanelField{kRepliesLabel, "评论"},    PanelField{kDanmakuCountLabel, "弹幕"},
};

std::int64_t WholeNumber(const JsonDocument& video, std::string_view path) {
  const double number = video.GetNumber(path);
  if (!std::isfinite(number)) return 0;
  return static_cast<std::int64_t>(std::clamp(number, -9.0e15, 9.0e15));
}

PanelPerson PersonAt(const JsonDocument& video, const std::string& path) {
  return {video.GetValue(path + ".name"), video.GetValue(path + ".mid"),
          video.GetValue(path + ".face")};
}

// The uploader, then staff entries 1 .. n-1 when there are at least two
// (entry 0 is the uploader again).
std::vector<PanelPerson> PeopleOf(const JsonDocument& video) {
  std::vector<PanelPerson> people{PersonAt(video, "data.owner")};
  const int staff = video.GetCount("data.staff");
  for (int i = 1; staff > 1 && i < staff; ++i) {
    people.push_back(PersonAt(video, "data.staff[" + std::to_string(i) + "]"));
  }
  return people;
}

std::string JoinPeople(const std::vector<PanelPerson>& people, std::string PanelPerson::*field) {
  std::string text;
  for (std::size_t i = 0; i < people.size(); ++i) {
    if (i > 0) text += "/";
    text += people[i].*field;
  }
  return text;
}

bool WriteWholeFile(const std::filesystem::path& path, const std::string& bytes) {
  // Written beside the target and renamed, so a broken write never leaves a
  // partial avatar that would then count as existing.
  std::filesystem::path temporary = path;
  temporary += ".part";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file.flush()) {
      file.close();
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) std::filesystem::remove(temporary, error);
  return !error;
}

}  // namespace

VideoDetails ReadVideoDetails(const JsonDocument& video) {
  VideoDetails details;
  details.bvid = video.GetValue("data.bvid");
  details.title = video.GetValue("data.title");
  details.category = video.GetValue("data.tname");
  details.videoCount = video.GetValue("data.videos");
  details.aid = video.GetValue("data.aid");
  details.cid = video.GetValue("data.pages[0].cid");
  details.people = PeopleOf(video);
  details.names = JoinPeople(details.people, &PanelPerson::name);
  details.mids = JoinPeople(details.people, &PanelPerson::mid);
  details.published = PublicationTimeText(WholeNumber(video, "data.pubdate"));
  details.duration = DurationText(WholeNumber(video, "data.pages[0].duration"));
  details.description = PanelLines(video.GetValue("data.desc"));
  for (std::size_t i = 0; i < kStatPaths.size(); ++i) {
    details.stats[i] = std::to_string(WholeNumber(video, kStatPaths[i]));
  }
  details.coverUrl = video.GetValue("data.pic");
  const int pages = video.GetCount("data.pages");
  for (int i = 0; i < pages; ++i) {
    details.pageTitles.push_back(video.GetValue("data.pages[" + std::to_string(i) + "].part"));
  }
  return details;
}

std::string PublicationTimeText(std::int64_t pubdate) {
  using namespace std::chrono;
  const sys_seconds at{seconds{std::clamp(pubdate, kEarliestTime, kLatestTime) + kUtc8Offset}};
  const sys_days day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss time{at - day};
  char text[48];
  std::snprintf(text, sizeof text, "%d-%02u-%02u %02ld:%02ld:%02ld", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                static_cast<long>(time.seconds().count()));
  return text;
}

std::string DurationText(std::int64_t seconds) {
  seconds = std::max<std::int64_t>(seconds, 0);
  // Hours are not folded into days: a 25-hour recording reads 25小时.
  const std::int64_t hours = seconds / 3600;
  const std::int64_t minutes = seconds % 3600 / 60;
  std::string text;
  if (hours > 0) text += std::to_string(hours) + "小时";
  if (hours > 0 || minutes > 0) text += std::to_string(minutes) + "分";
  return text + std::to_string(seconds % 60) + "秒";
}

std::string PanelLines(std::string_view text) {
  std::string lines;
  lines.reserve(text.size());
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') lines += '\r';
    lines += c;
  }
  return lines;
}

std::span<const PanelField> PanelFields() {
  return kPanelFields;
}

std::string FieldText(const VideoDetails& details, std::string_view control) {
  const std::pair<std::string_view, const std::string*> texts[] = {
      {kTitleBox, &details.title},
      {kCategoryBox, &details.category},
      {kPageCountBox, &details.videoCount},
      {kAidBox, &details.aid},
      {kCidBox, &details.cid},
      {kUploaderNameBox, &details.names},
      {kUploaderIdBox, &details.mids},
      {kPublishedBox, &details.published},
      {kDurationBox, &details.duration},
      {kDescriptionBox, &details.description},
      {kLikesLabel, &details.stats[0]},
      {kCoinsLabel, &details.stats[1]},
      {kFavouritesLabel, &details.stats[2]},
      {kSharesLabel, &details.stats[3]},
      {kRepliesLabel, &details.stats[4]},
      {kDanmakuCountLabel, &details.stats[5]},
  };
  for (const auto& [name, text] : texts) {
    if (name == control) return *text;
  }
  return {};
}

void ShowVideoDetails(Controls& controls, const VideoDetails& details) {
  controls.ClearItems(kPartDrop);
  for (const std::string& title : details.pageTitles) {
    controls.AddItem(kPartDrop, DropItem{title});
  }
  controls.SelectIndex(kPartDrop, 0);
  for (const PanelField& field : kPanelFields) {
    controls.SetText(field.control, FieldText(details, field.control));
  }
}

std::filesystem::path AvatarPath(const std::filesystem::path& folder, std::string_view name) {
  if (name.empty()) return {};
  return folder / (CleanName(name, false) + ".jpg");
}

int SaveMissingAvatars(const std::filesystem::path& folder, std::span<const PanelPerson> people) {
  int written = 0;
  for (const PanelPerson& person : people) {
    const std::filesystem::path path = AvatarPath(folder, person.name);
    std::error_code error;
    if (path.empty() || person.face.empty() || std::filesystem::exists(path, error) || error) {
      continue;
    }
    const std::string bytes = PlainGet(person.face);
    if (bytes.empty()) continue;
    std::filesystem::create_directories(folder, error);
    if (WriteWholeFile(path, bytes)) ++written;
  }
  return written;
}

}  // namespace korvid
