#include "app/text_helpers.h"

namespace korvid {

namespace {

bool IsContinuationByte(unsigned char byte) {
  return (byte & 0xC0U) == 0x80U;
}

// Byte offset just after the first `count` UTF-8 characters (or the size).
std::size_t OffsetAfterChars(std::string_view text, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t seen = 0; seen < count && pos < text.size(); ++seen) {
    ++pos;
    while (pos < text.size() && IsContinuationByte(static_cast<unsigned char>(text[pos]))) ++pos;
  }
  return pos;
}

// Byte offset where the last `count` UTF-8 characters begin (or 0).
std::size_t OffsetBeforeLastChars(std::string_view text, std::size_t count) {
  std::size_t pos = text.size();
  for (std::size_t seen = 0; seen < count && pos > 0; ++seen) {
    --pos;
    while (pos > 0 && IsContinuationByte(static_cast<unsigned char>(text[pos]))) --pos;
  }
  return pos;
}

}  // namespace

std::string Unquote(std::string_view text) {
  if (!text.empty() && text.front() == '"') text.remove_prefix(1);
  if (!text.empty() && text.back() == '"') text.remove_suffix(1);
  return std::string(text);
}

std::string DropLeadingChars(std::string_view text, std::size_t count) {
  return std::string(text.substr(OffsetAfterChars(text, count)));
}

std::string DropTrailingChars(std::string_view text, std::size_t count) {
  return std::string(text.substr(0, OffsetBeforeLastChars(text, count)));
}

}  // namespace korvid
