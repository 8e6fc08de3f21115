#include "site/quality_table.h"

#include <array>
#include <charconv>

namespace korvid {

namespace {

// Compared in this order; the first equal id wins.
constexpr std::array kQualityRows{
    QualityRow{"6", "清晰 240P"},      QualityRow{"16", "清晰 360P"},
    QualityRow{"32", "清晰 480P"},     QualityRow{"74", "高清 720P60"},
    QualityRow{"80", "高清 1080P"},    QualityRow{"112", "高清 1080P+"},
    QualityRow{"116", "高清 1080P60"}, QualityRow{"120", "超清 4K"},
    QualityRow{"125", "超清 HDR"},     QualityRow{"64", "高清 720P"},
    QualityRow{"126", "杜比视界"},     QualityRow{"127", "超高清 8K"},
};

// Families recognised by how `codecs` begins; any other codec is listed as
// H.265.
constexpr std::array kNamedFamilies{kAvcFamily, kHevcFamily, kAv1Family};
constexpr const CodecFamily& kOtherCodecs = kHevcFamily;

}  // namespace

std::span<const QualityRow> QualityRows() {
  return kQualityRows;
}

std::string_view QualityLabel(std::string_view id) {
  for (const QualityRow& row : kQualityRows) {
    if (row.id == id) return row.label;
  }
  return kUnknownQuality;
}

const CodecFamily& CodecFamilyOf(std::string_view codecs) {
  for (const CodecFamily& family : kNamedFamilies) {
    if (codecs.starts_with(family.prefix)) return family;
  }
  return kOtherCodecs;
}

std::string StreamLabel(std::string_view qualityId, std::string_view codecs) {
  std::string label(QualityLabel(qualityId));
  label += CodecFamilyOf(codecs).labelSuffix;
  return label;
}

std::optional<std::int64_t> StreamValue(std::string_view qualityId, std::string_view codecs) {
  std::int64_t id = 0;
  const char* end = qualityId.data() + qualityId.size();
  const auto [at, error] = std::from_chars(qualityId.data(), end, id);
  if (qualityId.empty() || error != std::errc() || at != end) return std::nullopt;
  return id + CodecFamilyOf(codecs).valueOffset;
}

WantedStream WantedStreamOf(std::int64_t itemValue) {
  const CodecFamily* wanted = &kAvcFamily;
  for (const CodecFamily& family : kNamedFamilies) {
    if (itemValue > family.valueOffset && family.valueOffset > wanted->valueOffset) {
      wanted = &family;
    }
  }
  return {wanted->prefix, itemValue - wanted->valueOffset};
}

}  // namespace korvid
