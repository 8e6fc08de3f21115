#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <map>
#include <vector>

#include "app/notice_layout.h"
#include "notice_box.h"

namespace korvid {

// Slides the popup notices into the window. The geometry comes from the core
// NoticeLayout; this class only drives it from a 25 ms timer (running only
// while a notice is on screen) and moves the boxes. The first notice uses the
// window's 分组框_弹出提示; notices on screen at the same time get boxes of
// the same kind made on demand and kept for reuse. Window thread only.
class NoticePresenter : public QObject {
  Q_OBJECT

 public:
  // window: where the boxes slide (its width places them); firstBox: the
  // window's own notice box, a child of window.
  NoticePresenter(QWidget& window, NoticeBox& firstBox, QObject* parent = nullptr);

  void Show(const QString& text, const QString& title);

  // Moves the notices on by elapsedMs (the timer passes the real time since
  // its last tick; tests pass any step).
  void Advance(int elapsedMs);

  [[nodiscard]] int OnScreen() const { return m_layout.OnScreen(); }
  // The box showing notice id, or nullptr once it has ended.
  [[nodiscard]] NoticeBox* BoxOf(int noticeId) const;
  [[nodiscard]] int LastNoticeId() const { return m_lastId; }

 private:
  void Tick();
  void Apply(const std::vector<NoticeFrame>& frames);
  NoticeBox* AcquireBox();

  QWidget& m_window;
  NoticeBox& m_firstBox;
  NoticeLayout m_layout;
  QTimer m_timer;
  QElapsedTimer m_clock;
  std::map<int, NoticeBox*> m_boxes;  // notice id -> its box
  std::vector<NoticeBox*> m_spareBoxes;
  int m_clones = 0;
  int m_lastId = 0;
};

}  // namespace korvid
