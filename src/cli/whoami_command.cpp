// whoami: the account the saved cookies belong to.

#include <iostream>

#include "cli/cli_command.h"
#include "site/account_info.h"

namespace korvid::cli {
namespace {

int WhoAmI(const Args& args) {
  if (!args.empty()) return Fail("whoami takes no arguments");
  Core core;
  if (core.controls.Text("编辑框_cookies").empty()) {
    return Fail("not logged in (run korvid-cli login)");
  }
  switch (ShowAccountInfo(core.controls)) {
    case AccountCheck::kLoggedIn:
      std::cout << PrintableLines(core.controls.Text("标签_用户信息")) << "\n";
      return 0;
    case AccountCheck::kRefused:
      return Fail(
          "the site says the saved cookies are not logged in: log in again "
          "(korvid-cli login)");
    case AccountCheck::kKept:
      break;
  }
  return Fail(core.controls.Text("标签_用户信息"));
}

}  // namespace

KORVID_CLI_COMMAND(
    "whoami",
    "whoami                the account of the saved cookies; exit status 1 when\n"
    "                      the site refuses them (the cookies are cleared only when\n"
    "                      it says they are not logged in)",
    WhoAmI, 31);

}  // namespace korvid::cli
