#include "site/account_info.h"

#include <vector>

#include "controls/control_names.h"
#include "net/http_client.h"
#include "net/json_document.h"
#include "net/site_hosts.h"
#include "site/login_images.h"
#include "site/site_headers.h"

namespace korvid {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kStateFailed = "登录状态：失败";
// The one answer that says the cookies are not (any more) logged in.
constexpr std::string_view kCodeNotLoggedIn = "-101";
constexpr int kHttpOk = 200;

bool IsVip(const JsonDocument& account) {
  return account.GetValue("data.vip.status") != "0";
}

std::string AccountLines(const JsonDocument& account) {
  const std::string level = "等级：" + account.GetValue("data.level") + "  " +
                            account.GetValue("data['level_exp']['current_exp']") + "/" +
                            account.GetValue("data['level_exp']['next_exp']");
  const std::string name = "用户名：" + account.GetValue("data.name");
  const std::string moral = "信誉：" + account.GetValue("data.moral");
  const std::string coins = "硬币 ：" + account.GetValue("data.coins");
  const std::string vip = IsVip(account) ? "VIP状态：大会员" : "VIP状态：非会员";
  std::string text = "登录状态：已登录";
  for (const std::string* line : {&name, &vip, &level, &moral}) {
    text.append(kLineEnd).append(*line);
  }
  return text.append(kLineEnd).append(coins);
}

void ShowAvatar(Controls& controls, const std::string& faceUrl) {
  std::string bytes = faceUrl.empty() ? std::string() : PlainGet(faceUrl);
  controls.SetPicture(kUserAvatarPicture, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

std::string AccountFailureReason(const HttpResponse& response, const JsonDocument& account,
                                 bool readable) {
  if (!response.Completed()) return "网络错误";
  if (readable) {
    std::string reason = "代码 " + account.GetValue("code");
    const std::string message = account.GetValue("message");
    return message.empty() ? reason : reason + " " + message;
  }
  if (response.status != kHttpOk) return "HTTP " + std::to_string(response.status);
  return "无法读取的回答";
}

}  // namespace

std::string AccountLabelText(std::string_view answer) {
  JsonDocument account;
  return account.Parse(answer) ? AccountLines(account) : std::string();
}

AccountCheck ShowAccountInfo(Controls& controls) {
  std::string cookies = controls.Text(kCookiesBox);
  HttpInetOptions options;
  options.cookies = &cookies;
  options.headers = SiteRequestHeaders(CurrentSiteHosts());
  const HttpResponse response = HttpRequestInet(ApiUrl("/x/space/myinfo"), options);
  JsonDocument account;
  const bool readable = response.Completed() && account.Parse(response.body) &&
                        account.TypeOf("code") != kJsonMissing;
  const std::string code = readable ? account.GetValue("code") : std::string();
  if (code == kCodeNotLoggedIn) {
    ShowAvatar(controls, account.GetValue("data.face"));
    controls.SetText(kCookiesBox, "");
    controls.SetText(kUserInfoLabel, kStateFailed);
    controls.ShowNotice(kNoticeLoginFailed, kNoticeFailed);
    controls.SetPicture(kVipBadgePicture, NonVipBadgePng());
    return AccountCheck::kRefused;
  }
  if (code != "0") {
    // A block, a busy server or a lost answer says nothing about the cookies.
    const std::string text = AccountKeptText(AccountFailureReason(response, account, readable));
    controls.SetText(kUserInfoLabel, text);
    controls.ShowNotice(text, kNoticeFailed);
    return AccountCheck::kKept;
  }
  ShowAvatar(controls, account.GetValue("data.face"));
  controls.SetPicture(kVipBadgePicture, IsVip(account) ? VipBadgePng() : NonVipBadgePng());
  controls.SetText(kUserInfoLabel, AccountLines(account));
  return AccountCheck::kLoggedIn;
}

std::string AccountKeptText(std::string_view reason) {
  return "账号信息获取失败：" + std::string(reason) + "，已保留登录信息";
}

void ShowLoginMissing(Controls& controls) {
  controls.SetPicture(kUserAvatarPicture, {});
  controls.SetText(kUserInfoLabel, kStateFailed);
  controls.ShowNotice(kNoticeLoginFailed, kNoticeFailed);
  controls.SetPicture(kVipBadgePicture, NonVipBadgePng());
}

}  // namespace korvid
