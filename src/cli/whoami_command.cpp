// whoami: the account the saved cookies belong to.

#include <ctime>
#include <iostream>

#include "app/login_record.h"
#include "cli/cli_command.h"
#include "controls/control_names.h"
#include "site/account_info.h"
#include "site/cookie_refresh.h"

namespace korvid::cli {
namespace {

// When the daily refresh check last ran and what it found; its notices.
void PrintRefreshCheck(Core& core) {
  for (const NoticeRecord& notice : core.controls.TakeNotices()) {
    std::cerr << notice.title << ": " << notice.text << "\n";
  }
  const LoginRecord record = LoadLoginRecord(core.started.settingsPath);
  if (record.lastCheckUnixMs <= 0) return;
  const std::time_t seconds = static_cast<std::time_t>(record.lastCheckUnixMs / 1000);
  std::tm local{};
  char when[32] = "";
  if (::localtime_r(&seconds, &local) != nullptr) {
    (void)std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  }
  std::cout << "续期检查: " << when << " " << record.lastCheckAnswer << "\n";
}

int WhoAmI(const Args& args) {
  if (!args.empty()) return Fail("whoami takes no arguments");
  Core core;
  if (core.controls.Text(kCookiesBox).empty()) {
    return Fail("not logged in (run korvid-cli login)");
  }
  (void)RefreshLoginIfDue(core.controls, core.started.settingsPath, UnixNowMs());
  PrintRefreshCheck(core);
  if (core.controls.Text(kCookiesBox).empty()) {
    return Fail("the site says the log-in has ended: log in again (korvid-cli login)");
  }
  switch (ShowAccountInfo(core.controls)) {
    case AccountCheck::kLoggedIn:
      std::cout << PrintableLines(core.controls.Text(kUserInfoLabel)) << "\n";
      return 0;
    case AccountCheck::kRefused:
      return Fail(
          "the site says the saved cookies are not logged in: log in again "
          "(korvid-cli login)");
    case AccountCheck::kKept:
      break;
  }
  return Fail(core.controls.Text(kUserInfoLabel));
}

}  // namespace

KORVID_CLI_COMMAND(
    "whoami",
    "whoami                the account of the saved cookies; exit status 1 when\n"
    "                      the site refuses them (the cookies are cleared only when\n"
    "                      it says they are not logged in)",
    WhoAmI, 31);

}  // namespace korvid::cli
