#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The site's request signature ("WBI") for its newer list calls: a mixin key
// made from two daily keys, and an MD5 over the sorted, encoded query.
namespace korvid {

// The two keys: file names, without extension, of the nav answer's
// data.wbi_img.img_url and sub_url.
struct WbiKeys {
  std::string imgKey;
  std::string subKey;
  bool operator==(const WbiKeys&) const = default;
};

using QueryParams = std::vector<std::pair<std::string, std::string>>;

// 32 characters picked from imgKey + subKey by the site's reorder table; empty
// when the two keys together are shorter than the 64 characters it reads.
[[nodiscard]] std::string WbiMixinKey(std::string_view imgKey, std::string_view subKey);
[[nodiscard]] std::string WbiMixinKey(const WbiKeys& keys);

// Percent-encoding as the signature expects it: every byte except A-Z a-z
// 0-9 - _ . ~ as %XX with upper-case hex, so a space is %20 (never '+').
[[nodiscard]] std::string WbiEncode(std::string_view text);

// The query with wts added and "&w_rid=" + the signature at the end: pairs
// sorted by key (equal keys keep their order), the characters !'()* removed
// from values, keys and values encoded with WbiEncode; w_rid is the lower-case
// hex MD5 of that query followed by the mixin key. Any wts or w_rid already
// among params is replaced. Empty when the MD5 cannot be computed.
[[nodiscard]] std::string SignQuery(QueryParams params, std::string_view mixinKey,
                                    std::int64_t wts);

// Lower-case hex MD5 of the bytes (OpenSSL EVP); empty on failure.
[[nodiscard]] std::string Md5Hex(std::string_view bytes);

// The pairs of a raw query text ("a=1&b=%20"), percent-escapes and '+'
// decoded; pairs without '=' get an empty value, empty pieces are skipped.
[[nodiscard]] QueryParams ParseQuery(std::string_view query);

// Keys from the body of the nav call. The site answers it without log-in too
// (code -101) and still names the keys, so the code is not looked at. None when
// either address is missing or the keys are too short for the mixin key.
[[nodiscard]] std::optional<WbiKeys> ParseWbiKeys(std::string_view navBody);

}  // namespace korvid
