// emby-upload: gives the Emby server's persons the collected avatars.

#include <unistd.h>

#include <iostream>

#include "cli/cli_command.h"
#include "controls/control_names.h"
#include "library/emby_upload.h"

namespace korvid::cli {
namespace {

bool ParseEmbyArgs(const Args& args, Controls& controls) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--url" && hasValue) {
      controls.SetText(kEmbyUrlBox, args[++i]);
    } else if (args[i] == "--key" && hasValue) {
      controls.SetText(kEmbyKeyBox, args[++i]);
    } else {
      return false;
    }
  }
  return true;
}

int EmbyUpload(const Args& args) {
  Core core;
  if (!ParseEmbyArgs(args, core.controls)) return Fail("emby-upload takes [--url U] [--key K]");
  // Redrawn in place on a terminal only; into a pipe or file only the end.
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  const auto progress = [terminal](std::size_t done, std::size_t total, const EmbyPerson& person,
                                   bool uploaded) {
    if (!terminal) return;
    std::cerr << "\r上传头像 " << done << "/" << total << " " << (uploaded ? "成功" : "失败") << " "
              << TerminalLine(person.name) << "\033[K" << std::flush;
  };
  const AvatarUploadResult result =
      UploadAvatars(core.controls.Text(kEmbyUrlBox), core.controls.Text(kEmbyKeyBox),
                    core.paths.AvatarFolder(), progress);
  if (terminal && result.successes + result.failures > 0) std::cerr << "\n";
  if (result.failure != EmbyFailure::kNone) return Fail(EmbyFailureText(result.failure));
  std::cout << UploadDoneText(result) << "\n"
            << "跳过：" << result.withoutPicture << "（没有头像）\n";
  return result.RefusedUploads() == 0 ? 0 : 1;
}

}  // namespace

KORVID_CLI_COMMAND("emby-upload",
                   "emby-upload [--url U] [--key K]\n"
                   "                      uploads the pictures in 头像 as the primary images of\n"
                   "                      the Emby server's persons; U and K default to the\n"
                   "                      library tab's settings; exit 1 when an upload was "
                   "refused or failed (not for\n"
                   "                      persons without a picture)",
                   EmbyUpload, 61);

}  // namespace korvid::cli
