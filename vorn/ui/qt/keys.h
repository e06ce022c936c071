#pragma once
// Qt key events to the platform's KeyEvent: W3C logical key names or the
// character, produced text, modifiers, and the physical W3C code from the X
// keycode. Pure functions; any thread.

#include <cstdint>
#include <string_view>

#include <QKeyEvent>

#include "vorn/ui/input.h"

namespace vorn_ui::qt {

// The W3C "code" of a Linux evdev key code, or "" when it has none here.
std::string_view w3c_code_from_evdev(std::uint32_t evdev);

Modifiers modifiers_from_qt(Qt::KeyboardModifiers m);
KeyEvent key_event_from_qt(const QKeyEvent& event);

}  // namespace vorn_ui::qt
