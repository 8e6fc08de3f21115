#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvid {

// Raw deflate (no zlib or gzip wrapper), as the comment host sends the comment
// documents. Empty on any failure: empty input, a wrapped or corrupt stream.
// Bytes after the end of the stream are ignored; a stream that stops without
// its end marker yields what could be inflated from it. Safe on any thread.
[[nodiscard]] std::string InflateRaw(std::string_view compressed);

struct InflateResult {
  std::string bytes;
  bool ok = false;        // as InflateRaw: false means the bytes are empty
  bool complete = false;  // the stream's end marker was reached
};
[[nodiscard]] InflateResult InflateRawDetailed(std::string_view compressed);

// The comment document in a body or file: raw deflate, or a plain XML comment
// document (<i> root) as it is, which a proxy or a saved file may hold already
// inflated. nullopt when it is neither.
[[nodiscard]] std::optional<std::string> DecodeCommentDocument(std::string bytes);

}  // namespace korvid
