#pragma once

#include <string>
#include <string_view>

// A subtitle body of the site as SubRip text, which every media server reads.
namespace korvid {

// "HH:MM:SS,mmm" for seconds, rounded to the millisecond (negative as 0).
[[nodiscard]] std::string SrtClock(double seconds);

// {"body":[{"from":s,"to":s,"content":"…"}]} as numbered SubRip cues, CR LF
// line ends, a blank line between cues. A line break in a content starts a
// new line of the same cue; empty lines and cues without text are left out
// (a blank line would end the cue early). Empty when the body holds no cue.
[[nodiscard]] std::string SubtitleBodyToSrt(std::string_view bodyJson);

}  // namespace korvid
