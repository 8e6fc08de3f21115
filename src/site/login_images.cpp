#include "site/login_images.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "site/qr_image.h"

namespace korvid {

namespace {

constexpr int kSubsamples = 4;
constexpr std::uint32_t kPink = 0xFFFB7299;
constexpr std::uint32_t kGrey = 0xFFB0B3B8;
constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr std::uint32_t kPaper = 0xFFEEF0F2;
constexpr std::uint32_t kInk = 0xFF8A8F96;

using Shape = std::function<bool(double x, double y)>;

std::uint32_t Blend(std::uint32_t under, std::uint32_t over, double coverage) {
  auto channel = [&](int shift) {
    const double a = (under >> shift) & 0xFFU;
    const double b = (over >> shift) & 0xFFU;
    return static_cast<std::uint32_t>(std::lround(a + (b - a) * coverage)) << shift;
  };
  return channel(24) | channel(16) | channel(8) | channel(0);
}

// Paints a shape with smooth edges (coverage by subsamples).
void Paint(Pixels& pixels, const Shape& shape, std::uint32_t color) {
  for (int y = 0; y < pixels.height; ++y) {
    for (int x = 0; x < pixels.width; ++x) {
      int inside = 0;
      for (int sy = 0; sy < kSubsamples; ++sy) {
        for (int sx = 0; sx < kSubsamples; ++sx) {
          inside += shape(x + (sx + 0.5) / kSubsamples, y + (sy + 0.5) / kSubsamples) ? 1 : 0;
        }
      }
      if (inside == 0) continue;
      auto& pixel = pixels.argb[static_cast<std::size_t>(y * pixels.width + x)];
      pixel = Blend(pixel, color, static_cast<double>(inside) / (kSubsamples * kSubsamples));
    }
  }
}

Pixels Blank(int width, int height, std::uint32_t color) {
  return Pixels{width, height,
                std::vector<std::uint32_t>(static_cast<std::size_t>(width * height), color)};
}

double SegmentDistance(double x, double y, double x1, double y1, double x2, double y2) {
  const double dx = x2 - x1;
  const double dy = y2 - y1;
  const double t = std::clamp(((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
  return std::hypot(x - (x1 + t * dx), y - (y1 + t * dy));
}

Shape Stroke(double x1, double y1, double x2, double y2, double halfWidth) {
  return [=](double x, double y) { return SegmentDistance(x, y, x1, y1, x2, y2) <= halfWidth; };
}

Shape Pill(double width, double height) {
  const double radius = height / 2;
  return Stroke(radius, radius, width - radius, radius, radius);
}

// A rounded badge with a bold "V" on it.
std::vector<std::uint8_t> Badge(std::uint32_t color) {
  constexpr int kWidth = 72;
  constexpr int kHeight = 28;
  Pixels pixels = Blank(kWidth, kHeight, 0x00FFFFFF);
  Paint(pixels, Pill(kWidth, kHeight), color);
  Paint(pixels, Stroke(28, 8, 36, 21, 2.4), kWhite);
  Paint(pixels, Stroke(36, 21, 44, 8, 2.4), kWhite);
  return EncodePng(pixels);
}

// A clock face on grey paper: the time to scan has run out.
std::vector<std::uint8_t> ExpiredPicture() {
  constexpr int kSide = 180;
  constexpr double kCentre = kSide / 2.0;
  Pixels pixels = Blank(kSide, kSide, kPaper);
  Paint(
      pixels,
      [](double x, double y) {
        const double r = std::hypot(x - kCentre, y - kCentre);
        return r >= 44 && r <= 52;
      },
      kInk);
  Paint(pixels, Stroke(kCentre, kCentre, kCentre, kCentre - 32, 4), kInk);
  Paint(pixels, Stroke(kCentre, kCentre, kCentre + 22, kCentre + 12, 4), kInk);
  return EncodePng(pixels);
}

}  // namespace

const std::vector<std::uint8_t>& VipBadgePng() {
  static const std::vector<std::uint8_t> png = Badge(kPink);
  return png;
}

const std::vector<std::uint8_t>& NonVipBadgePng() {
  static const std::vector<std::uint8_t> png = Badge(kGrey);
  return png;
}

const std::vector<std::uint8_t>& ExpiredQrPng() {
  static const std::vector<std::uint8_t> png = ExpiredPicture();
  return png;
}

}  // namespace korvid
