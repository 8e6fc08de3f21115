#include "ui_fonts.h"

#include <QStringList>

namespace korvid {

QFont YaHeiFont(int pointSize, bool bold) {
  QFont font;
  font.setFamilies({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                    QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                    QStringLiteral("Source Han Sans SC")});
  font.setPointSize(pointSize);
  font.setBold(bold);
  return font;
}

}  // namespace korvid
