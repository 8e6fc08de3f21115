#include "danmaku/danmaku_to_ass.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <utility>
#include <vector>

#include "controls/control_names.h"
#include "net/site_hosts.h"
#include "net/text_width.h"

namespace korvid {

namespace {

using Int = std::int64_t;

// The layout works on a 560 x 420 picture. Scrolling rows wrap within the
// play height; the bottom rows count up from 450.
constexpr Int kLayoutWidth = 560;
constexpr Int kPlayHeight = 420;
constexpr Int kCentreX = 280;
constexpr Int kBottomBase = 450;
constexpr Int kScrollSeconds = 16;
constexpr Int kFixedSeconds = 4;
constexpr std::size_t kScrollMaxWidth = 30;
constexpr std::size_t kLongScrollWidth = 20;
constexpr Int kTopRows = 5;
constexpr Int kBottomRows = 3;

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kSizePlaceholder = "大小参数";

enum class Mode : unsigned char { kScroll, kBottom, kTop, kOther };

struct Element {
  std::string_view time;
  std::string_view mode;
  std::string_view colour;
  std::string_view text;
};

[[nodiscard]] char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Line breaks as the comment pattern's '.' refuses them: LF, CR, U+2028, U+2029.
[[nodiscard]] std::size_t LineBreakLength(std::string_view doc, std::size_t at) {
  const char c = doc[at];
  if (c == '\n' || c == '\r') return 1;
  if (c == '\xE2' && at + 2 < doc.size() && doc[at + 1] == '\x80' &&
      (doc[at + 2] == '\xA8' || doc[at + 2] == '\xA9')) {
    return 3;
  }
  return 0;
}

// Reads `<d p="...">text</d>` elements. Each element's fields come from its
// own p attribute (eight fields in older documents, nine today), and a match
// never reaches into the next element: an element whose text is empty,
// unclosed or broken by a line end is passed over.
class ElementScanner {
 public:
  explicit ElementScanner(std::string_view doc) : m_doc(doc) {}

  [[nodiscard]] bool Next(Element& element) {
    while (m_pos < m_doc.size()) {
      const void* found = std::memchr(m_doc.data() + m_pos, '<', m_doc.size() - m_pos);
      if (found == nullptr) break;
      const auto start = static_cast<std::size_t>(static_cast<const char*>(found) - m_doc.data());
      m_pos = start + 1;
      if (IsStartTag(start) && Read(start, element)) return true;
    }
    m_pos = m_doc.size();
    return false;
  }

 private:
  static constexpr std::size_t kStartTagLength = 6;  // <d p="
  static constexpr std::size_t kEndTagLength = 4;    // </d>
  static constexpr int kMinFields = 8;

  [[nodiscard]] bool IsStartTag(std::size_t at) const {
    return at + kStartTagLength <= m_doc.size() && Lower(m_doc[at + 1]) == 'd' &&
           m_doc[at + 2] == ' ' && Lower(m_doc[at + 3]) == 'p' && m_doc[at + 4] == '=' &&
           m_doc[at + 5] == '"';
  }
  [[nodiscard]] bool IsEndTag(std::size_t at) const {
    return at + kEndTagLength <= m_doc.size() && m_doc[at + 1] == '/' &&
           Lower(m_doc[at + 2]) == 'd' && m_doc[at + 3] == '>';
  }

  // The bytes a search along a line looks at: the one looked for, the one
  // it stops at, and the first byte of every line break. Everything else is
  // passed over with one table look-up.
  template <char C, char Stop>
  static constexpr std::array<bool, 256> kSearchStops = [] {
    std::array<bool, 256> stops{};
    for (const char c : {C, Stop, '\n', '\r', '\xE2'}) stops[static_cast<unsigned char>(c)] = true;
    return stops;
  }();

  // Sixteen bytes compared at once: most of a comment's text and attribute
  // holds no byte a search stops at.
  static constexpr std::size_t kBlockBytes = 16;
  using Block = char __attribute__((vector_size(kBlockBytes)));

  template <char C, char Stop>
  [[nodiscard]] static bool BlockHasStop(const char* at) {
    Block bytes;
    std::memcpy(&bytes, at, sizeof bytes);
    const Block hits =
        (bytes == C) | (bytes == Stop) | (bytes == '\n') | (bytes == '\r') | (bytes == '\xE2');
    std::uint64_t halves[2];
    std::memcpy(halves, &hits, sizeof halves);
    return (halves[0] | halves[1]) != 0;
  }

  // Position of C at or after from on the same line; npos when a line ends
  // (or Stop, when it differs from C, comes) first.
  template <char C, char Stop = C>
  [[nodiscard]] std::size_t FindOnLine(std::size_t from) const {
    const std::array<bool, 256>& stops = kSearchStops<C, Stop>;
    const char* const doc = m_doc.data();
    std::size_t at = from;
    while (at + kBlockBytes <= m_doc.size() && !BlockHasStop<C, Stop>(doc + at)) at += kBlockBytes;
    for (; at < m_doc.size(); ++at) {
      const char here = doc[at];
      if (!stops[static_cast<unsigned char>(here)]) continue;
      if (here == C) return at;
      if (here == Stop || LineBreakLength(m_doc, at) != 0) return std::string_view::npos;
    }
    return std::string_view::npos;
  }

  // On success m_pos moves past the element; on failure it stays just after
  // the '<', or moves to where an unclosed element's successor starts.
  [[nodiscard]] bool Read(std::size_t start, Element& element) {
    const std::size_t valueStart = start + kStartTagLength;
    const std::size_t valueEnd = FindOnLine<'"'>(valueStart);
    if (valueEnd == std::string_view::npos) return false;
    const std::size_t tagEnd = FindOnLine<'>', '<'>(valueEnd + 1);
    if (tagEnd == std::string_view::npos) return false;
    if (!SplitFields(m_doc.substr(valueStart, valueEnd - valueStart), element)) return false;
    const std::size_t textStart = tagEnd + 1;
    for (std::size_t at = textStart;;) {
      const std::size_t lt = FindOnLine<'<'>(at);
      if (lt == std::string_view::npos) return false;
      if (IsEndTag(lt)) {
        if (lt == textStart) return false;
        element.text = m_doc.substr(textStart, lt - textStart);
        m_pos = lt + kEndTagLength;
        return true;
      }
      if (IsStartTag(lt)) {
        m_pos = lt;
        return false;
      }
      at = lt + 1;
    }
  }

  [[nodiscard]] static bool SplitFields(std::string_view value, Element& element) {
    int field = 0;
    std::size_t fieldStart = 0;
    for (std::size_t at = 0; at <= value.size(); ++at) {
      if (at < value.size() && value[at] != ',') continue;
      const std::string_view piece = value.substr(fieldStart, at - fieldStart);
      if (field == 0) element.time = piece;
      if (field == 1) element.mode = piece;
      if (field == 3) element.colour = piece;
      ++field;
      fieldStart = at + 1;
    }
    return field >= kMinFields;
  }

  std::string_view m_doc;
  std::size_t m_pos = 0;
};

// The leading decimal integer, as atoi reads it (blanks, sign, digits); 0
// without digits; clamped instead of overflowing.
[[nodiscard]] Int IntegerValue(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  constexpr Int kLimit = std::numeric_limits<Int>::max() / 10 - 10;
  Int value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = std::min(value * 10 + (text[at] - '0'), kLimit);
  }
  return negative ? -value : value;
}

// Font sizes as the old 32-bit conversion held them, which also keeps the
// layout arithmetic far from overflowing.
[[nodiscard]] Int SizeValue(std::string_view text) {
  return std::clamp<Int>(IntegerValue(text), std::numeric_limits<std::int32_t>::min(),
                         std::numeric_limits<std::int32_t>::max());
}

// The appearance time as a single-precision number, the sort key.
[[nodiscard]] float TimeValue(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '+')) text.remove_prefix(1);
  float value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || !std::isfinite(value)) return 0;
  return value;
}

// Centiseconds: the first two digits written after the point, padded with
// zeros ("12.34500" 34, "12.9" 90, "94" 00).
[[nodiscard]] std::array<char, 2> Centiseconds(std::string_view time) {
  std::array<char, 2> digits = {'0', '0'};
  const std::size_t point = time.find('.');
  if (point == std::string_view::npos) return digits;
  for (std::size_t i = 0; i < 2 && point + 1 + i < time.size(); ++i) {
    const char c = time[point + 1 + i];
    if (c < '0' || c > '9') break;
    digits[i] = c;
  }
  return digits;
}

void AppendInt(std::string& out, Int value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, static_cast<std::size_t>(result.ptr - buffer));
}

void AppendTwoDigits(std::string& out, Int value) {
  out += static_cast<char>('0' + value / 10);
  out += static_cast<char>('0' + value % 10);
}

// H:MM:SS.CC with the whole hours, so times from ten hours on and past a day
// stay in order.
void AppendClock(std::string& out, Int seconds, std::array<char, 2> centiseconds) {
  seconds = std::max<Int>(seconds, 0);
  AppendInt(out, seconds / 3600);
  out += ':';
  AppendTwoDigits(out, seconds % 3600 / 60);
  out += ':';
  AppendTwoDigits(out, seconds % 60);
  out += '.';
  out.append(centiseconds.data(), centiseconds.size());
}

// An RGB number as BBGGRR, the byte order ASS colours use.
void AppendAssColour(std::string& out, std::uint32_t rgb) {
  constexpr char kHex[] = "0123456789ABCDEF";
  for (int shift = 0; shift <= 16; shift += 8) {
    const unsigned byte = (rgb >> shift) & 0xFFu;
    out += kHex[byte >> 4];
    out += kHex[byte & 0xFu];
  }
}

// The comment text as written into an event line: "." and "?" removed, and
// nothing a player would read as markup. Control characters become spaces
// (no line break, no NUL), and braces and backslashes their full-width forms,
// so no viewer's text opens an override block.
constexpr std::array<bool, 256> kTextSpecial = [] {
  std::array<bool, 256> special{};
  for (int c = 0; c < 0x20; ++c) special[static_cast<std::size_t>(c)] = true;
  for (const char c : {'\x7F', '.', '?', '{', '}', '\\'}) {
    special[static_cast<unsigned char>(c)] = true;
  }
  return special;
}();

[[nodiscard]] std::string_view TextReplacement(char c) {
  if (c == '.' || c == '?') return {};
  if (c == '{') return "\xEF\xBD\x9B";   // U+FF5B
  if (c == '}') return "\xEF\xBD\x9D";   // U+FF5D
  if (c == '\\') return "\xEF\xBC\xBC";  // U+FF3C
  return " ";
}

// Ordinary bytes are appended a run at a time.
void AppendCommentText(std::string& out, std::string_view text) {
  std::size_t runStart = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (!kTextSpecial[static_cast<unsigned char>(text[at])]) continue;
    out.append(text.data() + runStart, at - runStart);
    out += TextReplacement(text[at]);
    runStart = at + 1;
  }
  out.append(text.data() + runStart, text.size() - runStart);
}

// Code point of a numeric reference body ("#65", "#x41"); -1 when it is not
// one or names no Unicode scalar value.
[[nodiscard]] std::int32_t NumericReference(std::string_view body) {
  if (body.size() < 2 || body[0] != '#') return -1;
  const bool hex = body[1] == 'x';
  const std::string_view digits = body.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return -1;
  std::uint32_t value = 0;
  const auto result =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
  if (result.ec != std::errc() || result.ptr != digits.data() + digits.size()) return -1;
  if (value == 0 || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return -1;
  return static_cast<std::int32_t>(value);
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The replacement for the entity body between '&' and ';', if it is one.
[[nodiscard]] bool AppendEntity(std::string& out, std::string_view body) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
  for (const auto& [name, c] : kNamed) {
    if (body == name) {
      out += c;
      return true;
    }
  }
  const std::int32_t cp = NumericReference(body);
  if (cp < 0) return false;
  AppendUtf8(out, static_cast<std::uint32_t>(cp));
  return true;
}

[[nodiscard]] Mode ModeOf(std::string_view mode) {
  if (mode == "1") return Mode::kScroll;
  if (mode == "4") return Mode::kBottom;
  if (mode == "5") return Mode::kTop;
  return Mode::kOther;
}

[[nodiscard]] std::vector<std::string_view> SplitBlockList(std::string_view text) {
  std::vector<std::string_view> entries;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    entries.push_back(text.substr(0, comma));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return entries;
}

[[nodiscard]] std::string ReplaceAll(std::string_view text, std::string_view from,
                                     std::string_view to) {
  std::string out;
  for (std::size_t at = 0;;) {
    const std::size_t found = text.find(from, at);
    out.append(text.substr(at, found - at));
    if (found == std::string_view::npos) return out;
    out.append(to);
    at = found + from.size();
  }
}

// A comment that passed the filter, with what its event line needs.
struct Kept {
  std::string_view text;    // decoded: in the document, or an own copy
  Int start = 0;            // whole seconds
  std::uint32_t width = 0;  // GBK bytes of the text
  std::uint32_t colour = 0;
  std::array<char, 2> centiseconds{};
  Mode mode = Mode::kOther;
};

struct SortKey {
  float time;
  std::uint32_t index;
};

struct KeptComments {
  std::vector<Kept> comments;  // document order
  std::vector<SortKey> order;  // by time
  // Texts with their entities decoded, and texts with broken UTF-8 given
  // U+FFFD in place of the bad bytes so the subtitle file stays readable. A
  // deque keeps them in place as it grows.
  std::deque<std::string> ownTexts;
  int found = 0;
};

[[nodiscard]] bool Passes(std::string_view text, std::size_t width, Mode mode,
                          const std::vector<std::string_view>& blocked) {
  if (mode == Mode::kOther) return false;  // positioned and scripted comments
  if (mode == Mode::kScroll) {
    if (width > kScrollMaxWidth) return false;
    if (std::find(blocked.begin(), blocked.end(), text) != blocked.end()) return false;
  }
  return !ContainsOnlyOneCharacter(text);
}

// An unsigned number that orders as the time does: -0 and +0 alike, and no
// time is NaN or infinite (TimeValue).
[[nodiscard]] std::uint32_t OrderedBits(float time) {
  const auto bits = std::bit_cast<std::uint32_t>(time + 0.0F);
  return (bits & 0x80000000U) != 0 ? ~bits : bits | 0x80000000U;
}

// A stable sort by time in three counting passes of 11 bits: a merge sort's
// comparisons cost several times more on 100,000 comments.
void SortByTime(std::vector<SortKey>& keys) {
  constexpr int kDigitBits = 11;
  constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
  std::vector<SortKey> other(keys.size());
  std::vector<std::uint32_t> count(kBuckets);
  for (int shift = 0; shift < 32; shift += kDigitBits) {
    const auto digit = [shift](const SortKey& key) {
      return (OrderedBits(key.time) >> shift) & (kBuckets - 1);
    };
    std::fill(count.begin(), count.end(), 0);
    for (const SortKey& key : keys) ++count[digit(key)];
    std::uint32_t position = 0;
    for (std::uint32_t& bucket : count) position += std::exchange(bucket, position);
    for (const SortKey& key : keys) other[count[digit(key)]++] = key;
    keys.swap(other);
  }
}

// The shortest element: <d p="0,1,2,3,4,5,6,7">x</d>.
constexpr std::size_t kShortestElementBytes = 28;

void CollectComments(std::string_view document, const std::vector<std::string_view>& blocked,
                     KeptComments& kept) {
  // Room for as many comments as the document could hold: never grown and
  // copied, and what stays unused is never touched, so it costs no memory.
  const std::size_t most = document.size() / kShortestElementBytes;
  kept.comments.reserve(most);
  kept.order.reserve(most);
  ElementScanner scanner(document);
  Element element;
  while (scanner.Next(element)) {
    ++kept.found;
    const Mode mode = ModeOf(element.mode);
    std::string_view text = element.text;
    if (text.find('&') != std::string_view::npos) {
      text = kept.ownTexts.emplace_back(DecodeCommentText(text));
    }
    if (!IsValidUtf8(text)) text = kept.ownTexts.emplace_back(RepairUtf8(text));
    const std::size_t width = GbkWidth(text);
    if (!Passes(text, width, mode, blocked)) continue;
    kept.order.push_back(
        {TimeValue(element.time), static_cast<std::uint32_t>(kept.comments.size())});
    // The colour is read for top and bottom comments only: an RGB number,
    // whatever its sign or size.
    const auto colour =
        mode == Mode::kScroll ? 0 : static_cast<std::uint64_t>(IntegerValue(element.colour));
    kept.comments.push_back({text, IntegerValue(element.time), static_cast<std::uint32_t>(width),
                             static_cast<std::uint32_t>(colour), Centiseconds(element.time), mode});
  }
  SortByTime(kept.order);
}

// Rows before the scroll lane counter starts over: fewer when comments are
// sparse (comments per second of the last comment's time).
[[nodiscard]] Int ScrollRowLimit(Int found, Int lastSecond, Int rowHeight) {
  if (rowHeight == 0) return -1;  // no limit rather than a division by zero
  const Int density = lastSecond == 0 ? 0 : found / lastSecond;
  const double rows =
      static_cast<double>(kPlayHeight - 2 * rowHeight) / static_cast<double>(rowHeight);
  double limit = rows;
  if (density <= 0) {
    limit = rows / 4;
  } else if (density <= 2) {
    limit = rows / 2;
  } else if (density == 3) {
    limit = rows / 4 * 3;
  }
  if (!std::isfinite(limit) || std::fabs(limit) > 1e15) return -1;
  return static_cast<Int>(limit);
}

struct Layout {
  Int scrollHeight = 0;      // H
  Int fixedHeight = 0;       // G
  Int rowLimit = 0;          // R
  Int lane = 0;              // L
  Int top = kTopRows;        // T
  Int bottom = kBottomRows;  // B
};

void AppendEvent(std::string& out, const Kept& comment, Layout& layout) {
  ++layout.lane;
  const auto width = static_cast<Int>(comment.width);
  Int duration = kFixedSeconds;
  if (comment.mode == Mode::kScroll) {
    duration = width <= static_cast<Int>(kLongScrollWidth) ? kScrollSeconds : width * 8 / 10;
  }
  out += kCrLf;
  out += "Dialogue: 0,";
  AppendClock(out, comment.start, comment.centiseconds);
  out += ',';
  AppendClock(out, comment.start + duration, comment.centiseconds);
  if (comment.mode == Mode::kScroll) {
    const Int row =
        layout.scrollHeight * (layout.lane % 2 == 1 ? layout.lane + 1 : layout.lane - 1);
    out += ",R2L,,20,20,2,,{\\move(";
    AppendInt(out, kLayoutWidth + 10 * width);
    out += ',';
    AppendInt(out, row);
    out += ",-";
    AppendInt(out, 10 * width);
    out += ',';
    AppendInt(out, row);
    out += ")}";
  } else {
    Int y = 0;
    if (comment.mode == Mode::kTop) {
      y = layout.fixedHeight * (layout.top++ % kTopRows + 1);
    } else {
      y = kBottomBase - layout.fixedHeight * (layout.bottom++ % kBottomRows + 2);
    }
    out += ",Fix,,20,20,2,,{\\pos(";
    AppendInt(out, kCentreX);
    out += ',';
    AppendInt(out, y);
    out += ")\\c&H";
    AppendAssColour(out, comment.colour);
    out += '}';
  }
  AppendCommentText(out, comment.text);
  if (layout.lane == layout.rowLimit) layout.lane = 0;
}

void AppendHeader(std::string& out, std::string_view cid, std::string_view bvid,
                  const DanmakuSettings& settings) {
  const SiteHosts hosts = CurrentSiteHosts();
  const std::string fixStyle = ReplaceAll(ReplaceAll(settings.style, "Style: R2L,", "Style: Fix,"),
                                          kSizePlaceholder, settings.fixedSize);
  const std::string scrollStyle = ReplaceAll(settings.style, kSizePlaceholder, settings.scrollSize);
  const std::string lines[] = {
      "[Script Info]",
      "Title: " + hosts.web + "/video/," + hosts.comment + "/",
      "Original Script: [bid_" + std::string(bvid) + "],[cid_" + std::string(cid) + "]$",
      "ScriptType: v4.00+",
      "Collisions: Normal",
      "PlayResX: 560",
      "PlayResY: 420",
      "Timer: 10.0000",
      "",
      "[V4+ Styles]",
      // One long line, split for width.
      // NOLINTNEXTLINE(bugprone-suspicious-missing-comma)
      "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
      "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
      "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding",
      fixStyle,
      scrollStyle,
      "",
      "[Events]",
      "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text",
  };
  for (std::size_t i = 0; i < std::size(lines); ++i) {
    if (i > 0) out += kCrLf;
    out += lines[i];
  }
}

}  // namespace

DanmakuSettings ReadDanmakuSettings(const Controls& controls) {
  return {controls.Text(kScrollingSizeBox), controls.Text(kFixedSizeBox),
          controls.Text(kBlockListBox), controls.Text(kDanmakuStyleBox)};
}

std::string DecodeCommentText(std::string_view text) {
  // The longest entity body: "#x10FFFF" with room for leading zeros.
  constexpr std::size_t kLongestBody = 10;
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t amp = std::min(text.find('&', at), text.size());
    out.append(text, at, amp - at);
    if (amp == text.size()) break;
    const std::size_t semicolon = text.find(';', amp + 1);
    if (semicolon != std::string_view::npos && semicolon - amp - 1 <= kLongestBody &&
        AppendEntity(out, text.substr(amp + 1, semicolon - amp - 1))) {
      at = semicolon + 1;
    } else {
      out += '&';
      at = amp + 1;
    }
  }
  return out;
}

bool ContainsOnlyOneCharacter(std::string_view text) {
  const auto length = [&](std::size_t at) {
    if (text.compare(at, 2, kCrLf) == 0) return std::size_t{2};
    return Utf8CharLength(text, at);
  };
  if (text.empty()) return true;
  const std::string_view first = text.substr(0, length(0));
  for (std::size_t at = first.size(); at < text.size();) {
    const std::size_t size = length(at);
    if (text.substr(at, size) != first) return false;
    at += size;
  }
  return true;
}

namespace {

// Pieces of this size reach the sink of WriteDanmakuAss.
constexpr std::size_t kAssPieceBytes = 256 * 1024;

// Writes the subtitle into out. With a sink, out is handed over and emptied
// whenever it holds a piece, and at the end; without one it ends whole.
bool ConvertComments(std::string_view document, std::string_view cid, std::string_view bvid,
                     const DanmakuSettings& settings, std::string& out, const AssSink* sink,
                     DanmakuStats* stats) {
  KeptComments kept;
  CollectComments(document, SplitBlockList(settings.blockList), kept);

  Layout layout;
  layout.scrollHeight = SizeValue(settings.scrollSize) + 1;
  layout.fixedHeight = SizeValue(settings.fixedSize) + 1;
  if (!kept.order.empty()) {
    const Kept& last = kept.comments[kept.order.back().index];
    layout.rowLimit = ScrollRowLimit(kept.found, last.start, layout.scrollHeight);
  }

  std::size_t textBytes = 0;
  for (const Kept& comment : kept.comments) textBytes += comment.text.size();
  // Event lines carry about 75 bytes besides their text.
  const std::size_t whole =
      2048 + settings.style.size() * 2 + textBytes + kept.comments.size() * 80;
  out.reserve(sink != nullptr ? std::min(whole, kAssPieceBytes * 2) : whole);
  AppendHeader(out, cid, bvid, settings);
  // Time order jumps about the document; fetching the entries and their texts
  // a few lines ahead hides most of the memory latency.
  constexpr std::size_t kAhead = 8;
  const std::vector<SortKey>& order = kept.order;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (i + 2 * kAhead < order.size())
      __builtin_prefetch(&kept.comments[order[i + 2 * kAhead].index]);
    if (i + kAhead < order.size())
      __builtin_prefetch(kept.comments[order[i + kAhead].index].text.data());
    AppendEvent(out, kept.comments[order[i].index], layout);
    if (sink != nullptr && out.size() >= kAssPieceBytes) {
      if (!(*sink)(out)) return false;
      out.clear();
    }
  }
  if (stats != nullptr) *stats = {kept.found, static_cast<int>(kept.order.size())};
  return sink == nullptr || out.empty() || (*sink)(out);
}

}  // namespace

std::string DanmakuToAss(std::string_view document, std::string_view cid, std::string_view bvid,
                         const DanmakuSettings& settings, DanmakuStats* stats) {
  std::string out;
  (void)ConvertComments(document, cid, bvid, settings, out, nullptr, stats);
  return out;
}

bool WriteDanmakuAss(std::string_view document, std::string_view cid, std::string_view bvid,
                     const DanmakuSettings& settings, const AssSink& sink, DanmakuStats* stats) {
  std::string piece;
  return ConvertComments(document, cid, bvid, settings, piece, &sink, stats);
}

}  // namespace korvid
