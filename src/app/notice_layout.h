#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvid {

inline constexpr int kNoticeHeight = 60;
inline constexpr int kNoticeNarrowWidth = 230;
inline constexpr int kNoticeWideWidth = 350;
inline constexpr int kNoticeStartTop = 10;
inline constexpr int kNoticeFirstTarget = 50;
inline constexpr int kNoticeStep = 10;  // px per step
inline constexpr int kNoticeStepIntervalMs = 25;
inline constexpr int kNoticeDwellMs = 1500;
// A text longer than the narrow box stays longer, this much per GBK byte
// beyond, up to kNoticeMaxDwellMs: time to read it whole.
inline constexpr int kNoticeDwellPerByteMs = 60;
inline constexpr int kNoticeMaxDwellMs = 6000;
// Longer texts (counted as GBK bytes: ASCII 1, others 2) get the wide box.
inline constexpr std::size_t kNoticeNarrowMaxBytes = 19;
// The wide box holds two lines of this many bytes; each line beyond makes it
// taller by kNoticeLineHeight, up to kNoticeMaxHeight (the box shrinks the
// font for a text longer still).
inline constexpr std::size_t kNoticeBytesPerLine = 36;
inline constexpr int kNoticeLineHeight = 20;
inline constexpr int kNoticeMaxHeight = 240;

enum class NoticeIcon { None, Success, Failure };

// Where one notice box is after some time has passed.
struct NoticeFrame {
  int id = 0;
  std::string text;
  NoticeIcon icon = NoticeIcon::None;
  int left = 0;
  int top = kNoticeStartTop;
  int width = kNoticeNarrowWidth;
  int height = kNoticeHeight;
  bool visible = true;  // false once: in the frame where the notice ends

  friend bool operator==(const NoticeFrame&, const NoticeFrame&) = default;
};

[[nodiscard]] int NoticeWidth(std::string_view text);
// Tall enough for the whole text, wrapped.
[[nodiscard]] int NoticeHeight(std::string_view text);
// How long the notice stays down before it slides back up.
[[nodiscard]] int NoticeDwellMs(std::string_view text);

// The geometry of the sliding notices, without a clock of its own: the window
// calls Advance from a 25 ms timer, tests call it with any step. Each notice
// slides from y = 10 down to 50 + the heights of the notices on screen when it came (60
// each, taller for long texts) in
// 10 px steps every 25 ms, stays 1,500 ms, slides back up the same way and is
// then hidden; only then does it stop counting as on screen.
// Not thread-safe: the window thread owns it.
class NoticeLayout {
 public:
  explicit NoticeLayout(int windowWidth = 0) : m_windowWidth(windowWidth) {}

  // The left edge follows the window's width for notices shown afterwards.
  void SetWindowWidth(int width) { m_windowWidth = width; }

  // Starts a notice and returns its id. "失败" picks the failure icon, "完成"
  // the success icon; any other title keeps the icon shown last.
  int Show(std::string_view text, std::string_view title);

  // Moves time on and returns every notice still shown, plus (with visible
  // false) those that ended during this step.
  std::vector<NoticeFrame> Advance(int elapsedMs);

  [[nodiscard]] int OnScreen() const { return static_cast<int>(m_notices.size()); }
  [[nodiscard]] NoticeIcon LastIcon() const { return m_lastIcon; }

 private:
  struct Notice {
    NoticeFrame frame;
    int target = kNoticeFirstTarget;
    int dwellMs = kNoticeDwellMs;
    long long elapsedMs = 0;
  };

  // Top edge at a moment of the notice's life; nothing when it has ended.
  [[nodiscard]] static bool TopAt(const Notice& notice, int& top);

  int m_windowWidth;
  int m_nextId = 1;
  NoticeIcon m_lastIcon = NoticeIcon::None;
  std::vector<Notice> m_notices;
};

}  // namespace korvid
