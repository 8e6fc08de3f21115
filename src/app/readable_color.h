#pragma once

#include <cstdint>

namespace korvid {

// Text drawn in a colour below this contrast against its background is hard to
// read (and looks disabled).
inline constexpr double kMinTextContrast = 3.0;
// The background of the task list and of drop-down lists.
inline constexpr std::uint32_t kListBackground = 0xFFFFFFFF;

// The contrast ratio of two colours (ARGB, alpha ignored) as WCAG defines it:
// 1 for the same luminance up to 21 for black on white.
[[nodiscard]] double ContrastRatio(std::uint32_t a, std::uint32_t b);

// The colour itself when it has minRatio against background; else the same
// hue made darker (all channels scaled down together) until it has.
[[nodiscard]] std::uint32_t ReadableOn(std::uint32_t color, std::uint32_t background,
                                       double minRatio = kMinTextContrast);

}  // namespace korvid
