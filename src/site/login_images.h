#pragma once

#include <cstdint>
#include <vector>

// The pictures the log-in shows besides the QR code, drawn once on first use
// and kept: the VIP and non-VIP badges of 窗口EX1 and the picture that
// replaces an expired code in 图片框_登录二维码. PNG bytes.
namespace korvid {

[[nodiscard]] const std::vector<std::uint8_t>& VipBadgePng();
[[nodiscard]] const std::vector<std::uint8_t>& NonVipBadgePng();
[[nodiscard]] const std::vector<std::uint8_t>& ExpiredQrPng();

}  // namespace korvid
