#include "app/notice_layout.h"

#include <algorithm>

#include "controls/controls.h"
#include "net/text_width.h"

namespace korvid {

int NoticeDwellMs(std::string_view text) {
  const std::size_t bytes = GbkWidth(text);
  if (bytes <= kNoticeNarrowMaxBytes) return kNoticeDwellMs;
  const auto extra = static_cast<long long>(bytes - kNoticeNarrowMaxBytes) * kNoticeDwellPerByteMs;
  return static_cast<int>(std::min<long long>(kNoticeDwellMs + extra, kNoticeMaxDwellMs));
}

int NoticeWidth(std::string_view text) {
  return GbkWidth(text) > kNoticeNarrowMaxBytes ? kNoticeWideWidth : kNoticeNarrowWidth;
}

int NoticeHeight(std::string_view text) {
  constexpr std::size_t kLinesInBox = 2;
  const std::size_t lines = (GbkWidth(text) + kNoticeBytesPerLine - 1) / kNoticeBytesPerLine;
  if (lines <= kLinesInBox) return kNoticeHeight;
  const auto extra = static_cast<long long>(lines - kLinesInBox) * kNoticeLineHeight;
  return static_cast<int>(std::min<long long>(kNoticeHeight + extra, kNoticeMaxHeight));
}

int NoticeLayout::Show(std::string_view text, std::string_view title) {
  if (title == kNoticeFailed) {
    m_lastIcon = NoticeIcon::Failure;
  } else if (title == kNoticeDone) {
    m_lastIcon = NoticeIcon::Success;
  }
  Notice notice;
  notice.frame.id = m_nextId++;
  notice.frame.text = std::string(text);
  notice.frame.icon = m_lastIcon;
  notice.frame.left = m_windowWidth / 2 - kNoticeNarrowWidth / 2;
  notice.frame.width = NoticeWidth(text);
  notice.frame.height = NoticeHeight(text);
  notice.dwellMs = NoticeDwellMs(text);
  notice.target = kNoticeFirstTarget;
  for (const Notice& shown : m_notices) notice.target += shown.frame.height;
  m_notices.push_back(std::move(notice));
  return m_notices.back().frame.id;
}

std::vector<NoticeFrame> NoticeLayout::Advance(int elapsedMs) {
  std::vector<NoticeFrame> frames;
  std::vector<Notice> still;
  for (Notice& notice : m_notices) {
    notice.elapsedMs += elapsedMs > 0 ? elapsedMs : 0;
    int top = 0;
    if (TopAt(notice, top)) {
      notice.frame.top = top;
      frames.push_back(notice.frame);
      still.push_back(std::move(notice));
    } else {
      notice.frame.top = kNoticeStartTop;
      notice.frame.visible = false;
      frames.push_back(notice.frame);
    }
  }
  m_notices = std::move(still);
  return frames;
}

bool NoticeLayout::TopAt(const Notice& notice, int& top) {
  const long long steps = (notice.target - kNoticeStartTop) / kNoticeStep;
  const long long slideMs = steps * kNoticeStepIntervalMs;
  long long t = notice.elapsedMs;
  if (t < slideMs) {
    top = kNoticeStartTop + static_cast<int>(t / kNoticeStepIntervalMs) * kNoticeStep;
    return true;
  }
  t -= slideMs;
  if (t < notice.dwellMs) {
    top = notice.target;
    return true;
  }
  t -= notice.dwellMs;
  // The first step up comes right as the dwell ends; back at the start it is hidden.
  top = notice.target - static_cast<int>(t / kNoticeStepIntervalMs + 1) * kNoticeStep;
  return top > kNoticeStartTop;
}

}  // namespace korvid
