#include "danmaku/comment_file.h"

#include <optional>
#include <system_error>
#include <utility>

#include "app/file_helpers.h"
#include "danmaku/inflate_raw.h"
#include "net/http_client.h"
#include "net/site_hosts.h"

namespace korvid {

namespace fs = std::filesystem;

namespace {

bool IsDecimal(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The comment document of a page, or why there is none.
std::optional<std::string> FetchDocument(std::string_view cid, std::string& error) {
  if (!IsDecimal(cid)) {
    error = "\"" + std::string(cid) + "\" is not a cid";
    return std::nullopt;
  }
  const std::string url = CommentUrl(cid);
  HttpResponse response = HttpRequest(url);
  if (!response.Completed()) {
    error = url + ": " + DirectErrorMessage(response.failure);
    return std::nullopt;
  }
  if (response.status < 200 || response.status > 299) {
    error = url + ": HTTP status " + std::to_string(response.status);
    return std::nullopt;
  }
  std::optional<std::string> document = DecodeCommentDocument(std::move(response.body));
  if (!document) error = url + ": the answer is not a comment document";
  return document;
}

}  // namespace

fs::path CommentXmlPath(const fs::path& assPath) {
  fs::path xml = assPath;
  return xml.replace_extension(".xml");
}

CommentFileResult FetchCommentFile(const Controls& controls, std::string_view cid,
                                   std::string_view bvid, const fs::path& assPath) {
  return FetchCommentFile(ReadDanmakuSettings(controls), cid, bvid, assPath);
}

CommentFileResult FetchCommentFile(const DanmakuSettings& settings, std::string_view cid,
                                   std::string_view bvid, const fs::path& assPath) {
  CommentFileResult result;
  std::optional<std::string> document = FetchDocument(cid, result.error);
  if (!document) {
    std::error_code ignored;
    result.state = fs::exists(assPath, ignored) ? CommentFileState::kKeptExisting
                                                : CommentFileState::kFetchFailed;
    return result;
  }
  DanmakuStats stats;
  const std::string ass = DanmakuToAss(*document, cid, bvid, settings, &stats);
  if (!WriteFileAtomically(assPath, ass)) {
    result.error = "could not write " + assPath.string();
    return result;
  }
  const fs::path xmlPath = CommentXmlPath(assPath);
  if (!WriteFileAtomically(xmlPath, *document)) {
    result.error = "could not write " + xmlPath.string();
    return result;
  }
  result.comments = stats.shown;
  result.state = CommentFileState::kWritten;
  return result;
}

}  // namespace korvid
