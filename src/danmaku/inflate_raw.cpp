#include "danmaku/inflate_raw.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>

namespace korvid {

namespace {

// Raw deflate: no header, no trailer.
constexpr int kRawWindowBits = -15;
// The least room each inflate call gets; more only means fewer calls.
constexpr std::size_t kMinChunk = 256;

class InflateStream {
 public:
  InflateStream() = default;
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  ~InflateStream() {
    if (m_open) inflateEnd(&m_stream);
  }
  [[nodiscard]] bool Open() {
    m_open = inflateInit2(&m_stream, kRawWindowBits) == Z_OK;
    return m_open;
  }
  [[nodiscard]] z_stream& Get() { return m_stream; }

 private:
  z_stream m_stream{};
  bool m_open = false;
};

// zlib counts in uInt; larger buffers are fed in pieces of this size.
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;

// A comment document: an optional byte-order mark and XML declaration, then
// the <i> root. An error page (HTML, JSON) is not one.
bool LooksLikeCommentXml(std::string_view bytes) {
  constexpr std::string_view kBlanks = " \t\r\n";
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  bytes.remove_prefix(std::min(bytes.find_first_not_of(kBlanks), bytes.size()));
  if (bytes.starts_with("<?xml")) {
    const std::size_t end = bytes.find("?>");
    if (end == std::string_view::npos) return false;
    bytes.remove_prefix(end + 2);
    bytes.remove_prefix(std::min(bytes.find_first_not_of(kBlanks), bytes.size()));
  }
  return bytes.starts_with("<i>") || bytes.starts_with("<i ");
}

}  // namespace

InflateResult InflateRawDetailed(std::string_view compressed) {
  InflateResult result;
  if (compressed.empty()) return result;
  InflateStream inflater;
  if (!inflater.Open()) return result;
  z_stream& stream = inflater.Get();

  // Three times the input first, then at least the input size more each time
  // the buffer fills; inflating straight into it spares a copy per chunk.
  std::string& out = result.bytes;
  out.resize(std::max(compressed.size() * 3, kMinChunk));
  std::size_t total = 0;
  std::size_t inputUsed = 0;
  int code = Z_OK;
  for (;;) {
    if (out.size() - total < kMinChunk) {
      out.resize(out.size() + std::max(compressed.size(), out.size() / 2));
    }
    const std::size_t inputLeft = compressed.size() - inputUsed;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data() + inputUsed));
    stream.avail_in = static_cast<uInt>(std::min(inputLeft, kMaxPiece));
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + total);
    stream.avail_out = static_cast<uInt>(std::min(out.size() - total, kMaxPiece));
    const uInt inputGiven = stream.avail_in;
    const uInt roomGiven = stream.avail_out;
    code = inflate(&stream, Z_SYNC_FLUSH);
    inputUsed += inputGiven - stream.avail_in;
    total += roomGiven - stream.avail_out;
    if (code == Z_STREAM_END) break;
    const bool inputDone = inputUsed == compressed.size();
    // Nothing pending once the input is used up: done, also for a stream
    // that stops without its end marker.
    if (code == Z_BUF_ERROR && inputDone) break;
    if (code != Z_OK) break;
    if (inputDone && stream.avail_out > 0) break;
  }
  result.ok = code == Z_OK || code == Z_STREAM_END ||
              (code == Z_BUF_ERROR && inputUsed == compressed.size());
  result.complete = code == Z_STREAM_END;
  if (!result.ok) {
    out.clear();
    out.shrink_to_fit();
    return result;
  }
  out.resize(total);
  // Give back a large unused reservation (documents compress about 4:1).
  if (out.capacity() - total > total / 4) out.shrink_to_fit();
  return result;
}

std::string InflateRaw(std::string_view compressed) {
  return InflateRawDetailed(compressed).bytes;
}

std::optional<std::string> DecodeCommentDocument(std::string_view bytes) {
  InflateResult inflated = InflateRawDetailed(bytes);
  // A whole stream is taken at its word. Plain XML may begin like a broken
  // stream, and other bytes may inflate into noise before an error shows, so
  // a partial result counts only when it begins like a comment document.
  if (inflated.complete && !inflated.bytes.empty()) return std::move(inflated.bytes);
  if (LooksLikeCommentXml(bytes)) return std::string(bytes);
  if (inflated.ok && LooksLikeCommentXml(inflated.bytes)) return std::move(inflated.bytes);
  return std::nullopt;
}

}  // namespace korvid
