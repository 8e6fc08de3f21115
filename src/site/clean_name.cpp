#include "site/clean_name.h"

#include <algorithm>
#include <array>

namespace korvid {

namespace {

constexpr std::string_view kFallbackName = "_";
constexpr int kMaxTrailingSpaces = 100;

constexpr std::array<std::string_view, 15> kRemoved{
    "\\", "/", ":", "*", "?", "\"", "<", ">", "|", "-", ".", "(", ")", "）", "（",
};

constexpr std::array<std::string_view, 10> kNumerals{"零", "一", "二", "三", "四",
                                                     "五", "六", "七", "八", "九"};

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0U) == 0x80U;
}

// Length of the UTF-8 sequence that starts with this byte (1 for stray bytes).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0U) return 4;
  if (lead >= 0xE0U) return 3;
  if (lead >= 0xC0U) return 2;
  return 1;
}

bool IsControl(std::string_view character) {
  const auto first = static_cast<unsigned char>(character[0]);
  if (first < 0x20U || first == 0x7FU) return true;
  // C1 controls U+0080..U+009F are C2 80..C2 9F.
  return character.size() == 2 && first == 0xC2U &&
         static_cast<unsigned char>(character[1]) < 0xA0U;
}

bool IsRemoved(std::string_view character) {
  for (std::string_view removed : kRemoved) {
    if (character == removed) return true;
  }
  return IsControl(character);
}

std::string Filtered(std::string_view text, bool numerals) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = SequenceLength(static_cast<unsigned char>(text[at]));
    length = std::min(length, text.size() - at);
    const std::string_view character = text.substr(at, length);
    at += length;
    if (IsRemoved(character)) continue;
    if (numerals && character.size() == 1 && character[0] >= '0' && character[0] <= '9') {
      out += kNumerals[static_cast<std::size_t>(character[0] - '0')];
    } else {
      out += character;
    }
  }
  return out;
}

void DropTrailingSpaces(std::string& text, int limit) {
  for (int i = 0; i < limit && !text.empty() && text.back() == ' '; ++i) text.pop_back();
}

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(' ') == std::string_view::npos;
}

void CutToBytes(std::string& text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return;
  std::size_t end = maxBytes;
  while (end > 0 && IsContinuation(static_cast<unsigned char>(text[end]))) --end;
  text.resize(end);
  DropTrailingSpaces(text, static_cast<int>(maxBytes));
}

}  // namespace

std::string CleanName(std::string_view text, bool numerals, std::string_view fallback,
                      std::size_t maxBytes) {
  std::string name = Filtered(text, numerals);
  DropTrailingSpaces(name, kMaxTrailingSpaces);
  if (IsBlank(name)) {
    name = fallback.empty() ? std::string() : Filtered(fallback, false);
    DropTrailingSpaces(name, static_cast<int>(name.size()));
    if (IsBlank(name)) name = kFallbackName;
  }
  CutToBytes(name, maxBytes);
  return name.empty() ? std::string(kFallbackName) : name;
}

}  // namespace korvid
