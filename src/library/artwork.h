#pragma once

#include <filesystem>
#include <string_view>

#include "app/file_helpers.h"

// Pictures beside a video (fanart.jpg) and, through the same fetch, any other
// picture the program keeps once (uploader and staff avatars).
namespace korvid {

inline constexpr std::string_view kFanArtFileName = "fanart.jpg";
// GETs of one picture before the last answer is kept whatever its size.
inline constexpr int kArtworkAttempts = 3;

// Fetches url into path unless a file is there already. A picture whose size
// differs from the size the server gives for a HEAD request is fetched again,
// up to kArtworkAttempts GETs in all; then the last answer is written anyway
// (some servers give no size). A failed GET is never written, so a later run
// tries again. Blocks: worker threads only.
[[nodiscard]] SideFileResult FetchPictureIfMissing(std::string_view url,
                                                   const std::filesystem::path& path);

// videoFolder/fanart.jpg from the record's cover address ("data.pic").
[[nodiscard]] SideFileResult WriteFanArtIfMissing(const std::filesystem::path& videoFolder,
                                                  std::string_view coverUrl);

}  // namespace korvid
