#include "net/http_text.h"

#include <algorithm>
#include <set>

namespace korvid {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Splits at every occurrence of separator; empty pieces are kept.
std::vector<std::string_view> Split(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> pieces;
  std::size_t from = 0;
  while (true) {
    const std::size_t at = text.find(separator, from);
    if (at == std::string_view::npos) {
      pieces.push_back(text.substr(from));
      return pieces;
    }
    pieces.push_back(text.substr(from, at - from));
    from = at + separator.size();
  }
}

std::vector<std::string> CookiePairs(std::string_view cookies) {
  std::string text = Trim(cookies);
  if (!text.empty() && text.back() == ';') text += ' ';
  std::vector<std::string> pairs;
  for (std::string_view piece : Split(text, "; ")) {
    std::string pair = Trim(piece);
    if (!pair.empty()) pairs.push_back(std::move(pair));
  }
  return pairs;
}

std::string CookieName(std::string_view pair) {
  return Trim(pair.substr(0, pair.find('=')));
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

std::string Trim(std::string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return std::string(text.substr(first, last - first));
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

std::size_t FindIgnoreCase(std::string_view haystack, std::string_view needle, std::size_t start) {
  if (start > haystack.size() || needle.size() > haystack.size() - start) {
    return std::string_view::npos;
  }
  for (std::size_t at = start; at + needle.size() <= haystack.size(); ++at) {
    if (EqualsIgnoreCase(haystack.substr(at, needle.size()), needle)) return at;
  }
  return std::string_view::npos;
}

std::string ReplaceQuoteMarker(std::string_view text) {
  std::string result;
  std::size_t from = 0;
  while (true) {
    const std::size_t at = text.find(kQuoteMarker, from);
    if (at == std::string_view::npos) break;
    result.append(text.substr(from, at - from));
    result += '"';
    from = at + kQuoteMarker.size();
  }
  result.append(text.substr(from));
  return result;
}

std::string TextBetween(std::string_view text, std::string_view left, std::string_view right,
                        std::size_t start, bool ignoreCase) {
  const std::string leftMarker = ReplaceQuoteMarker(left);
  const std::string rightMarker = ReplaceQuoteMarker(right);
  auto find = [&](std::string_view needle, std::size_t from) {
    if (ignoreCase) return FindIgnoreCase(text, needle, from);
    return from > text.size() ? std::string_view::npos : text.find(needle, from);
  };
  const std::size_t leftAt = find(leftMarker, start);
  if (leftAt == std::string_view::npos) return {};
  const std::size_t inner = leftAt + leftMarker.size();
  const std::size_t rightAt = find(rightMarker, inner);
  if (rightAt == std::string_view::npos) return {};
  return std::string(text.substr(inner, rightAt - inner));
}

std::vector<std::string_view> SplitHeaderLines(std::string_view headers) {
  std::vector<std::string_view> lines = Split(headers, "\n");
  for (std::string_view& line : lines) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  }
  return lines;
}

std::string HeaderName(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return {};
  return Trim(line.substr(0, colon));
}

std::string HeaderValue(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return {};
  return Trim(line.substr(colon + 1));
}

std::string HeaderLookup(std::string_view headers, std::string_view name) {
  for (std::string_view line : SplitHeaderLines(headers)) {
    if (line.size() > name.size() && line.substr(0, name.size()) == name &&
        line[name.size()] == ':') {
      return Trim(line.substr(name.size() + 1));
    }
  }
  return {};
}

bool HasHeaderName(std::string_view headers, std::string_view name) {
  for (std::string_view line : SplitHeaderLines(headers)) {
    if (line.find(':') != std::string_view::npos && EqualsIgnoreCase(HeaderName(line), name)) {
      return true;
    }
  }
  return false;
}

std::string NormaliseHeaderNames(std::string_view headers) {
  std::string result;
  for (std::string_view line : SplitHeaderLines(headers)) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string normalised(line);
    bool pieceStart = true;
    for (std::size_t i = 0; i < colon; ++i) {
      if (pieceStart) normalised[i] = UpperAscii(normalised[i]);
      pieceStart = normalised[i] == '-';
    }
    if (!result.empty()) result += "\r\n";
    result += normalised;
  }
  return result;
}

bool IsKeepAliveLine(std::string_view line) {
  return HeaderName(line) == "Connection" && HeaderValue(line) == "keep-alive";
}

std::string StripCookiePrefix(std::string_view cookies) {
  constexpr std::string_view kPrefix = "Cookie:";
  std::string result;
  std::size_t from = 0;
  while (true) {
    const std::size_t at = FindIgnoreCase(cookies, kPrefix, from);
    if (at == std::string_view::npos) break;
    result.append(cookies.substr(from, at - from));
    from = at + kPrefix.size();
  }
  result.append(cookies.substr(from));
  return Trim(result);
}

std::string ExtractSetCookies(std::string_view responseHeaders) {
  std::vector<std::string> cookies;
  for (std::string_view line : SplitHeaderLines(responseHeaders)) {
    // Header names are case-insensitive on the wire; a server that writes
    // "set-cookie" must not lose its log-in cookie.
    if (line.find(':') == std::string_view::npos ||
        !EqualsIgnoreCase(HeaderName(line), "Set-Cookie")) {
      continue;
    }
    const std::string value = HeaderValue(line);
    std::string cookie = Trim(std::string_view(value).substr(0, value.find(';')));
    if (!cookie.empty()) cookies.push_back(std::move(cookie));
  }
  return Join(cookies, "; ");
}

std::string FoldCookieLines(std::string_view cookies) {
  if (cookies.find_first_of("\r\n") == std::string_view::npos) return std::string(cookies);
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from <= cookies.size()) {
    const std::size_t end = std::min(cookies.find_first_of("\r\n", from), cookies.size());
    std::string line = Trim(cookies.substr(from, end - from));
    while (!line.empty() && line.back() == ';') line = Trim(line.substr(0, line.size() - 1));
    if (!line.empty()) lines.push_back(std::move(line));
    from = end + 1;
  }
  return Join(lines, "; ");
}

std::string MergeCookies(std::string_view oldCookies, std::string_view newCookies) {
  std::vector<std::string> merged = CookiePairs(newCookies);
  std::set<std::string> taken;
  for (const std::string& pair : merged) taken.insert(CookieName(pair));
  for (std::string& oldPair : CookiePairs(oldCookies)) {
    if (taken.insert(CookieName(oldPair)).second) merged.push_back(std::move(oldPair));
  }
  std::vector<std::string> kept;
  for (std::string& pair : merged) {
    if (EndsWith(pair, "=deleted")) continue;
    if (std::find(kept.begin(), kept.end(), pair) != kept.end()) continue;
    kept.push_back(std::move(pair));
  }
  return Join(kept, "; ");
}

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  encoded.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned triple = (static_cast<unsigned char>(bytes[i]) << 16) |
                            (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                            static_cast<unsigned char>(bytes[i + 2]);
    encoded += kAlphabet[(triple >> 18) & 63];
    encoded += kAlphabet[(triple >> 12) & 63];
    encoded += kAlphabet[(triple >> 6) & 63];
    encoded += kAlphabet[triple & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned triple = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) triple |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    encoded += kAlphabet[(triple >> 18) & 63];
    encoded += kAlphabet[(triple >> 12) & 63];
    encoded += rest == 2 ? kAlphabet[(triple >> 6) & 63] : '=';
    encoded += '=';
  }
  return encoded;
}

std::string Join(const std::vector<std::string>& pieces, std::string_view separator) {
  std::string joined;
  for (const std::string& piece : pieces) {
    if (!joined.empty()) joined += separator;
    joined += piece;
  }
  return joined;
}

}  // namespace korvid
