#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Quality ids and codecs of the site's streams, and the values the stream
// list of the details panel gives them.
namespace korvid {

inline constexpr std::string_view kUnknownQuality = "无法识别";

struct QualityRow {
  std::string_view id;  // the quality id as the site writes it
  std::string_view label;
};

// The known quality ids, in the order they are compared.
[[nodiscard]] std::span<const QualityRow> QualityRows();

// Label of a quality id; the id is compared as text, exactly (" 80" and "080"
// are not 80). kUnknownQuality for any id not in the table.
[[nodiscard]] std::string_view QualityLabel(std::string_view id);

// A codec family of the stream list: what an entry's label gets and how far
// its item value is moved away from the quality id, so one value names both.
struct CodecFamily {
  std::string_view prefix;       // how the stream's `codecs` begins
  std::string_view labelSuffix;  // appended to the quality label
  std::int64_t valueOffset;      // item value = quality id + offset
};

inline constexpr CodecFamily kAvcFamily{"avc", " H.264", 0};
inline constexpr CodecFamily kHevcFamily{"hev", " H.265", 1000};
inline constexpr CodecFamily kAv1Family{"av01", " AV1", 2000};

// The family a stream's `codecs` text belongs to; every codec that is neither
// AVC nor AV1 is listed as H.265.
[[nodiscard]] const CodecFamily& CodecFamilyOf(std::string_view codecs);

// Stream list entry text: quality label plus the family's suffix.
[[nodiscard]] std::string StreamLabel(std::string_view qualityId, std::string_view codecs);
// Stream list item value: the quality id plus the family's offset; nullopt
// when the id is not a whole number.
[[nodiscard]] std::optional<std::int64_t> StreamValue(std::string_view qualityId,
                                                      std::string_view codecs);

// What a selected item value asks for: a codec prefix and a quality id.
struct WantedStream {
  std::string_view prefix;
  std::int64_t qualityId = 0;
};
// The family with the largest offset below the value wins (a value above 2000
// asks for "av01" and value - 2000, one above 1000 for "hev" and value - 1000,
// anything else for "avc" and the value).
[[nodiscard]] WantedStream WantedStreamOf(std::int64_t itemValue);

}  // namespace korvid
