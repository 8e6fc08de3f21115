#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvid {

// The longest name one path component may have, in UTF-8 bytes.
inline constexpr std::size_t kMaxNameBytes = 255;

// Turns a title or name from the site into a file name: removes
// \ / : * ? " < > | - . ( ) （ ） and control characters, with numerals
// 1..9, 0 becomes 一..九, 零, and trailing spaces go. A result that would be
// blank becomes the cleaned fallback (the video's BV identifier), or "_"; a
// result longer than maxBytes is cut at a character boundary. So no name is
// empty, climbs out of its folder or starts with '-' or '.'.
[[nodiscard]] std::string CleanName(std::string_view text, bool numerals,
                                    std::string_view fallback = {},
                                    std::size_t maxBytes = kMaxNameBytes);

}  // namespace korvid
