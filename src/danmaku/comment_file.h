#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "controls/controls.h"
#include "danmaku/danmaku_to_ass.h"

namespace korvid {

enum class CommentFileState {
  kWritten,       // fresh comments: the ASS file and its XML written
  kFetchFailed,   // no comments could be fetched and no ASS file existed yet:
                  // nothing written, so the next run tries again
  kKeptExisting,  // no comments could be fetched; the existing ASS and XML
                  // are left as they were
  kWriteFailed,   // a file could not be written (the old one, if any, is intact)
};

struct CommentFileResult {
  CommentFileState state = CommentFileState::kWriteFailed;
  int comments = 0;   // event lines in the written ASS file
  std::string error;  // why nothing fresh was written; empty for kWritten

  [[nodiscard]] bool Fresh() const { return state == CommentFileState::kWritten; }
};

// "S1E1.ass" -> "S1E1.xml": where the inflated document is kept.
[[nodiscard]] std::filesystem::path CommentXmlPath(const std::filesystem::path& assPath);

// Fetches the comments of page cid from the comment host, converts them and
// writes assPath and the XML beside it (CommentXmlPath), each by a temporary
// file and a rename. A failed, cut or oversized answer writes nothing: an
// existing ASS file keeps the comments it had, and a missing one stays
// missing, so the next download or refresh fetches it again. Blocks on the
// network; call it on a worker thread. The settings are read from controls
// at the call.
[[nodiscard]] CommentFileResult FetchCommentFile(const Controls& controls, std::string_view cid,
                                                 std::string_view bvid,
                                                 const std::filesystem::path& assPath);
[[nodiscard]] CommentFileResult FetchCommentFile(const DanmakuSettings& settings,
                                                 std::string_view cid, std::string_view bvid,
                                                 const std::filesystem::path& assPath);

}  // namespace korvid
