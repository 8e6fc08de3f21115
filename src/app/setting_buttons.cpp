#include "app/setting_buttons.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "app/list_actions.h"
#include "controls/control_names.h"
#include "controls/window_layout.h"

namespace korvid {

namespace {

// Leading digits after optional blanks and sign, like the old integer
// conversion; no digits is 0, and a number too long for 64 bits is clamped.
long long LeadingNumber(std::string_view text) {
  const auto start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return 0;
  text.remove_prefix(start);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  (void)end;
  if (error == std::errc::result_out_of_range) return text.front() == '-' ? -1'000'000 : 1'000'000;
  return error == std::errc() ? value : 0;
}

}  // namespace

void StepMaxThreads(Controls& controls, int delta) {
  const long long current = LeadingNumber(controls.Text(kMaxDownloadsBox));
  const long long stepped = std::clamp<long long>(current, -1'000'000, 1'000'000) + delta;
  const long long kept = std::clamp<long long>(stepped, kMinDownloadThreads, kMaxDownloadThreads);
  controls.SetText(kMaxDownloadsBox, std::to_string(kept));
}

void RestoreDefaultDanmakuStyle(Controls& controls) {
  controls.SetText(kDanmakuStyleBox, kDefaultDanmakuStyle);
}

std::string EffectiveDownloadFolder(const Controls& controls, const std::string& defaultFolder) {
  std::string folder = controls.Text(kDownloadPathBox);
  return folder.empty() ? defaultFolder : folder;
}

bool ChangeDownloadFolder(Controls& controls, const std::string& defaultFolder,
                          const std::function<void()>& saveStates) {
  const std::string folder =
      controls.Shell().PickFolder("选择下载目录", EffectiveDownloadFolder(controls, defaultFolder));
  if (folder.empty()) return false;
  controls.SetText(kDownloadPathBox, folder);
  if (saveStates) saveStates();
  return true;
}

void OpenDownloadFolder(Controls& controls, const std::string& defaultFolder) {
  const std::string folder = EffectiveDownloadFolder(controls, defaultFolder);
  if (!controls.Shell().Open(folder)) {
    controls.ShowNotice(std::string(kNoticeCannotOpen) + folder, kNoticeFailed);
  }
}

}  // namespace korvid
