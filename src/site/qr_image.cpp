#include "site/qr_image.h"

#include <qrencode.h>
#include <zlib.h>

#include <array>
#include <memory>

namespace korvid {

namespace {

constexpr int kBorderModules = 4;
constexpr int kTerminalBorderModules = 2;
constexpr int kPictureScale = 4;
constexpr std::uint32_t kDarkPixel = 0xFF000000;
constexpr std::uint32_t kLightPixel = 0xFFFFFFFF;

void AppendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

void AppendChunk(std::vector<std::uint8_t>& out, const char (&type)[5],
                 const std::vector<std::uint8_t>& data) {
  AppendBigEndian(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uLong crc = crc32(0, out.data() + typeAt, static_cast<uInt>(data.size() + 4));
  AppendBigEndian(out, static_cast<std::uint32_t>(crc));
}

// Scanlines with filter byte 0, RGBA.
std::vector<std::uint8_t> RawScanlines(const Pixels& pixels) {
  std::vector<std::uint8_t> raw;
  raw.reserve(static_cast<std::size_t>(pixels.height) *
              (1 + 4 * static_cast<std::size_t>(pixels.width)));
  for (int y = 0; y < pixels.height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < pixels.width; ++x) {
      const std::uint32_t argb =
          pixels.argb[static_cast<std::size_t>(y) * static_cast<std::size_t>(pixels.width) +
                      static_cast<std::size_t>(x)];
      raw.push_back(static_cast<std::uint8_t>(argb >> 16));
      raw.push_back(static_cast<std::uint8_t>(argb >> 8));
      raw.push_back(static_cast<std::uint8_t>(argb));
      raw.push_back(static_cast<std::uint8_t>(argb >> 24));
    }
  }
  return raw;
}

}  // namespace

std::optional<QrModules> EncodeQr(std::string_view text) {
  const std::string copy(text);  // libqrencode wants a terminated string
  std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
      QRcode_encodeString8bit(copy.c_str(), 0, QR_ECLEVEL_M), &QRcode_free);
  if (!code || code->width <= 0) return std::nullopt;
  QrModules modules;
  modules.size = code->width;
  const auto count = static_cast<std::size_t>(code->width) * static_cast<std::size_t>(code->width);
  modules.dark.resize(count);
  for (std::size_t i = 0; i < count; ++i) modules.dark[i] = (code->data[i] & 1U) != 0;
  return modules;
}

std::vector<std::uint8_t> EncodePng(const Pixels& pixels) {
  if (pixels.width <= 0 || pixels.height <= 0 ||
      pixels.argb.size() !=
          static_cast<std::size_t>(pixels.width) * static_cast<std::size_t>(pixels.height)) {
    return {};
  }
  const std::vector<std::uint8_t> raw = RawScanlines(pixels);
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()),
                Z_BEST_COMPRESSION) != Z_OK) {
    return {};
  }
  packed.resize(packedSize);

  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  AppendBigEndian(header, static_cast<std::uint32_t>(pixels.width));
  AppendBigEndian(header, static_cast<std::uint32_t>(pixels.height));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter, no interlace
  AppendChunk(png, "IHDR", header);
  AppendChunk(png, "IDAT", packed);
  AppendChunk(png, "IEND", {});
  return png;
}

Pixels QrPixels(const QrModules& modules, int scale) {
  Pixels pixels;
  const int span = modules.size + 2 * kBorderModules;
  pixels.width = pixels.height = span * scale;
  pixels.argb.resize(static_cast<std::size_t>(pixels.width) *
                     static_cast<std::size_t>(pixels.height));
  for (int y = 0; y < pixels.height; ++y) {
    for (int x = 0; x < pixels.width; ++x) {
      const bool dark = modules.Dark(x / scale - kBorderModules, y / scale - kBorderModules);
      pixels.argb[static_cast<std::size_t>(y) * static_cast<std::size_t>(pixels.width) +
                  static_cast<std::size_t>(x)] = dark ? kDarkPixel : kLightPixel;
    }
  }
  return pixels;
}

std::vector<std::uint8_t> QrPng(std::string_view text) {
  const std::optional<QrModules> modules = EncodeQr(text);
  if (!modules) return {};
  return EncodePng(QrPixels(*modules, kPictureScale));
}

std::string QrHalfBlocks(const QrModules& modules, bool inverted) {
  // Index: upper module drawn (1) | lower module drawn (2).
  static constexpr std::array<std::string_view, 4> kCells = {" ", "▀", "▄", "█"};
  const int first = -kTerminalBorderModules;
  const int last = modules.size + kTerminalBorderModules;
  auto drawn = [&](int x, int y) { return y < last && modules.Dark(x, y) == inverted; };
  std::string text;
  for (int y = first; y < last; y += 2) {
    for (int x = first; x < last; ++x) {
      text += kCells[(drawn(x, y) ? 1U : 0U) | (drawn(x, y + 1) ? 2U : 0U)];
    }
    text += '\n';
  }
  return text;
}

}  // namespace korvid
