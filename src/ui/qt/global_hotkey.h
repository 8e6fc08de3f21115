#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>
#include <string_view>

namespace korvid {

inline constexpr int kHotkeyCount = 12;       // F1 .. F12
inline constexpr int kFirstHotkeyCode = 112;  // the virtual-key code of F1
inline constexpr std::string_view kHotkeyFailed = "热键注册失败";

// The virtual-key code of the entry of 下拉框_热键 (F1 = 112 ... F12 = 123);
// 0 for an index outside the list.
[[nodiscard]] int HotkeyCode(int index);

// A key without modifiers that reaches the program wherever the focus is. On
// X11 the key is grabbed on the root window through xcb (with and without
// Num Lock and Caps Lock, which X11 counts as modifiers); elsewhere (Wayland,
// offscreen) no global key exists and Register fails. Window thread only.
class GlobalHotkey : public QObject, public QAbstractNativeEventFilter {
  Q_OBJECT

 public:
  explicit GlobalHotkey(QObject* parent = nullptr);
  ~GlobalHotkey() override;

  // Grabs F1 + index; false when there is no global key here or another
  // program holds it. A second Register releases the first key.
  [[nodiscard]] bool Register(int index);
  void Unregister();
  [[nodiscard]] bool Registered() const { return m_keycode != 0; }

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 signals:
  void Pressed();

 private:
  std::uint8_t m_keycode = 0;  // the grabbed X11 key code; 0 when none
};

}  // namespace korvid
