#include "notice_presenter.h"

#include <algorithm>

namespace korvid {

NoticePresenter::NoticePresenter(QWidget& window, NoticeBox& firstBox, QObject* parent)
    : QObject(parent), m_window(window), m_firstBox(firstBox), m_layout(window.width()) {
  m_timer.setInterval(kNoticeStepIntervalMs);
  m_timer.setTimerType(Qt::PreciseTimer);
  connect(&m_timer, &QTimer::timeout, this, &NoticePresenter::Tick);
  m_firstBox.hide();
  m_spareBoxes.push_back(&m_firstBox);
}

void NoticePresenter::Show(const QString& text, const QString& title) {
  // Notices already moving get their share of the time before the new one starts.
  if (m_timer.isActive()) {
    Tick();
  } else {
    m_clock.start();
    m_timer.start();
  }
  m_layout.SetWindowWidth(m_window.width());
  m_lastId = m_layout.Show(text.toStdString(), title.toStdString());
  Apply(m_layout.Advance(0));
}

void NoticePresenter::Advance(int elapsedMs) {
  Apply(m_layout.Advance(elapsedMs));
  if (m_layout.OnScreen() == 0) m_timer.stop();
}

NoticeBox* NoticePresenter::BoxOf(int noticeId) const {
  auto it = m_boxes.find(noticeId);
  return it == m_boxes.end() ? nullptr : it->second;
}

void NoticePresenter::Tick() {
  Advance(static_cast<int>(m_clock.restart()));
}

void NoticePresenter::Apply(const std::vector<NoticeFrame>& frames) {
  for (const NoticeFrame& frame : frames) {
    auto it = m_boxes.find(frame.id);
    if (!frame.visible) {
      if (it == m_boxes.end()) continue;
      it->second->hide();
      m_spareBoxes.push_back(it->second);
      m_boxes.erase(it);
      continue;
    }
    NoticeBox* box = nullptr;
    if (it == m_boxes.end()) {
      box = AcquireBox();
      m_boxes.emplace(frame.id, box);
      box->SetNotice(QString::fromStdString(frame.text), frame.icon);
      box->show();
    } else {
      box = it->second;
    }
    box->setGeometry(frame.left, frame.top, frame.width, frame.height);
    box->raise();
  }
}

NoticeBox* NoticePresenter::AcquireBox() {
  // The window's own box first, so a single notice always shows in it.
  auto own = std::find(m_spareBoxes.begin(), m_spareBoxes.end(), &m_firstBox);
  if (own != m_spareBoxes.end()) {
    m_spareBoxes.erase(own);
    return &m_firstBox;
  }
  if (!m_spareBoxes.empty()) {
    NoticeBox* box = m_spareBoxes.back();
    m_spareBoxes.pop_back();
    return box;
  }
  auto* box = new NoticeBox(&m_window);
  box->setObjectName(m_firstBox.objectName() + QStringLiteral("_%1").arg(++m_clones));
  return box;
}

}  // namespace korvid
