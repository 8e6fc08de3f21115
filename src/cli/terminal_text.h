#pragma once
// Text from the site, an Emby server, a settings file or a file name, made
// safe to print: nothing in it can move the cursor, clear the screen or
// retitle the terminal.

#include <string>
#include <string_view>

namespace korvid::cli {

// Control characters (C0 but line feed and tab, DEL, C1) become U+FFFD;
// bytes that are not UTF-8 are written as \xNN. Everything else is kept.
[[nodiscard]] std::string TerminalText(std::string_view text);
// The same for a text shown within one line: line feeds, carriage returns
// and tabs become U+FFFD too.
[[nodiscard]] std::string TerminalLine(std::string_view text);

}  // namespace korvid::cli
