#include "notice_box.h"

#include <QPainter>
#include <QPainterPath>

#include "ui_fonts.h"

namespace korvid {

namespace {

constexpr int kIconSize = 28;
constexpr int kPadding = 14;
constexpr int kTextPointSize = 11;
constexpr int kMinTextPointSize = 7;
constexpr int kTextMargin = 4;
constexpr qreal kCornerRadius = 8.0;

const QColor kSuccessColor(0x2E, 0xA0, 0x43);
const QColor kFailureColor(0xDC, 0x14, 0x3C);  // the list's crimson

}  // namespace

QPixmap DrawNoticeIcon(NoticeIcon icon, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  if (icon == NoticeIcon::None) return pixmap;
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(icon == NoticeIcon::Success ? kSuccessColor : kFailureColor);
  painter.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));

  QPen mark(Qt::white, size / 9.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter.setPen(mark);
  const qreal s = size;
  if (icon == NoticeIcon::Success) {
    QPainterPath tick;
    tick.moveTo(s * 0.28, s * 0.52);
    tick.lineTo(s * 0.44, s * 0.68);
    tick.lineTo(s * 0.73, s * 0.36);
    painter.drawPath(tick);
  } else {
    painter.drawLine(QPointF(s * 0.34, s * 0.34), QPointF(s * 0.66, s * 0.66));
    painter.drawLine(QPointF(s * 0.66, s * 0.34), QPointF(s * 0.34, s * 0.66));
  }
  return pixmap;
}

NoticeBox::NoticeBox(QWidget* parent)
    : QGroupBox(parent),
      m_successIcon(DrawNoticeIcon(NoticeIcon::Success, kIconSize)),
      m_failureIcon(DrawNoticeIcon(NoticeIcon::Failure, kIconSize)) {
  setFont(YaHeiFont(kTextPointSize));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  hide();
}

void NoticeBox::SetNotice(const QString& text, NoticeIcon icon) {
  m_icon = icon;
  setTitle(text);
  update();
}

void NoticeBox::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF card = QRectF(rect()).adjusted(1, 1, -1, -1);
  painter.setPen(QPen(QColor(0, 0, 0, 40), 1));
  painter.setBrush(QColor(255, 255, 255, 245));
  painter.drawRoundedRect(card, kCornerRadius, kCornerRadius);

  int textLeft = kPadding;
  if (m_icon != NoticeIcon::None) {
    const QPixmap& icon = m_icon == NoticeIcon::Success ? m_successIcon : m_failureIcon;
    painter.drawPixmap(kPadding, (height() - kIconSize) / 2, icon);
    textLeft += kIconSize + 10;
  }
  const QRect textArea(textLeft, kTextMargin, width() - textLeft - kPadding,
                       height() - 2 * kTextMargin);
  painter.setPen(QColor(0x22, 0x22, 0x22));
  // The whole text: wrapped (paths and Chinese have no spaces), in a smaller
  // font when it needs more lines than the box has.
  constexpr int kFlags = Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWrapAnywhere;
  QFont font = painter.font();
  for (int size = kTextPointSize; size > kMinTextPointSize; --size) {
    font.setPointSize(size);
    if (QFontMetrics(font).boundingRect(textArea, kFlags, title()).height() <= textArea.height()) {
      break;
    }
    font.setPointSize(size - 1);
  }
  painter.setFont(font);
  painter.drawText(textArea, kFlags, title());
}

}  // namespace korvid
