#pragma once

#include <QFont>

namespace korvid {

// The task list's fonts: titles bold at 14, cells at 12.
inline constexpr int kTaskHeaderPointSize = 14;
inline constexpr int kTaskCellPointSize = 12;

// "微软雅黑" at the given point size. Where that font is missing (any Linux
// desktop) Qt takes the next family present: the usual CJK sans fonts first,
// then the platform default, so Chinese text never falls into empty boxes
// when any CJK font is installed.
QFont YaHeiFont(int pointSize, bool bold = false);

}  // namespace korvid
