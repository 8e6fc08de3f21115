#include "picture_box.h"

#include <QResizeEvent>

namespace korvid {

PictureBox::PictureBox(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setAlignment(Qt::AlignCenter);
  setFrameShape(QFrame::StyledPanel);
  setStyleSheet(QStringLiteral("color: #9a9a9a;"));
}

QSize PictureBox::sizeHint() const {
  return minimumSizeHint();
}

QSize PictureBox::minimumSizeHint() const {
  constexpr int kSmallest = 32;
  return minimumSize().expandedTo(QSize(kSmallest, kSmallest));
}

void PictureBox::SetImageBytes(const std::vector<std::uint8_t>& bytes) {
  m_original = QPixmap();
  if (!bytes.empty()) {
    m_original.loadFromData(bytes.data(), static_cast<uint>(bytes.size()));
  }
  ShowScaled();
}

void PictureBox::SetPlaceholder(const QString& text) {
  m_placeholder = text;
  ShowScaled();
}

void PictureBox::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  ShowScaled();
}

void PictureBox::ShowScaled() {
  if (m_original.isNull()) {
    setText(m_placeholder);
    return;
  }
  const QSize area = contentsRect().size();
  if (area.isEmpty()) return;
  setPixmap(m_original.scaled(area, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

}  // namespace korvid
