// Runs an arbitrary pattern over an arbitrary subject and reads every result.
// Input: one flag byte, then pattern, subject and replacement separated by NUL.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "net/regex_matcher.h"
#include "net/text_width.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string_view NextPart(std::string_view& rest) {
  const std::size_t end = rest.find('\0');
  const std::string_view part = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const auto flags = static_cast<unsigned char>(rest[0]);
  rest.remove_prefix(1);
  const std::string_view pattern = NextPart(rest);
  const std::string_view subject = NextPart(rest);
  const std::string_view replacement = rest;

  korvid::RegexMatcher matcher;
  const bool ran = matcher.Execute(pattern, subject, (flags & 1) != 0, (flags & 2) != 0,
                                   (flags & 4) != 0, (flags & 8) != 0);
  const int count = matcher.Count();
  Check(ran || count == 0);
  Check((flags & 4) != 0 || count <= 1);
  const auto width = static_cast<int>(korvid::GbkWidth(subject));
  int previous = -1;
  for (int n = 1; n <= count && n <= 64; ++n) {
    int position = -2;
    const std::string text = matcher.MatchText(n, &position);
    Check(position >= 0 && position <= width && position >= previous);
    Check(subject.find(text) != std::string_view::npos);
    previous = position;
    for (int k = 1; k <= matcher.SubMatchCount() && k <= 8; ++k) {
      const std::string group = matcher.SubMatchText(n, k, &position);
      Check(position >= -1 && position <= width);
      Check(position >= 0 || group.empty());
    }
  }
  const std::string replaced = matcher.Replace(replacement);
  Check(ran || replaced.empty());
  Check(!ran || count > 0 || replaced == subject);

  korvid::RegexMatcher copy = matcher;
  Check(copy.Count() == count);

  std::vector<std::string> between;
  const std::size_t half = pattern.size() / 2;
  (void)korvid::TextBetweenAll(subject, pattern.substr(0, half), pattern.substr(half), between,
                               flags >> 4);
  (void)korvid::FirstMatch(pattern, subject, flags >> 6);
  return 0;
}
