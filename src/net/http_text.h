#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Text helpers of the request client: header lines, cookie texts, markers.
// All comparisons that ignore case do so for ASCII letters only, so UTF-8
// text passes through untouched.
namespace korvid {

// Stands for a double quote inside search markers and patterns.
inline constexpr std::string_view kQuoteMarker = "#引号";

[[nodiscard]] std::string Trim(std::string_view text);
[[nodiscard]] bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Position of needle in haystack at or after start; npos when absent.
[[nodiscard]] std::size_t FindIgnoreCase(std::string_view haystack, std::string_view needle,
                                         std::size_t start = 0);
[[nodiscard]] std::string ReplaceQuoteMarker(std::string_view text);

// The text between the first left marker found at or after start (0-based
// byte offset) and the next right marker after it; empty when either is
// missing. Both markers may use the quote marker.
[[nodiscard]] std::string TextBetween(std::string_view text, std::string_view left,
                                      std::string_view right, std::size_t start = 0,
                                      bool ignoreCase = false);

// Lines of a header text. Lines end in CR LF; a bare LF is accepted too, so
// that a stray line break can never smuggle a second header into a value.
[[nodiscard]] std::vector<std::string_view> SplitHeaderLines(std::string_view headers);

// Trimmed text before / after the first colon; both empty without a colon.
[[nodiscard]] std::string HeaderName(std::string_view line);
[[nodiscard]] std::string HeaderValue(std::string_view line);

// Value of the first line that begins with name and a colon (case-sensitive),
// leading blanks skipped; empty when no line matches.
[[nodiscard]] std::string HeaderLookup(std::string_view headers, std::string_view name);

// True when a line of the header text carries that header name (any case).
[[nodiscard]] bool HasHeaderName(std::string_view headers, std::string_view name);

// Drops lines without a colon and upper-cases the first letter of every
// '-'-separated piece of each name ("content-type: x" -> "Content-Type: x").
// Lines are joined with CR LF, without a trailing one.
[[nodiscard]] std::string NormaliseHeaderNames(std::string_view headers);

// True for a "Connection: keep-alive" line, which the client never sends
// itself because connections are kept alive anyway.
[[nodiscard]] bool IsKeepAliveLine(std::string_view line);

// Cookie text with every "Cookie:" (any case) removed, trimmed.
[[nodiscard]] std::string StripCookiePrefix(std::string_view cookies);

// A cookie text pasted over several lines as one line: the lines joined with
// "; ", blank lines and a ';' ending a line left out. A header value never
// holds a line break, so a multi-line cookie is sent whole this way.
[[nodiscard]] std::string FoldCookieLines(std::string_view cookies);

// The first name=value pair of every Set-Cookie line of a response header
// text, joined with "; ". Attributes (path, expiry, domain) are dropped.
[[nodiscard]] std::string ExtractSetCookies(std::string_view responseHeaders);

// Cookies of newCookies, then those of oldCookies whose names are not taken
// yet (by newCookies or by an earlier old pair); pairs ending in "=deleted"
// and exact duplicates left out.
[[nodiscard]] std::string MergeCookies(std::string_view oldCookies, std::string_view newCookies);

// The pieces with the separator between them.
[[nodiscard]] std::string Join(const std::vector<std::string>& pieces, std::string_view separator);

// RFC 4648 Base64 with padding.
[[nodiscard]] std::string Base64Encode(std::string_view bytes);

}  // namespace korvid
