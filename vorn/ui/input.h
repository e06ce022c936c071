#pragma once
// Input events the platform hands to the application: keys with their logical
// meaning (W3C UI Events key names or the character), produced text,
// modifiers and physical code; pointer moves, buttons and wheel. Plain values.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "vorn/ui/geometry.h"

namespace vorn_ui {

// Named (non-character) keys, spelled as in the W3C "key" attribute values.
enum class NamedKey : std::uint8_t {
    Enter, Tab, Space, Backspace, Escape, Delete, Insert,
    ArrowUp, ArrowDown, ArrowLeft, ArrowRight, Home, End, PageUp, PageDown,
    F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
    Shift, Control, Alt, Meta, CapsLock, NumLock, ScrollLock,
    PrintScreen, Pause, ContextMenu, Unidentified,
};

// The W3C name of a named key ("ArrowLeft", "Enter", " " is not a name: Space is "Space").
std::string_view named_key_name(NamedKey key);
std::optional<NamedKey> named_key_from_name(std::string_view name);

struct Modifiers {
    bool control = false;
    bool super = false;  // the logo key (Meta / Command)
    bool shift = false;
    bool alt = false;
    bool any() const { return control || super || shift || alt; }
    friend bool operator==(const Modifiers&, const Modifiers&) = default;
};

struct KeyEvent {
    // Named key, or the character string the key stands for in the current
    // layout with modifiers other than Shift ignored ("a", "A", "/", "é").
    std::variant<NamedKey, std::string> key;
    std::string text;  // text the key produces (empty for most named keys)
    bool pressed = true;
    bool repeat = false;
    Modifiers modifiers;
    // Physical key position as a W3C "code" value ("KeyA", "Digit1",
    // "ArrowLeft", "Numpad4"), empty when the platform cannot tell.
    std::string code;

    const NamedKey* named() const { return std::get_if<NamedKey>(&key); }
    const std::string* character() const { return std::get_if<std::string>(&key); }
};

enum class PointerButton : std::uint8_t { Primary, Secondary, Middle, Other };

struct PointerMove {
    Point position;
};
struct PointerButtonEvent {
    Point position;
    PointerButton button = PointerButton::Primary;
    bool pressed = true;
    int click_count = 1;
    Modifiers modifiers;
};
struct PointerWheel {
    Point position;
    // Positive y scrolls the content up (the wheel turned toward the user).
    enum class Unit : std::uint8_t { Lines, Pixels } unit = Unit::Lines;
    double dx = 0;
    double dy = 0;
    double scale_factor = 1.0;  // device pixels per view unit
    Modifiers modifiers;
};
struct PointerLeave {};

// Text committed by an input method (compose, dead keys, CJK input).
struct ImeCommit {
    std::string text;
};

using InputEvent = std::variant<KeyEvent, PointerMove, PointerButtonEvent, PointerWheel, PointerLeave, ImeCommit>;

}  // namespace vorn_ui
