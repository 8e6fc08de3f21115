#include "danmaku/inflate_raw.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <memory>

namespace korvid {

namespace {

// Raw deflate: no header, no trailer.
constexpr int kRawWindowBits = -15;
// Output room per inflate call: at least 256 bytes. zlib copies up to 32 kB
// into its window after every call, so fewer calls save that copying, while
// a chunk this size still stays in the cache for the append.
constexpr std::size_t kChunk = 256 * 1024;

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

// Comment documents shrink about 3 to 5 times; a stream promising more is
// not trusted further than this.
constexpr double kMaxExpectedRatio = 8;
// Output after which the ratio so far is a fair guess for the rest.
constexpr std::size_t kEstimateAfter = std::size_t{1} << 20;

// Reserves for the whole document as the stream has compressed so far, with
// a margin: copying a large buffer that fills late costs more than memory
// reserved and never touched.
void ReserveForWhole(std::string& out, std::size_t compressedSize, std::size_t inputUsed,
                     std::size_t outputLimit) {
  if (inputUsed == 0) return;
  const double ratio =
      std::min(static_cast<double>(out.size()) / static_cast<double>(inputUsed), kMaxExpectedRatio);
  const auto whole = static_cast<std::size_t>(static_cast<double>(compressedSize) * ratio * 1.25);
  if (whole > out.capacity()) out.reserve(std::min(whole + kChunk, outputLimit));
}

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

InflateResult InflateRawDetailed(std::string_view compressed, std::size_t outputLimit) {
  InflateResult result;
  if (compressed.empty()) return result;
  InflateStream inflater;
  if (!inflater.Open()) return result;
  z_stream& stream = inflater.Get();

  // Inflate into a chunk and append it to a result reserved at three times
  // the input (re-estimated once the ratio shows), growing by at least the
  // input size when full: no zero-filling, rarely a reallocation.
  std::string& out = result.bytes;
  out.reserve(std::min(compressed.size() * 3, outputLimit));
  const auto chunk = std::make_unique<char[]>(kChunk);
  std::size_t inputUsed = 0;
  bool estimated = false;
  int code = Z_OK;
  for (;;) {
    const std::size_t inputGiven = std::min(compressed.size() - inputUsed, kMaxPiece);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data() + inputUsed));
    stream.avail_in = static_cast<uInt>(inputGiven);
    stream.next_out = reinterpret_cast<Bytef*>(chunk.get());
    stream.avail_out = static_cast<uInt>(kChunk);
    code = inflate(&stream, Z_SYNC_FLUSH);
    inputUsed += inputGiven - stream.avail_in;
    const std::size_t produced = kChunk - stream.avail_out;
    if ((code == Z_OK || code == Z_STREAM_END) && out.size() + produced > outputLimit) {
      result.tooLarge = true;
      break;
    }
    if (code == Z_OK || code == Z_STREAM_END) {
      if (out.size() + produced > out.capacity()) {
        out.reserve(
            std::min(out.capacity() + std::max(compressed.size(), out.capacity() / 2) + produced,
                     outputLimit));
      }
      out.append(chunk.get(), produced);
      if (!estimated && out.size() >= kEstimateAfter) {
        estimated = true;
        ReserveForWhole(out, compressed.size(), inputUsed, outputLimit);
      }
    }
    if (code == Z_STREAM_END) break;
    const bool inputDone = inputUsed == compressed.size();
    // Nothing pending once the input is used up: done, also for a stream
    // that stops without its end marker.
    if (code == Z_BUF_ERROR && inputDone) break;
    if (code != Z_OK) break;
    if (inputDone && stream.avail_out > 0) break;
  }
  result.ok = !result.tooLarge && (code == Z_OK || code == Z_STREAM_END ||
                                   (code == Z_BUF_ERROR && inputUsed == compressed.size()));
  result.complete = result.ok && code == Z_STREAM_END;
  if (!result.ok) result.bytes = std::string();
  return result;
}

std::string InflateRaw(std::string_view compressed) {
  return InflateRawDetailed(compressed).bytes;
}

std::optional<std::string> DecodeCommentDocument(std::string bytes, std::size_t outputLimit) {
  // Plain XML is recognised by its start; a raw deflate stream that began
  // with "<?xml" or "<i>" would have to be a very odd one.
  if (LooksLikeCommentXml(bytes)) return bytes;
  // Only a whole stream: a cut one would be kept as if it held every comment,
  // and never fetched again.
  InflateResult inflated = InflateRawDetailed(bytes, outputLimit);
  if (inflated.complete && !inflated.bytes.empty()) return std::move(inflated.bytes);
  return std::nullopt;
}

std::optional<std::string_view> FindCommentDocument(std::string_view bytes, std::string& inflated,
                                                    std::size_t outputLimit) {
  if (LooksLikeCommentXml(bytes)) return bytes;
  InflateResult result = InflateRawDetailed(bytes, outputLimit);
  if (!result.complete || result.bytes.empty()) return std::nullopt;
  inflated = std::move(result.bytes);
  return std::string_view(inflated);
}

}  // namespace korvid
