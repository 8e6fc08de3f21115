#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The log-in QR code drawn on this machine. The code's content is a log-in
// credential, so it never goes to an outside image service.
namespace korvid {

// A square of modules; true is dark.
struct QrModules {
  int size = 0;
  std::vector<bool> dark;  // row by row

  [[nodiscard]] bool Dark(int x, int y) const {
    return x >= 0 && y >= 0 && x < size && y < size &&
           dark[static_cast<std::size_t>(y) * static_cast<std::size_t>(size) +
                static_cast<std::size_t>(x)];
  }
};

// The code for a text (byte mode, error correction level M); nothing when the
// text does not fit a QR code.
[[nodiscard]] std::optional<QrModules> EncodeQr(std::string_view text);

// An RGBA picture, pixels as 0xAARRGGBB row by row.
struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> argb;
};

// PNG file bytes of a picture; empty when it cannot be compressed.
[[nodiscard]] std::vector<std::uint8_t> EncodePng(const Pixels& pixels);

// The code as a picture: scale pixels per module, a four-module light border.
[[nodiscard]] Pixels QrPixels(const QrModules& modules, int scale);
// PNG of the code for a picture box; empty when the text cannot be encoded.
[[nodiscard]] std::vector<std::uint8_t> QrPng(std::string_view text);

// The code for a terminal: two module rows per line with the half blocks
// ▀ ▄ █, light modules drawn as blocks (a dark terminal's foreground is
// light), with a two-module border. inverted draws the dark modules instead,
// for light terminals. Lines end with '\n'.
[[nodiscard]] std::string QrHalfBlocks(const QrModules& modules, bool inverted = false);

}  // namespace korvid
