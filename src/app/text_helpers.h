#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Small text cuts shared by the task list, the site readers and the download.
namespace korvid {

// Removes one leading and one trailing double quote where present.
[[nodiscard]] std::string Unquote(std::string_view text);
// Character-wise (UTF-8 code points, not bytes) cuts.
[[nodiscard]] std::string DropLeadingChars(std::string_view text, std::size_t count);
[[nodiscard]] std::string DropTrailingChars(std::string_view text, std::size_t count);

}  // namespace korvid
