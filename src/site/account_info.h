#pragma once

#include <string>
#include <string_view>

#include "controls/controls.h"

namespace korvid {

enum class AccountCheck {
  kLoggedIn,  // the site accepted the cookies
  kRefused,   // code -101: the cookies are not logged in; the box was emptied
  kKept,      // any other failure (a block, -352, HTTP 412 or 5xx, no or no
              // readable answer): the cookies are kept, AccountKeptText shown
};

// ShowAccountInfo: asks the site who the cookies of 编辑框_cookies belong to
// and fills 图片框_用户头像, 标签_用户信息 and 窗口EX1. Only code -101 empties
// the box (with the failure display and its notice); every other failure
// keeps the cookies and says so in the label and a notice. Makes requests:
// workers only.
AccountCheck ShowAccountInfo(Controls& controls);

// "账号信息获取失败：<reason>，已保留登录信息".
[[nodiscard]] std::string AccountKeptText(std::string_view reason);

// The failure display of a check with an empty cookie box: no avatar,
// "登录状态：失败", the non-VIP badge and the notice.
void ShowLoginMissing(Controls& controls);

// 标签_用户信息 for an accepted account answer (UTF-8 JSON): the state line,
// then name, VIP state, level, reputation and coins, lines joined by CR LF.
// Empty when the answer is not JSON.
[[nodiscard]] std::string AccountLabelText(std::string_view answer);

inline constexpr std::string_view kNoticeLoginFailed = "登录失败,请重新获取二维码登录";

}  // namespace korvid
