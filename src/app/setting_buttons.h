#pragma once

#include <functional>
#include <string>

#include "controls/controls.h"

namespace korvid {

inline constexpr int kMinDownloadThreads = 1;
inline constexpr int kMaxDownloadThreads = 10;

// 按钮_最大线程数加 (+1) and 按钮_最大线程数减 (-1): the number in
// 编辑框_最大线程 moved by delta and kept within 1..10. Text that is not a
// number counts as 0.
void StepMaxThreads(Controls& controls, int delta);

// 按钮_默认弹幕样式: puts the default style line back into 编辑框_弹幕样式.
void RestoreDefaultDanmakuStyle(Controls& controls);

// The download folder in effect: 编辑框_下载路径, or defaultFolder (the
// program's 下载 folder) while the box is empty.
[[nodiscard]] std::string EffectiveDownloadFolder(const Controls& controls,
                                                  const std::string& defaultFolder);

// 按钮_更改目录: asks for a folder titled "选择下载目录", starting at the folder
// in effect; a chosen folder goes into 编辑框_下载路径 and saveStates runs.
// False when the user cancelled. Blocks until the user answers.
bool ChangeDownloadFolder(Controls& controls, const std::string& defaultFolder,
                          const std::function<void()>& saveStates);

// Opens the download folder in effect with the desktop; a failure notice when
// it cannot be opened.
void OpenDownloadFolder(Controls& controls, const std::string& defaultFolder);

}  // namespace korvid
