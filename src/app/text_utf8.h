#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korvid::utf8 {

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
[[nodiscard]] bool IsValid(std::string_view bytes);

// GBK bytes to UTF-8; nothing when they are not valid GBK.
[[nodiscard]] std::optional<std::string> FromGbk(std::string_view gbk);

// The byte length the text would have in GBK, which some layout rules count:
// ASCII characters 1, every other character 2.
[[nodiscard]] std::size_t GbkWidth(std::string_view text);

}  // namespace korvid::utf8
