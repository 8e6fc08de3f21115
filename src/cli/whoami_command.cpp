// whoami: the account the saved cookies belong to.

#include <iostream>

#include "cli/cli_command.h"
#include "controls/control_names.h"
#include "site/account_info.h"

namespace korvid::cli {
namespace {

int WhoAmI(const Args& args) {
  if (!args.empty()) return Fail("whoami takes no arguments");
  Core core;
  if (core.controls.Text(kCookiesBox).empty()) {
    return Fail("not logged in (run korvid-cli login)");
  }
  switch (ShowAccountInfo(core.controls)) {
    case AccountCheck::kLoggedIn:
      std::cout << PrintableLines(core.controls.Text(kUserInfoLabel)) << "\n";
      return 0;
    case AccountCheck::kRefused:
      return Fail("the site refused the saved cookies: log in again (korvid-cli login)");
    case AccountCheck::kUnreachable:
      break;
  }
  return Fail("the site could not be asked (network?)");
}

}  // namespace

KORVID_CLI_COMMAND("whoami",
                   "whoami                the account of the saved cookies; exit status 1 when\n"
                   "                      the site refuses them",
                   WhoAmI, 31);

}  // namespace korvid::cli
