#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvid {

// Runs one ECMAScript-style pattern over one subject and keeps the matches.
// Matching is case-insensitive, multi-line and global unless asked otherwise;
// match and group numbers are 1-based; positions are 0-based offsets counted
// in GBK bytes (ASCII 1, any other character 2).
//
// Dialect, as script engines have it: '.' stops at \n, \r, U+2028 and U+2029;
// \d and \w are ASCII; \s is JavaScript white space (Unicode spaces and the
// byte-order mark included); \uXXXX and \xXX escapes; [^] matches anything and
// [] nothing; a back-reference to a group that did not take part matches
// empty. Extensions of the engine underneath (look-behind, named groups) are
// accepted too.
//
// A copy is a second handle on the same pattern and matches. A matcher is used
// by one thread at a time.
class RegexMatcher {
 public:
  RegexMatcher();
  ~RegexMatcher();
  RegexMatcher(const RegexMatcher&);
  RegexMatcher& operator=(const RegexMatcher&);

  // Longer subjects are refused (Execute returns false), so that positions,
  // counted up to two per byte, always fit an int.
  static constexpr std::int64_t kMaxSubjectBytes = (std::int64_t{1} << 30) - 1;

  // True when the pattern compiled and ran to the end, also when it found
  // nothing. False, with no matches kept, for a pattern that does not
  // compile, a subject longer than kMaxSubjectBytes, and a search stopped by
  // the engine's match, depth, heap or stack limits (a pathological pattern
  // on a long subject): "ran, nothing found" is never a guess. With the
  // quote-marker flag every "#引号" in the pattern stands for '"'.
  bool Execute(std::string_view pattern, std::string_view subject, bool caseSensitive = false,
               bool multiLine = true, bool global = true, bool quoteMarker = false);
  [[nodiscard]] std::string GetPattern() const;
  // The subject with the matches replaced; the replacement may use $1..$99,
  // $&, $`, $' and $$.
  [[nodiscard]] std::string Replace(std::string_view replacement) const;
  [[nodiscard]] int Count() const;
  // n and k are 1-based. position (when non-null) receives the 0-based offset
  // in GBK bytes; -1 when there is no such match or the group did not take part.
  [[nodiscard]] std::string MatchText(int n, int* position = nullptr) const;
  [[nodiscard]] std::string SubMatchText(int n, int k, int* position = nullptr) const;
  // Number of groups of the first match (0 when nothing matched).
  [[nodiscard]] int SubMatchCount() const;

  struct State;

 private:
  [[nodiscard]] std::string GroupText(int n, int k, int* position) const;

  std::shared_ptr<const State> m_state;
  std::string m_subject;
};

// Collects the texts between every left and right marker. In the markers
// "#引号" stands for '"', the characters ] [ + * ? } { ) ( are literal, a line
// break matches LF or CR LF, and . ^ $ | \ keep their pattern meaning. Texts
// longer than maxLength GBK bytes are skipped (0: no limit); each kept text
// becomes prefix + [left] + text + [right] + suffix. Entries are appended to
// out; returns out's length.
int TextBetweenAll(std::string_view subject, std::string_view left, std::string_view right,
                   std::vector<std::string>& out, int maxLength = 0, std::string_view prefix = {},
                   std::string_view suffix = {}, bool keepLeft = false, bool keepRight = false);

// Text of group `group` (0: the whole match) of the first match, with the
// defaults above; nullopt when nothing matches or the pattern is invalid.
[[nodiscard]] std::optional<std::string> FirstMatch(std::string_view pattern,
                                                    std::string_view subject, int group = 0);

}  // namespace korvid
