#include "net/text_width.h"

namespace korvid {

namespace {

constexpr std::string_view kReplacementChar = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at text[offset], 0 when ill-formed
// (overlong forms, surrogates and code points above U+10FFFF included).
std::size_t WellFormedLength(std::string_view text, std::size_t offset) {
  const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byteAt(offset);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - offset < length) return 0;
  const unsigned char second = byteAt(offset + 1);
  if (second < low || second > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byteAt(offset + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

std::size_t GbkWidth(std::string_view utf8) {
  std::size_t width = 0;
  for (const char c : utf8) width += GbkByteWidth(static_cast<unsigned char>(c));
  return width;
}

bool IsValidUtf8(std::string_view text) {
  std::size_t offset = 0;
  while (offset < text.size()) {
    // Runs of ASCII are the common case; skip them without the table.
    if (static_cast<unsigned char>(text[offset]) < 0x80) {
      ++offset;
      continue;
    }
    const std::size_t length = WellFormedLength(text, offset);
    if (length == 0) return false;
    offset += length;
  }
  return true;
}

std::string RepairUtf8(std::string_view text) {
  std::string repaired;
  repaired.reserve(text.size());
  std::size_t offset = 0;
  while (offset < text.size()) {
    const std::size_t length = WellFormedLength(text, offset);
    if (length == 0) {
      repaired += kReplacementChar;
      ++offset;
    } else {
      repaired.append(text, offset, length);
      offset += length;
    }
  }
  return repaired;
}

std::size_t Utf8CharLength(std::string_view text, std::size_t offset) {
  if (offset >= text.size()) return 0;
  const std::size_t length = WellFormedLength(text, offset);
  return length == 0 ? 1 : length;
}

}  // namespace korvid
