#include "site/wbi_signer.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>

#include "net/json_document.h"

namespace korvid {

namespace {

// Character i of the mixin key is character kMixinOrder[i] of imgKey + subKey.
constexpr std::array<int, 64> kMixinOrder = {
    46, 47, 18, 2,  53, 8,  23, 32, 15, 50, 10, 31, 58, 3,  45, 35, 27, 43, 5,  49, 33, 9,
    42, 19, 29, 28, 14, 39, 12, 38, 41, 13, 37, 48, 7,  16, 24, 55, 40, 61, 26, 17, 0,  1,
    60, 51, 30, 4,  22, 25, 54, 21, 56, 59, 6,  63, 57, 62, 11, 36, 20, 34, 44, 52};
constexpr std::size_t kMixinKeyLength = 32;
constexpr std::string_view kRemovedFromValues = "!'()*";
constexpr std::string_view kHexUpper = "0123456789ABCDEF";
constexpr std::string_view kHexLower = "0123456789abcdef";

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '~';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::string WithoutRemovedCharacters(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (kRemovedFromValues.find(c) == std::string_view::npos) out += c;
  }
  return out;
}

// The last path piece of an address, without query and extension.
std::string FileStem(std::string_view url) {
  url = url.substr(0, url.find_first_of("?#"));
  const std::size_t slash = url.rfind('/');
  std::string_view name = slash == std::string_view::npos ? url : url.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

bool IsKeyText(std::string_view key) {
  return !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
    return IsUnreserved(static_cast<unsigned char>(c));
  });
}

}  // namespace

std::string WbiMixinKey(std::string_view imgKey, std::string_view subKey) {
  const std::string both = std::string(imgKey) + std::string(subKey);
  if (both.size() < kMixinOrder.size()) return {};
  std::string mixin;
  mixin.reserve(kMixinKeyLength);
  for (std::size_t i = 0; i < kMixinKeyLength; ++i) mixin += both[kMixinOrder[i]];
  return mixin;
}

std::string WbiMixinKey(const WbiKeys& keys) {
  return WbiMixinKey(keys.imgKey, keys.subKey);
}

std::string WbiEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsUnreserved(byte)) {
      out += c;
    } else {
      out += '%';
      out += kHexUpper[byte >> 4];
      out += kHexUpper[byte & 0x0F];
    }
  }
  return out;
}

std::string Md5Hex(std::string_view bytes) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_md5(), nullptr) != 1) {
    return {};
  }
  std::string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHexLower[digest[i] >> 4];
    hex += kHexLower[digest[i] & 0x0F];
  }
  return hex;
}

std::string SignQuery(QueryParams params, std::string_view mixinKey, std::int64_t wts) {
  std::erase_if(params,
                [](const auto& pair) { return pair.first == "wts" || pair.first == "w_rid"; });
  params.emplace_back("wts", std::to_string(wts));
  std::stable_sort(params.begin(), params.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string query;
  for (const auto& [key, value] : params) {
    if (!query.empty()) query += '&';
    query += WbiEncode(key) + '=' + WbiEncode(WithoutRemovedCharacters(value));
  }
  const std::string signature = Md5Hex(query + std::string(mixinKey));
  if (signature.empty()) return {};
  return query + "&w_rid=" + signature;
}

QueryParams ParseQuery(std::string_view query) {
  QueryParams params;
  while (!query.empty()) {
    const std::size_t end = query.find('&');
    const std::string_view piece = query.substr(0, end);
    if (!piece.empty()) {
      const std::size_t eq = piece.find('=');
      params.emplace_back(
          PercentDecode(piece.substr(0, eq)),
          eq == std::string_view::npos ? std::string() : PercentDecode(piece.substr(eq + 1)));
    }
    if (end == std::string_view::npos) break;
    query.remove_prefix(end + 1);
  }
  return params;
}

std::optional<WbiKeys> ParseWbiKeys(std::string_view navBody) {
  JsonDocument answer;
  if (!answer.Parse(navBody)) return std::nullopt;
  WbiKeys keys{FileStem(answer.GetValue("data.wbi_img.img_url")),
               FileStem(answer.GetValue("data.wbi_img.sub_url"))};
  if (!IsKeyText(keys.imgKey) || !IsKeyText(keys.subKey) || WbiMixinKey(keys).empty()) {
    return std::nullopt;
  }
  return keys;
}

}  // namespace korvid
