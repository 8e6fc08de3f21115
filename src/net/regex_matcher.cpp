#include "net/regex_matcher.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <list>
#include <memory>
#include <mutex>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "net/text_width.h"

namespace korvid {

namespace {

constexpr std::string_view kQuoteMarker = "#引号";

// Limits for one search call. Hitting one fails the whole Execute: a search
// cut short must not read as one that found everything.
constexpr std::uint32_t kMatchLimit = 10'000'000;
constexpr std::uint32_t kDepthLimit = 250'000;
constexpr PCRE2_SIZE kHeapLimitKib = 64 * 1024;
constexpr PCRE2_SIZE kJitStackStart = 32 * 1024;
constexpr PCRE2_SIZE kJitStackMax = 4 * 1024 * 1024;
// An empty pattern over a 20 MB text would otherwise store 20 million matches.
constexpr std::size_t kMaxMatches = std::size_t{1} << 22;

constexpr std::uint32_t kUnset = std::numeric_limits<std::uint32_t>::max();
// Positions are ints counting up to two per byte.
static_assert(2 * RegexMatcher::kMaxSubjectBytes <= std::numeric_limits<int>::max());
constexpr std::size_t kCheckpointStride = 256;

// Script-engine meanings of pieces the engine underneath reads differently.
// (\\x{...} is not available: \\x takes exactly two hex digits, as in scripts.)
constexpr std::string_view kLineBreaks = "\\n\\r\\u2028\\u2029";
constexpr std::string_view kExtraSpaces =
    "\\xa0\\u1680\\u2000-\\u200a\\u2028\\u2029\\u202f\\u205f\\u3000\\ufeff";
// Letters a script engine reads as escapes; any other escaped letter stands
// for itself there, while the engine underneath gives many of them meanings.
constexpr std::string_view kScriptEscapeLetters = "bBcdDfnrsStvwWxu";

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string result;
  std::size_t start = 0;
  std::size_t found = text.find(from);
  while (found != std::string_view::npos) {
    result.append(text, start, found - start);
    result += to;
    start = found + from.size();
    found = text.find(from, start);
  }
  result.append(text, start);
  return result;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of "\uXXXX" starting at text[at], or -1.
long UnicodeEscapeAt(std::string_view text, std::size_t at) {
  if (text.size() < at + 6 || text[at] != '\\' || text[at + 1] != 'u') return -1;
  long value = 0;
  for (std::size_t i = at + 2; i < at + 6; ++i) {
    const int digit = HexValue(text[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

// Handles the escape whose backslash is at pattern[i]; returns the index of
// the escape's last character.
std::size_t TranslateEscape(std::string_view pattern, std::size_t i, bool inClass,
                            std::string& out) {
  const char e = pattern[i + 1];
  if (e == 's') {
    out += inClass ? "\\s" + std::string(kExtraSpaces) : "[\\s" + std::string(kExtraSpaces) + "]";
  } else if (e == 'S') {
    // Inside a class the engine's own \S (which also takes Unicode spaces)
    // has to do: classes cannot be nested here.
    out += inClass ? "\\S" : "[^\\s" + std::string(kExtraSpaces) + "]";
  } else if (e == 'v') {
    out += "\\x0b";
  } else if (e == 'u') {
    // A surrogate pair written as two escapes is one character.
    const long high = UnicodeEscapeAt(pattern, i);
    const long low = UnicodeEscapeAt(pattern, i + 6);
    if (high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
      const long codePoint = 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
      out += static_cast<char>(0xF0 | (codePoint >> 18));
      out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (codePoint & 0x3F));
      return i + 11;
    }
    out += "\\u";
  } else if (((e >= 'a' && e <= 'z') || (e >= 'A' && e <= 'Z')) &&
             (kScriptEscapeLetters.find(e) == std::string_view::npos || (inClass && e == 'B'))) {
    out += e;
  } else {
    out += '\\';
    out += e;
  }
  return i + 1;
}

std::string TranslatePattern(std::string_view pattern, bool multiLine) {
  const std::string lineBreaks(kLineBreaks);
  std::string out;
  out.reserve(pattern.size() * 2);
  bool inClass = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '\\') {
      if (i + 1 >= pattern.size()) {
        out += c;  // a lone trailing backslash stays an error
      } else {
        i = TranslateEscape(pattern, i, inClass, out);
      }
    } else if (inClass) {
      if (c == ']') inClass = false;
      out += c == '[' ? "\\[" : std::string(1, c);
    } else if (c == '[') {
      out += c;
      inClass = true;
      if (i + 1 < pattern.size() && pattern[i + 1] == '^') out += pattern[++i];
      // "[]" matches nothing and "[^]" anything, as in scripts.
      if (i + 1 < pattern.size() && pattern[i + 1] == ']') {
        out += pattern[++i];
        inClass = false;
      }
    } else if (c == '.') {
      out += "[^" + lineBreaks + "]";
    } else if (c == '^' && multiLine) {
      out += "(?<![^" + lineBreaks + "])";
    } else if (c == '$' && multiLine) {
      out += "(?![^" + lineBreaks + "])";
    } else {
      out += c;
    }
  }
  return out;
}

struct CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct MatchContextDeleter {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct JitStackDeleter {
  void operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }
};
using CodePtr = std::unique_ptr<pcre2_code, CodeDeleter>;

CodePtr Compile(const std::string& translated, bool caseSensitive, bool validSubject) {
  uint32_t options = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS |
                     PCRE2_MATCH_UNSET_BACKREF | PCRE2_DOLLAR_ENDONLY | PCRE2_NEVER_BACKSLASH_C |
                     PCRE2_NEVER_UCP;
  if (!caseSensitive) options |= PCRE2_CASELESS;
  // Broken UTF-8 in the subject only stops matches from crossing it. The mode
  // costs a scan per search without JIT, so valid subjects do without it.
  if (!validSubject) options |= PCRE2_MATCH_INVALID_UTF;
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  CodePtr code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                             options, &errorCode, &errorOffset, nullptr));
  if (code) (void)pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE);
  return code;
}

using SharedCode = std::shared_ptr<const pcre2_code>;

// Compiled (and JIT-compiled) patterns of recent calls, so a loop that runs
// one pattern over many pages compiles it once. A compiled pattern is
// read-only while matching, so threads share it; each match has its own
// match data.
class PatternCache {
 public:
  [[nodiscard]] SharedCode Get(const std::string& pattern, bool multiLine, bool caseSensitive,
                               bool validSubject) {
    Key key{pattern, multiLine, caseSensitive, validSubject};
    {
      std::lock_guard guard(m_mutex);
      for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->first == key) {
          m_entries.splice(m_entries.begin(), m_entries, it);  // most recent first
          return it->second;
        }
      }
    }
    // Compiled outside the lock: a slow pattern does not hold up the others.
    CodePtr compiled = Compile(TranslatePattern(pattern, multiLine), caseSensitive, validSubject);
    if (!compiled) return nullptr;
    SharedCode code(compiled.release(), CodeDeleter());
    std::lock_guard guard(m_mutex);
    m_entries.emplace_front(std::move(key), code);
    if (m_entries.size() > kCapacity) m_entries.pop_back();
    return code;
  }

 private:
  static constexpr std::size_t kCapacity = 64;
  struct Key {
    std::string pattern;
    bool multiLine;
    bool caseSensitive;
    bool validSubject;
    bool operator==(const Key&) const = default;
  };
  std::mutex m_mutex;
  std::list<std::pair<Key, SharedCode>> m_entries;
};

PatternCache& Patterns() {
  static PatternCache cache;
  return cache;
}

}  // namespace

struct RegexMatcher::State {
  std::string pattern;
  bool compiled = false;
  int groupCount = 0;
  std::size_t matchCount = 0;
  // Per match, (groupCount + 1) pairs of byte offsets; kUnset for a group that
  // did not take part.
  std::vector<std::uint32_t> offsets;

  // GBK width of the subject before every kCheckpointStride-th byte, built on
  // the first position asked for.
  mutable std::once_flag checkpointsOnce;
  mutable std::vector<std::uint32_t> checkpoints;

  [[nodiscard]] const std::uint32_t* Pair(std::size_t match, int group) const {
    return &offsets[(match * static_cast<std::size_t>(groupCount + 1) +
                     static_cast<std::size_t>(group)) *
                    2];
  }

  [[nodiscard]] int GbkPosition(std::string_view subject, std::uint32_t offset) const {
    std::call_once(checkpointsOnce, [&] {
      checkpoints.reserve(subject.size() / kCheckpointStride + 1);
      std::uint32_t width = 0;
      for (std::size_t i = 0; i < subject.size(); ++i) {
        if (i % kCheckpointStride == 0) checkpoints.push_back(width);
        width += static_cast<std::uint32_t>(GbkByteWidth(static_cast<unsigned char>(subject[i])));
      }
    });
    const std::size_t slot = offset / kCheckpointStride;
    if (slot >= checkpoints.size()) return static_cast<int>(GbkWidth(subject));
    const std::size_t from = slot * kCheckpointStride;
    return static_cast<int>(checkpoints[slot] + GbkWidth(subject.substr(from, offset - from)));
  }
};

namespace {

// Finds the matches script engines find: after an empty match the search goes
// on one character further. False when a limit stopped the search.
bool CollectMatches(const pcre2_code* code, std::string_view subject, bool global,
                    bool validSubject, RegexMatcher::State& state) {
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
      pcre2_match_data_create_from_pattern(code, nullptr));
  std::unique_ptr<pcre2_match_context, MatchContextDeleter> context(
      pcre2_match_context_create(nullptr));
  if (!data || !context) return false;
  pcre2_set_match_limit(context.get(), kMatchLimit);
  pcre2_set_depth_limit(context.get(), kDepthLimit);
  pcre2_set_heap_limit(context.get(), kHeapLimitKib);
  std::unique_ptr<pcre2_jit_stack, JitStackDeleter> jitStack(
      pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
  if (jitStack) pcre2_jit_stack_assign(context.get(), nullptr, jitStack.get());

  const auto* text = reinterpret_cast<PCRE2_SPTR>(subject.data());
  const uint32_t options = validSubject ? PCRE2_NO_UTF_CHECK : 0;
  const auto pairs = static_cast<std::size_t>(state.groupCount + 1);
  std::size_t offset = 0;
  while (offset <= subject.size() && state.matchCount < kMaxMatches) {
    const int rc =
        pcre2_match(code, text, subject.size(), offset, options, data.get(), context.get());
    if (rc == PCRE2_ERROR_NOMATCH) break;
    if (rc <= 0) return false;  // a match, depth, heap or stack limit
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
    for (std::size_t group = 0; group < pairs; ++group) {
      const bool set = group < static_cast<std::size_t>(rc) && ovector[2 * group] != PCRE2_UNSET;
      state.offsets.push_back(set ? static_cast<std::uint32_t>(ovector[2 * group]) : kUnset);
      state.offsets.push_back(set ? static_cast<std::uint32_t>(ovector[2 * group + 1]) : kUnset);
    }
    ++state.matchCount;
    if (!global) break;
    const std::size_t start = ovector[0];
    const std::size_t end = std::max<std::size_t>(ovector[1], offset);
    if (end > start) {
      offset = end;
    } else {
      if (end >= subject.size()) break;
      offset = end + Utf8CharLength(subject, end);
    }
  }
  return true;
}

// ECMAScript replacement text for one match.
void AppendReplacement(std::string& out, std::string_view replacement, std::string_view subject,
                       const RegexMatcher::State& state, std::size_t match) {
  const auto groupText = [&](int group) -> std::string_view {
    const std::uint32_t* pair = state.Pair(match, group);
    if (pair[0] == kUnset) return {};
    return subject.substr(pair[0], pair[1] - pair[0]);
  };
  const std::uint32_t* whole = state.Pair(match, 0);
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    const char c = replacement[i];
    if (c != '$' || i + 1 >= replacement.size()) {
      out += c;
      continue;
    }
    const char next = replacement[i + 1];
    if (next == '$') {
      out += '$';
      ++i;
    } else if (next == '&') {
      out += groupText(0);
      ++i;
    } else if (next == '`') {
      out += subject.substr(0, whole[0]);
      ++i;
    } else if (next == '\'') {
      out += subject.substr(whole[1]);
      ++i;
    } else if (next >= '0' && next <= '9') {
      const int one = next - '0';
      const bool hasSecond =
          i + 2 < replacement.size() && replacement[i + 2] >= '0' && replacement[i + 2] <= '9';
      const int two = hasSecond ? one * 10 + (replacement[i + 2] - '0') : 0;
      if (hasSecond && two >= 1 && two <= state.groupCount) {
        out += groupText(two);
        i += 2;
      } else if (one >= 1 && one <= state.groupCount) {
        out += groupText(one);
        ++i;
      } else {
        out += c;
      }
    } else {
      out += c;
    }
  }
}

std::string EscapeMarker(std::string_view marker) {
  const std::string text = ReplaceAll(marker, kQuoteMarker, "\"");
  constexpr std::string_view kLiteral = "][+*?}{)(";
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      // Markers written with CR LF also find texts that use LF alone.
      out += "\\r?\\n";
      ++i;
    } else {
      if (kLiteral.find(c) != std::string_view::npos) out += '\\';
      out += c;
    }
  }
  return out;
}

}  // namespace

RegexMatcher::RegexMatcher() = default;
RegexMatcher::~RegexMatcher() = default;
RegexMatcher::RegexMatcher(const RegexMatcher&) = default;
RegexMatcher& RegexMatcher::operator=(const RegexMatcher&) = default;

bool RegexMatcher::Execute(std::string_view pattern, std::string_view subject, bool caseSensitive,
                           bool multiLine, bool global, bool quoteMarker) {
  m_state.reset();
  m_subject.clear();
  try {
    auto state = std::make_shared<State>();
    state->pattern = quoteMarker ? ReplaceAll(pattern, kQuoteMarker, "\"") : std::string(pattern);
    m_state = state;
    if (subject.size() > static_cast<std::size_t>(kMaxSubjectBytes)) return false;
    m_subject = std::string(subject);
    const bool validSubject = IsValidUtf8(subject);
    const SharedCode code = Patterns().Get(state->pattern, multiLine, caseSensitive, validSubject);
    if (!code) return false;
    uint32_t captureCount = 0;
    pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &captureCount);
    state->groupCount = static_cast<int>(captureCount);
    state->compiled = true;
    if (!CollectMatches(code.get(), m_subject, global, validSubject, *state)) {
      m_state.reset();
      m_subject.clear();
      return false;
    }
    return true;
  } catch (...) {
    m_state.reset();
    m_subject.clear();
    return false;
  }
}

std::string RegexMatcher::GetPattern() const {
  return m_state ? m_state->pattern : std::string();
}

std::string RegexMatcher::Replace(std::string_view replacement) const {
  if (!m_state || !m_state->compiled) return {};
  try {
    std::string out;
    std::size_t copied = 0;
    for (std::size_t match = 0; match < m_state->matchCount; ++match) {
      const std::uint32_t* whole = m_state->Pair(match, 0);
      if (whole[0] < copied) continue;
      out.append(m_subject, copied, whole[0] - copied);
      AppendReplacement(out, replacement, m_subject, *m_state, match);
      copied = whole[1];
    }
    out.append(m_subject, copied);
    return out;
  } catch (...) {
    return {};
  }
}

int RegexMatcher::Count() const {
  return m_state ? static_cast<int>(m_state->matchCount) : 0;
}

std::string RegexMatcher::MatchText(int n, int* position) const {
  return GroupText(n, 0, position);
}

std::string RegexMatcher::SubMatchText(int n, int k, int* position) const {
  if (k < 1) {
    if (position != nullptr) *position = -1;
    return {};
  }
  return GroupText(n, k, position);
}

std::string RegexMatcher::GroupText(int n, int k, int* position) const {
  if (position != nullptr) *position = -1;
  if (!m_state || n < 1 || static_cast<std::size_t>(n) > m_state->matchCount || k < 0 ||
      k > m_state->groupCount) {
    return {};
  }
  const std::uint32_t* pair = m_state->Pair(static_cast<std::size_t>(n - 1), k);
  if (pair[0] == kUnset) return {};
  try {
    if (position != nullptr) *position = m_state->GbkPosition(m_subject, pair[0]);
    return m_subject.substr(pair[0], pair[1] - pair[0]);
  } catch (...) {
    if (position != nullptr) *position = -1;
    return {};
  }
}

int RegexMatcher::SubMatchCount() const {
  return m_state && m_state->matchCount > 0 ? m_state->groupCount : 0;
}

int TextBetweenAll(std::string_view subject, std::string_view left, std::string_view right,
                   std::vector<std::string>& out, int maxLength, std::string_view prefix,
                   std::string_view suffix, bool keepLeft, bool keepRight) {
  try {
    RegexMatcher matcher;
    const std::string pattern = EscapeMarker(left) + "([\\s\\S]*?)" + EscapeMarker(right);
    if (!matcher.Execute(pattern, subject)) return static_cast<int>(out.size());
    const std::string leftText = keepLeft ? ReplaceAll(left, kQuoteMarker, "\"") : std::string();
    const std::string rightText = keepRight ? ReplaceAll(right, kQuoteMarker, "\"") : std::string();
    for (int n = 1; n <= matcher.Count(); ++n) {
      const std::string text = matcher.SubMatchText(n, 1);
      if (maxLength > 0 && GbkWidth(text) > static_cast<std::size_t>(maxLength)) continue;
      std::string entry(prefix);
      entry += leftText;
      entry += text;
      entry += rightText;
      entry += suffix;
      out.push_back(std::move(entry));
    }
  } catch (...) {
    // What was collected so far stays in out.
  }
  return static_cast<int>(out.size());
}

std::optional<std::string> FirstMatch(std::string_view pattern, std::string_view subject,
                                      int group) {
  RegexMatcher matcher;
  if (!matcher.Execute(pattern, subject, false, true, false) || matcher.Count() == 0) {
    return std::nullopt;
  }
  if (group < 0 || group > matcher.SubMatchCount()) return std::nullopt;
  return group == 0 ? matcher.MatchText(1) : matcher.SubMatchText(1, group);
}

}  // namespace korvid
