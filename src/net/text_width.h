#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvid {

// Widths and offsets are counted as the GBK code page would: an ASCII character
// takes one byte, every other character two. Each byte that is not a UTF-8
// continuation byte starts a character, so for valid UTF-8 this is exact and
// for broken input it stays well defined.
[[nodiscard]] std::size_t GbkWidth(std::string_view utf8);

// Width of one byte under the rule above (0 for continuation bytes).
[[nodiscard]] inline int GbkByteWidth(unsigned char byte) {
  if (byte < 0x80) return 1;
  return (byte & 0xC0) == 0x80 ? 0 : 2;
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
[[nodiscard]] bool IsValidUtf8(std::string_view text);

// The text with every ill-formed UTF-8 sequence replaced by U+FFFD.
[[nodiscard]] std::string RepairUtf8(std::string_view text);

// Length in bytes of the UTF-8 character starting at text[offset] (1 for an
// ill-formed byte), never running past the end.
[[nodiscard]] std::size_t Utf8CharLength(std::string_view text, std::size_t offset);

}  // namespace korvid
