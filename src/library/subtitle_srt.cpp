#include "library/subtitle_srt.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace korvid {
namespace {

using Json = nlohmann::json;

constexpr std::string_view kCrLf = "\r\n";
// Past this a clock would need more than two hour digits; no video is that long.
constexpr double kLatestSeconds = 99 * 3600.0 + 59 * 60 + 59.999;

double SecondsMember(const Json& cue, const char* name) {
  const auto found = cue.find(name);
  return found != cue.end() && found->is_number() ? found->get<double>() : 0.0;
}

// The content's lines joined by CR LF, without empty ones.
std::string CueText(std::string_view content) {
  std::string text;
  for (std::size_t at = 0; at <= content.size();) {
    const std::size_t end = std::min(content.find('\n', at), content.size());
    std::string_view line = content.substr(at, end - at);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.find_first_not_of(" \t") != std::string_view::npos) {
      if (!text.empty()) text += kCrLf;
      text += line;
    }
    at = end + 1;
  }
  return text;
}

}  // namespace

std::string SrtClock(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  const auto millis =
      static_cast<std::int64_t>(std::llround(std::min(seconds, kLatestSeconds) * 1000));
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld,%03lld",
                static_cast<long long>(millis / 3600000),
                static_cast<long long>(millis / 60000 % 60),
                static_cast<long long>(millis / 1000 % 60), static_cast<long long>(millis % 1000));
  return text;
}

std::string SubtitleBodyToSrt(std::string_view bodyJson) {
  const Json document = Json::parse(bodyJson, nullptr, false);
  if (!document.is_object()) return {};
  const auto body = document.find("body");
  if (body == document.end() || !body->is_array()) return {};
  std::string srt;
  int number = 0;
  for (const Json& cue : *body) {
    if (!cue.is_object()) continue;
    const auto content = cue.find("content");
    if (content == cue.end() || !content->is_string()) continue;
    const std::string text = CueText(content->get<std::string>());
    if (text.empty()) continue;
    if (number > 0) srt += kCrLf;
    srt += std::to_string(++number);
    srt += kCrLf;
    srt += SrtClock(SecondsMember(cue, "from")) + " --> " + SrtClock(SecondsMember(cue, "to"));
    srt += kCrLf;
    srt += text;
    srt += kCrLf;
  }
  return srt;
}

}  // namespace korvid
