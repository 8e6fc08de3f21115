#include "cli/terminal_text.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace korvid::cli {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr char32_t kDelete = 0x7F;
constexpr char32_t kLastC1 = 0x9F;

// Length of the UTF-8 sequence at the start of text and its code point; 0
// when the bytes there are not one (bad lead, cut short, overlong, surrogate).
std::size_t DecodeOne(std::string_view text, char32_t& point) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  if (lead < 0x80) {
    point = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    point = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    point = lead & 0x07u;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0u) != 0x80u) return 0;
    point = (point << 6) | (byte(i) & 0x3Fu);
  }
  constexpr std::array<char32_t, 5> kSmallest{0, 0, 0x80, 0x800, 0x10000};
  const bool surrogate = point >= 0xD800 && point <= 0xDFFF;
  if (point < kSmallest[length] || point > 0x10FFFF || surrogate) return 0;
  return length;
}

bool IsControl(char32_t point, bool keepLayout) {
  if (keepLayout && (point == '\n' || point == '\t')) return false;
  return point < 0x20 || (point >= kDelete && point <= kLastC1);
}

std::string Cleaned(std::string_view text, bool keepLayout) {
  std::string shown;
  shown.reserve(text.size());
  while (!text.empty()) {
    char32_t point = 0;
    const std::size_t length = DecodeOne(text, point);
    if (length == 0) {
      std::array<char, 5> escaped{};
      std::snprintf(escaped.data(), escaped.size(), "\\x%02X",
                    static_cast<unsigned>(static_cast<unsigned char>(text[0])));
      shown += escaped.data();
      text.remove_prefix(1);
      continue;
    }
    if (IsControl(point, keepLayout)) {
      shown += kReplacement;
    } else {
      shown += text.substr(0, length);
    }
    text.remove_prefix(length);
  }
  return shown;
}

}  // namespace

std::string TerminalText(std::string_view text) {
  return Cleaned(text, true);
}

std::string TerminalLine(std::string_view text) {
  return Cleaned(text, false);
}

}  // namespace korvid::cli
