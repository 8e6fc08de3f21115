#include "global_hotkey.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <array>

#ifdef KORVID_HAVE_XCB
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <memory>
#endif

namespace korvid {

namespace {

#ifdef KORVID_HAVE_XCB
constexpr xcb_keysym_t kF1Keysym = 0xFFBE;  // XK_F1; F2..F12 follow it
// Num Lock (Mod2) and Caps Lock count as modifiers in X11: the key is grabbed
// with each combination so it works whatever their state.
constexpr std::array<std::uint16_t, 4> kLockMasks = {0, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK,
                                                     XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK};

xcb_connection_t* X11Connection() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_window_t RootWindow(xcb_connection_t* connection) {
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  return screen != nullptr ? screen->root : XCB_NONE;
}

std::uint8_t KeycodeOf(xcb_connection_t* connection, xcb_keysym_t keysym) {
  std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols(
      xcb_key_symbols_alloc(connection), &xcb_key_symbols_free);
  if (!symbols) return 0;
  std::unique_ptr<xcb_keycode_t, decltype(&free)> codes(
      xcb_key_symbols_get_keycode(symbols.get(), keysym), &free);
  return codes ? codes.get()[0] : 0;
}

// Grabs every lock combination; false (with nothing left grabbed) when any
// grab is refused, which is how X11 says another program holds the key.
bool GrabKey(xcb_connection_t* connection, xcb_window_t root, std::uint8_t keycode) {
  bool refused = false;
  for (std::uint16_t mask : kLockMasks) {
    const xcb_void_cookie_t cookie = xcb_grab_key_checked(connection, 1, root, mask, keycode,
                                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
      refused = true;
      free(error);
    }
  }
  if (refused) {
    for (std::uint16_t mask : kLockMasks) xcb_ungrab_key(connection, keycode, root, mask);
    xcb_flush(connection);
  }
  return !refused;
}
#endif

}  // namespace

int HotkeyCode(int index) {
  return index >= 0 && index < kHotkeyCount ? kFirstHotkeyCode + index : 0;
}

GlobalHotkey::GlobalHotkey(QObject* parent) : QObject(parent) {}

GlobalHotkey::~GlobalHotkey() {
  Unregister();
}

bool GlobalHotkey::Register(int index) {
  Unregister();
  if (HotkeyCode(index) == 0) return false;
#ifdef KORVID_HAVE_XCB
  xcb_connection_t* connection = X11Connection();
  if (connection == nullptr) return false;
  const std::uint8_t keycode = KeycodeOf(connection, kF1Keysym + static_cast<xcb_keysym_t>(index));
  if (keycode == 0 || !GrabKey(connection, RootWindow(connection), keycode)) return false;
  m_keycode = keycode;
  QCoreApplication::instance()->installNativeEventFilter(this);
  return true;
#else
  return false;
#endif
}

void GlobalHotkey::Unregister() {
  if (m_keycode == 0) return;
#ifdef KORVID_HAVE_XCB
  QCoreApplication::instance()->removeNativeEventFilter(this);
  if (xcb_connection_t* connection = X11Connection()) {
    const xcb_window_t root = RootWindow(connection);
    for (std::uint16_t mask : kLockMasks) xcb_ungrab_key(connection, m_keycode, root, mask);
    xcb_flush(connection);
  }
#endif
  m_keycode = 0;
}

bool GlobalHotkey::nativeEventFilter(const QByteArray& eventType, void* message,
                                     qintptr* /*result*/) {
#ifdef KORVID_HAVE_XCB
  if (m_keycode == 0 || eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7F) != XCB_KEY_PRESS) return false;
  const auto* press = static_cast<const xcb_key_press_event_t*>(message);
  if (press->detail != m_keycode) return false;
  emit Pressed();
  return true;
#else
  (void)eventType;
  (void)message;
  return false;
#endif
}

}  // namespace korvid
