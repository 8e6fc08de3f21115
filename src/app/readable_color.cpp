#include "app/readable_color.h"

#include <algorithm>
#include <cmath>

namespace korvid {

namespace {

constexpr double kStep = 0.02;

double Linear(std::uint32_t channel) {
  const double value = static_cast<double>(channel & 0xFFU) / 255.0;
  return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double Luminance(std::uint32_t argb) {
  return 0.2126 * Linear(argb >> 16) + 0.7152 * Linear(argb >> 8) + 0.0722 * Linear(argb);
}

std::uint32_t Scaled(std::uint32_t argb, double factor) {
  const auto channel = [&](int shift) {
    const double value = static_cast<double>((argb >> shift) & 0xFFU) * factor;
    return static_cast<std::uint32_t>(std::lround(value)) << shift;
  };
  return (argb & 0xFF000000U) | channel(16) | channel(8) | channel(0);
}

}  // namespace

double ContrastRatio(std::uint32_t a, std::uint32_t b) {
  const double first = Luminance(a);
  const double second = Luminance(b);
  return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

std::uint32_t ReadableOn(std::uint32_t color, std::uint32_t background, double minRatio) {
  if (ContrastRatio(color, background) >= minRatio) return color;
  // Darker is what helps on a light list; black ends the search in any case.
  for (double factor = 1.0 - kStep; factor > 0.0; factor -= kStep) {
    const std::uint32_t darker = Scaled(color, factor);
    if (ContrastRatio(darker, background) >= minRatio) return darker;
  }
  return color & 0xFF000000U;
}

}  // namespace korvid
