#pragma once

#include <QGroupBox>
#include <QPixmap>

#include "app/notice_layout.h"

namespace korvid {

// The two icons of the popup notice, drawn rather than shipped as files
// (NoticeIcon::None gives an empty picture).
QPixmap DrawNoticeIcon(NoticeIcon icon, int size);

// One popup notice box: the group box's title carries the text, painted as a
// card with the icon on the left. 分组框_弹出提示 is one of these; stacked
// notices use more boxes of the same kind.
class NoticeBox : public QGroupBox {
  Q_OBJECT

 public:
  explicit NoticeBox(QWidget* parent = nullptr);

  void SetNotice(const QString& text, NoticeIcon icon);
  [[nodiscard]] NoticeIcon Icon() const { return m_icon; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  NoticeIcon m_icon = NoticeIcon::None;
  QPixmap m_successIcon;
  QPixmap m_failureIcon;
};

}  // namespace korvid
