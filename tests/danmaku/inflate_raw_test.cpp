#include "danmaku/inflate_raw.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "support/fakesite/site_routes.h"

namespace korvid {
namespace {

std::string ZlibWrapped(const std::string& bytes) {
  uLongf size = compressBound(static_cast<uLong>(bytes.size()));
  std::string out(size, '\0');
  if (compress(reinterpret_cast<Bytef*>(out.data()), &size,
               reinterpret_cast<const Bytef*>(bytes.data()),
               static_cast<uLong>(bytes.size())) != Z_OK) {
    return {};
  }
  out.resize(size);
  return out;
}

// Text that compresses about 5:1, like a comment document.
std::string CommentLikeText(std::size_t size) {
  std::mt19937 random(7);
  std::string text;
  while (text.size() < size) {
    text += "<d p=\"" + std::to_string(random() % 100000) + ".12345,1,25,16777215\">" +
            std::string(1 + random() % 12, static_cast<char>('a' + random() % 26)) + "</d>";
  }
  text.resize(size);
  return text;
}

TEST(InflateRaw, ReturnsWholeDocumentsAndNothingForOtherStreams) {
  const std::string exact = CommentLikeText(256 * 40);
  const std::string large = CommentLikeText(1 << 20);
  const std::string deflatedLarge = fakesite::DeflateRaw(large);
  ASSERT_LT(deflatedLarge.size(), large.size() / 3);

  EXPECT_EQ(InflateRaw(fakesite::DeflateRaw(exact)), exact);
  EXPECT_EQ(InflateRaw(deflatedLarge), large);
  EXPECT_EQ(InflateRaw(deflatedLarge + "trailing bytes"), large);
  EXPECT_EQ(InflateRaw(fakesite::DeflateRaw("")), "");

  EXPECT_EQ(InflateRaw(""), "");
  EXPECT_EQ(InflateRaw(ZlibWrapped(exact)), "");
  EXPECT_EQ(InflateRaw(fakesite::Gzip(exact)), "");
  EXPECT_EQ(InflateRaw("<?xml version=\"1.0\"?><i></i>"), "");
}

TEST(InflateRaw, ATruncatedStreamYieldsWhatInflated) {
  const std::string text = CommentLikeText(200000);
  const std::string deflated = fakesite::DeflateRaw(text);
  const InflateResult half = InflateRawDetailed(deflated.substr(0, deflated.size() / 2));
  EXPECT_TRUE(half.ok);
  EXPECT_FALSE(half.complete);
  EXPECT_GT(half.bytes.size(), text.size() / 4);
  EXPECT_TRUE(text.starts_with(half.bytes));
  EXPECT_TRUE(InflateRawDetailed(deflated).complete);
}

TEST(DecodeCommentDocument, TakesRawDeflateOrPlainXml) {
  const std::string xml = "\xEF\xBB\xBF\n<?xml version=\"1.0\"?><i><d p=\"1,1\">a</d></i>";
  EXPECT_EQ(DecodeCommentDocument(fakesite::DeflateRaw(xml)), xml);
  EXPECT_EQ(DecodeCommentDocument(xml), xml);
  EXPECT_EQ(DecodeCommentDocument(fakesite::Gzip(xml)), std::nullopt);
  EXPECT_EQ(DecodeCommentDocument(""), std::nullopt);
  EXPECT_EQ(DecodeCommentDocument(fakesite::DeflateRaw("")), std::nullopt);
  const std::string packed = fakesite::DeflateRaw(xml + std::string(5000, ' '));
  // A stream cut short is no document: kept, it would stand for all comments.
  EXPECT_EQ(DecodeCommentDocument(packed.substr(0, packed.size() - 4)), std::nullopt);
  EXPECT_EQ(DecodeCommentDocument("<html><body>502 Bad Gateway</body></html>"), std::nullopt);
  EXPECT_EQ(DecodeCommentDocument("{\"code\":-404}"), std::nullopt);
}

// Raw deflate of `mebibytes` MiB of zero bytes: one fully flushed block of a
// MiB repeated (each starts afresh, so the copies are equal), then the end.
std::string ZeroBomb(std::size_t mebibytes) {
  z_stream stream{};
  if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  const std::string zeros(1 << 20, '\0');
  std::string block(1 << 16, '\0');
  const auto run = [&](const char* in, std::size_t size, int flush) {
    std::string out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in));
    stream.avail_in = static_cast<uInt>(size);
    do {
      stream.next_out = reinterpret_cast<Bytef*>(block.data());
      stream.avail_out = static_cast<uInt>(block.size());
      (void)deflate(&stream, flush);
      out.append(block.data(), block.size() - stream.avail_out);
    } while (stream.avail_out == 0);
    return out;
  };
  const std::string mebibyte = run(zeros.data(), zeros.size(), Z_FULL_FLUSH);
  std::string bomb;
  for (std::size_t i = 0; i < mebibytes; ++i) bomb += mebibyte;
  bomb += run(nullptr, 0, Z_FINISH);
  deflateEnd(&stream);
  return bomb;
}

// The document is found without a copy of a plain one: the view is the
// input itself, or the inflated stream kept beside it.
TEST(FindCommentDocument, ViewsPlainXmlInPlaceAndKeepsWhatItInflated) {
  const std::string xml = "<?xml version=\"1.0\"?><i><d p=\"1,1\">a</d></i>";
  const std::string packed = fakesite::DeflateRaw(xml);
  struct Case {
    std::string name;
    std::string bytes;
    std::optional<std::string> document;
    bool inPlace;
  };
  const std::vector<Case> cases = {
      {.name = "plain", .bytes = xml, .document = xml, .inPlace = true},
      {.name = "raw deflate", .bytes = packed, .document = xml, .inPlace = false},
      {.name = "cut stream",
       .bytes = packed.substr(0, packed.size() - 3),
       .document = std::nullopt,
       .inPlace = false},
      {.name = "gzip", .bytes = fakesite::Gzip(xml), .document = std::nullopt, .inPlace = false},
      {.name = "empty", .bytes = "", .document = std::nullopt, .inPlace = false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string inflated;
    const std::optional<std::string_view> found = FindCommentDocument(c.bytes, inflated);
    ASSERT_EQ(found.has_value(), c.document.has_value());
    if (!found) continue;
    EXPECT_EQ(*found, *c.document);
    EXPECT_EQ(found->data(), c.inPlace ? c.bytes.data() : inflated.data());
  }
}

TEST(InflateRaw, StopsAtTheOutputLimit) {
  const std::string bomb = ZeroBomb((kMaxCommentDocumentBytes >> 20) + 1);
  ASSERT_LT(bomb.size(), std::size_t{1} << 20);
  EXPECT_EQ(DecodeCommentDocument(bomb), std::nullopt);
  // Exactly at the limit is still a document; a byte past it is none.
  const std::string small = ZeroBomb(4);
  EXPECT_EQ(InflateRawDetailed(small, 4 << 20).bytes.size(), std::size_t{4} << 20);
  const InflateResult stopped = InflateRawDetailed(small, (4 << 20) - 1);
  EXPECT_TRUE(stopped.tooLarge);
  EXPECT_FALSE(stopped.ok);
  EXPECT_TRUE(stopped.bytes.empty());
}

}  // namespace
}  // namespace korvid
