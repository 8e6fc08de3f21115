#include "library/artwork.h"

#include <cstdint>
#include <string>

#include "net/http_client.h"
#include "net/http_text.h"

namespace korvid {
namespace {

constexpr std::string_view kJpegMagic = "\xFF\xD8\xFF";
constexpr std::string_view kPngMagic = "\x89PNG\r\n\x1A\n";
constexpr std::string_view kRiffMagic = "RIFF";
constexpr std::string_view kWebpMagic = "WEBP";
constexpr std::size_t kWebpMagicAt = 8;

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char c = text[i];
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != prefix[i]) return false;
  }
  return true;
}

// The Content-Type of an answer's header lines; empty when there is none.
std::string ContentTypeOf(std::string_view headers) {
  constexpr std::string_view kName = "content-type:";
  for (std::size_t at = 0; at < headers.size();) {
    const std::size_t end = std::min(headers.find("\r\n", at), headers.size());
    const std::string_view line = headers.substr(at, end - at);
    if (StartsWithIgnoreCase(line, kName)) return HeaderValue(line);
    at = end + 2;
  }
  return {};
}

// The body of a picture answer, or "" for a failure or anything else.
std::string GetPicture(std::string_view url) {
  HttpResponse response = HttpRequest(url);
  if (!response.Completed() || response.status < 200 || response.status > 299) return {};
  if (!IsPictureAnswer(ContentTypeOf(response.headers), response.body)) return {};
  return std::move(response.body);
}

}  // namespace

bool IsPictureAnswer(std::string_view contentType, std::string_view bytes) {
  if (!StartsWithIgnoreCase(contentType, "image/")) return false;
  return bytes.starts_with(kJpegMagic) || bytes.starts_with(kPngMagic) ||
         (bytes.starts_with(kRiffMagic) && bytes.size() >= kWebpMagicAt &&
          bytes.substr(kWebpMagicAt).starts_with(kWebpMagic));
}

SideFileResult FetchPictureIfMissing(std::string_view url, const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::exists(path, error)) return SideFileResult::kExisted;
  if (url.empty()) return SideFileResult::kFailed;
  std::string kept;
  for (int attempt = 0; attempt < kArtworkAttempts; ++attempt) {
    std::string body = GetPicture(url);
    if (body.empty()) continue;
    const std::int64_t remoteSize = QueryContentLength(url);
    kept = std::move(body);
    if (remoteSize == static_cast<std::int64_t>(kept.size())) break;
  }
  return WriteFileIfMissing(path, kept);
}

SideFileResult WriteFanArtIfMissing(const std::filesystem::path& videoFolder,
                                    std::string_view coverUrl) {
  return FetchPictureIfMissing(coverUrl, videoFolder / kFanArtFileName);
}

SideFileResult WritePosterIfMissing(const std::filesystem::path& videoFolder,
                                    std::string_view coverUrl) {
  return FetchPictureIfMissing(coverUrl, videoFolder / kPosterFileName);
}

}  // namespace korvid
