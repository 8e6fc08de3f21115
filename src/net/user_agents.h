#pragma once

#include <string_view>

// Every User-Agent the program sends, each written once, with the request
// that sends it. The older agents are kept on purpose: each request has always
// gone out with its own, and the hosts answer them as they are.
namespace korvid {

// Site API calls (site headers) and the media downloads of a task: a current
// desktop browser, because the site and its media hosts refuse some calls to
// older agents.
inline constexpr std::string_view kBrowserUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/131.0.0.0 Safari/537.36";

// HttpRequest with its default headers, when the caller sends no agent line.
inline constexpr std::string_view kHttpRequestAgent =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// HttpDirect with its default headers, when the caller sends no agent line.
inline constexpr std::string_view kHttpDirectAgent =
    "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)";

// The HEAD request that asks a file's size (QueryContentLength).
inline constexpr std::string_view kContentLengthAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)";

// PlainGet (covers, faces, avatars from the image hosts); the stream download
// sends the same when its header block names no agent.
inline constexpr std::string_view kPlainGetAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/76.0.3809.132 Safari/537.36";
inline constexpr std::string_view kStreamAgent = kPlainGetAgent;

// The poll of the older QR log-in calls, sent with a fixed browser header block.
inline constexpr std::string_view kQrPollAgent =
    "Mozilla/5.0 (Windows NT 6.1; WOW64; rv:46.0) Gecko/20100101 Firefox/46.0";

}  // namespace korvid
