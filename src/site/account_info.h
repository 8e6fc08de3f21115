#pragma once

#include <string>
#include <string_view>

#include "controls/controls.h"

namespace korvid {

enum class AccountCheck {
  kLoggedIn,     // the site accepted the cookies
  kRefused,      // the site answered with a code other than 0
  kUnreachable,  // no readable answer (network, blocked, not JSON)
};

// ShowAccountInfo: asks the site who the cookies of 编辑框_cookies belong to
// and fills 图片框_用户头像, 标签_用户信息 and 窗口EX1. Refused cookies empty
// the box and show the failure display with its notice; an unreachable site
// keeps the cookies and says so. Makes requests: workers only.
AccountCheck ShowAccountInfo(Controls& controls);

// The failure display of a check with an empty cookie box: no avatar,
// "登录状态：失败", the non-VIP badge and the notice.
void ShowLoginMissing(Controls& controls);

// 标签_用户信息 for an accepted account answer (UTF-8 JSON): the state line,
// then name, VIP state, level, reputation and coins, lines joined by CR LF.
// Empty when the answer is not JSON.
[[nodiscard]] std::string AccountLabelText(std::string_view answer);

inline constexpr std::string_view kNoticeLoginFailed = "登录失败,请重新获取二维码登录";
inline constexpr std::string_view kNoticeAccountUnreachable = "无法获取账号信息,请检查网络后重试";

}  // namespace korvid
