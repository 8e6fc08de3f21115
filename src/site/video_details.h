#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "controls/controls.h"
#include "net/json_document.h"

// What the details panel shows of one video, read from the video information
// (the view API's shape: everything under `data`).
namespace korvid {

// The uploader or a staff member shown in the panel.
struct PanelPerson {
  std::string name;
  std::string mid;
  std::string face;  // avatar address
};

struct VideoDetails {
  std::string bvid;
  std::string title;
  std::string category;
  std::string videoCount;
  std::string aid;
  std::string cid;    // of page 1
  std::string names;  // uploader, then "/" + each staff member shown
  std::string mids;
  std::string published;
  std::string duration;  // of page 1
  std::string description;
  // like, coin, favorite, share, reply, danmaku
  std::array<std::string, 6> stats;
  std::string coverUrl;
  std::vector<std::string> pageTitles;
  std::vector<PanelPerson> people;  // uploader first
};

[[nodiscard]] VideoDetails ReadVideoDetails(const JsonDocument& video);

// "2021-1-1 08:00:00" style with two-digit month to second: the wall-clock
// time in UTC+8 (the site's own zone), whatever the machine's zone is.
[[nodiscard]] std::string PublicationTimeText(std::int64_t pubdate);
// "1小时2分5秒", "2分5秒", "5秒".
[[nodiscard]] std::string DurationText(std::int64_t seconds);
// Text for a multi-line edit box: line breaks become CR LF.
[[nodiscard]] std::string PanelLines(std::string_view text);

// A panel control, with the caption the panel shows beside it.
struct PanelField {
  std::string_view control;
  std::string_view caption;
};
// The text controls of the panel, in the panel's order.
[[nodiscard]] std::span<const PanelField> PanelFields();
// The detail's text for one of those controls.
[[nodiscard]] std::string FieldText(const VideoDetails& details, std::string_view control);

// Writes the text fields and the page list (page 1 selected); no network.
void ShowVideoDetails(Controls& controls, const VideoDetails& details);

// 头像/<name cleaned, digits kept>.jpg; empty for an empty name.
[[nodiscard]] std::filesystem::path AvatarPath(const std::filesystem::path& folder,
                                               std::string_view name);
// Fetches and writes the avatars that are not on disk yet. Existing files are
// never refreshed; a failed fetch writes nothing, so the next load tries again.
// Blocking; returns the number of files written.
int SaveMissingAvatars(const std::filesystem::path& folder, std::span<const PanelPerson> people);

}  // namespace korvid
