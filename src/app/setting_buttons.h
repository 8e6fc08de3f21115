#pragma once

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

}  // namespace korvid
