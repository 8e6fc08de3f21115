#include "app/text_utf8.h"

#include <cerrno>
#include <vector>

#include <iconv.h>

namespace korvid::utf8 {

namespace {

// Length of the sequence a lead byte starts, 0 for a byte that cannot lead.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0U) == 0x80U;
}

// The second byte of E0, ED, F0 and F4 sequences has a narrower range, which
// rules out overlong forms, surrogates and code points above U+10FFFF.
bool SecondByteInRange(unsigned char lead, unsigned char second) {
  switch (lead) {
    case 0xE0:
      return second >= 0xA0;
    case 0xED:
      return second <= 0x9F;
    case 0xF0:
      return second >= 0x90;
    case 0xF4:
      return second <= 0x8F;
    default:
      return true;
  }
}

}  // namespace

bool IsValid(std::string_view bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[pos]);
    const std::size_t length = SequenceLength(lead);
    if (length == 0 || pos + length > bytes.size()) return false;
    for (std::size_t i = 1; i < length; ++i) {
      if (!IsContinuation(static_cast<unsigned char>(bytes[pos + i]))) return false;
    }
    if (length > 1 && !SecondByteInRange(lead, static_cast<unsigned char>(bytes[pos + 1]))) {
      return false;
    }
    pos += length;
  }
  return true;
}

std::optional<std::string> FromGbk(std::string_view gbk) {
  iconv_t converter = iconv_open("UTF-8", "GBK");
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string input(gbk);
  std::vector<char> output(gbk.size() * 2 + 16);
  char* in = input.data();
  std::size_t inLeft = input.size();
  char* out = output.data();
  std::size_t outLeft = output.size();
  // A GBK character is 1 or 2 bytes and becomes at most 3 UTF-8 bytes, so the
  // output never runs out of room.
  const std::size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
  return std::string(output.data(), output.size() - outLeft);
}

std::size_t GbkWidth(std::string_view text) {
  std::size_t width = 0;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      width += 1;
    } else if (!IsContinuation(byte)) {
      width += 2;
    }
  }
  return width;
}

}  // namespace korvid::utf8
