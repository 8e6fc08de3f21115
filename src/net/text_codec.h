#pragma once

#include <optional>
#include <string>
#include <string_view>

// Charset conversion into the program's UTF-8 text.
namespace korvid {

// Strict: nullopt for an unknown charset or a byte sequence that is not valid
// in it. "gbk", "gb2312" and "cp936" are read as GB18030, their superset, so
// pages that declare gb2312 but use GBK characters still convert.
[[nodiscard]] std::optional<std::string> DecodeToUtf8(std::string_view bytes,
                                                      std::string_view charset);

// Like DecodeToUtf8, but an invalid sequence becomes U+FFFD and decoding goes
// on; nullopt only for an unknown charset.
[[nodiscard]] std::optional<std::string> DecodeToUtf8Lossy(std::string_view bytes,
                                                           std::string_view charset);

// Text files written by earlier GBK versions of the program.
[[nodiscard]] std::optional<std::string> GbkToUtf8(std::string_view bytes);

}  // namespace korvid
