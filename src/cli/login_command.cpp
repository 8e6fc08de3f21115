// login: the QR-code log-in in a terminal; the cookies go into the settings file.

#include <iostream>
#include <thread>

#include "cli/cli_command.h"
#include "controls/control_names.h"
#include "site/cookie_refresh.h"
#include "site/qr_image.h"
#include "site/qr_login.h"

namespace korvid::cli {
namespace {

std::string_view StateText(QrPollState state) {
  switch (state) {
    case QrPollState::kNotScanned:
      return "等待扫码…";
    case QrPollState::kScanned:
      return kNoticeQrScanned;
    case QrPollState::kConfirmed:
      return "已确认";
    case QrPollState::kExpired:
      return "二维码已过期";
    case QrPollState::kUnknown:
      break;
  }
  return "…";
}

std::string_view OutcomeText(QrLoginOutcome outcome) {
  switch (outcome) {
    case QrLoginOutcome::kNoCookie:
      return "the site confirmed the log-in but set no cookie";
    case QrLoginOutcome::kExpired:
      return "the QR code expired; run login again";
    case QrLoginOutcome::kTimedOut:
      return "nobody confirmed the QR code in time; run login again";
    case QrLoginOutcome::kNoCode:
      return "the site gave no QR code (network?)";
    case QrLoginOutcome::kStopped:
    case QrLoginOutcome::kLoggedIn:
      break;
  }
  return "the log-in was stopped";
}

void PrintCode(const QrCode& code, bool inverted) {
  const std::optional<QrModules> modules = EncodeQr(code.url);
  if (modules) std::cout << QrHalfBlocks(*modules, inverted);
  std::cout << "用手机客户端扫描二维码登录\n" << std::flush;
}

// login --refresh: the cookie refresh check, now.
int RefreshNow(Core& core) {
  if (core.controls.Text(kCookiesBox).empty()) {
    return Fail("not logged in (run korvid-cli login)");
  }
  const std::optional<RefreshResult> result =
      RefreshLoginIfDue(core.controls, core.started.settingsPath, UnixNowMs(), true);
  const std::string answer = result ? RefreshAnswerText(*result) : std::string();
  if (!result || result->outcome == RefreshOutcome::kFailed) return Fail(answer);
  if (result->outcome == RefreshOutcome::kLoggedOut) {
    return Fail(answer + ": log in again (korvid-cli login)");
  }
  std::cout << answer << "\n";
  return 0;
}

int Login(const Args& args) {
  bool inverted = false;
  bool refresh = false;
  for (const std::string& arg : args) {
    if (arg != "--invert" && arg != "--refresh") {
      return Fail("login takes no argument but --invert or --refresh");
    }
    inverted = inverted || arg == "--invert";
    refresh = refresh || arg == "--refresh";
  }
  Core core;
  if (refresh) return RefreshNow(core);
  bool stored = false;
  const std::unique_ptr<QrLoginApi> api = DefaultQrLoginApi();
  QrLoginHooks hooks;
  hooks.wait = [](std::chrono::milliseconds interval) {
    std::this_thread::sleep_for(interval);
    return true;
  };
  hooks.codeShown = [inverted](const QrCode& code) { PrintCode(code, inverted); };
  hooks.stateChanged = [](QrPollState state) {
    std::cout << StateText(state) << "\n" << std::flush;
  };
  // Only the log-in's own keys are written: a setting changed meanwhile stays.
  hooks.loggedIn = [&](const std::string& cookies, const std::string& refreshToken) {
    stored = StoreNewLogin(core.started.settingsPath, cookies, refreshToken, UnixNowMs());
  };
  const QrLoginOutcome outcome = RunQrLogin(core.controls, *api, hooks);
  if (outcome != QrLoginOutcome::kLoggedIn) return Fail(OutcomeText(outcome));
  const std::string info = core.controls.Text(kUserInfoLabel);
  if (core.controls.Text(kCookiesBox).empty()) {
    return Fail("the site refused the new cookies: " + info);
  }
  if (!stored) return Fail("could not write " + core.started.settingsPath);
  std::cout << PrintableLines(info) << "\ncookies saved in "
            << TerminalLine(core.started.settingsPath) << "\n";
  return 0;
}

}  // namespace

KORVID_CLI_COMMAND("login",
                   "login [--invert|--refresh]\n"
                   "                      log in by scanning a QR code with the phone app; the\n"
                   "                      cookies are saved in the settings file (--invert for\n"
                   "                      terminals with a light background). --refresh: renew\n"
                   "                      the saved log-in now, as the daily check does when\n"
                   "                      the site asks for it",
                   Login, 30);

}  // namespace korvid::cli
