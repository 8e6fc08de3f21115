#include "danmaku/inflate_raw.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

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
  EXPECT_TRUE(DecodeCommentDocument(packed.substr(0, packed.size() - 4))->starts_with(xml));
  EXPECT_EQ(DecodeCommentDocument("<html><body>502 Bad Gateway</body></html>"), std::nullopt);
  EXPECT_EQ(DecodeCommentDocument("{\"code\":-404}"), std::nullopt);
}

}  // namespace
}  // namespace korvid
