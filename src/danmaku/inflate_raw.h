#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korvid {

// The most a comment document may inflate to. A real one stays far below; a
// stream that grows past it is refused rather than filling memory and disk.
inline constexpr std::size_t kMaxCommentDocumentBytes = std::size_t{256} << 20;

// Raw deflate (no zlib or gzip wrapper), as the comment host sends the comment
// documents. Empty on any failure: empty input, a wrapped or corrupt stream,
// output past kMaxCommentDocumentBytes.
// Bytes after the end of the stream are ignored; a stream that stops without
// its end marker yields what could be inflated from it. Safe on any thread.
[[nodiscard]] std::string InflateRaw(std::string_view compressed);

struct InflateResult {
  std::string bytes;
  bool ok = false;        // as InflateRaw: false means the bytes are empty
  bool complete = false;  // the stream's end marker was reached
  bool tooLarge = false;  // stopped at the output limit (ok is false)
};
[[nodiscard]] InflateResult InflateRawDetailed(std::string_view compressed,
                                               std::size_t outputLimit = kMaxCommentDocumentBytes);

// The comment document in a body or file: a whole raw deflate stream, or a
// plain XML comment document (<i> root) as it is, which a proxy or a saved
// file may hold already inflated. nullopt when it is neither: a stream cut
// short, or one inflating past outputLimit, counts as no document.
[[nodiscard]] std::optional<std::string> DecodeCommentDocument(
    std::string bytes, std::size_t outputLimit = kMaxCommentDocumentBytes);

// The same without copying a plain document: bytes themselves, or the
// inflated stream, which is kept in `inflated` (the view points into it).
[[nodiscard]] std::optional<std::string_view> FindCommentDocument(
    std::string_view bytes, std::string& inflated,
    std::size_t outputLimit = kMaxCommentDocumentBytes);

}  // namespace korvid
