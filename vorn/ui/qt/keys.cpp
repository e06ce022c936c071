#include "vorn/ui/qt/keys.h"

#include <array>

namespace vorn_ui::qt {
namespace {

// Linux evdev codes (input-event-codes.h) to W3C UI Events "code" values.
constexpr std::array<std::string_view, 128> kEvdevCodes = [] {
    std::array<std::string_view, 128> t{};
    t[1] = "Escape";
    const std::string_view digits[] = {"Digit1", "Digit2", "Digit3", "Digit4", "Digit5",
                                       "Digit6", "Digit7", "Digit8", "Digit9", "Digit0"};
    for (int i = 0; i < 10; ++i) t[2 + i] = digits[i];
    t[12] = "Minus";
    t[13] = "Equal";
    t[14] = "Backspace";
    t[15] = "Tab";
    const std::string_view row1[] = {"KeyQ", "KeyW", "KeyE", "KeyR", "KeyT",
                                     "KeyY", "KeyU", "KeyI", "KeyO", "KeyP"};
    for (int i = 0; i < 10; ++i) t[16 + i] = row1[i];
    t[26] = "BracketLeft";
    t[27] = "BracketRight";
    t[28] = "Enter";
    t[29] = "ControlLeft";
    const std::string_view row2[] = {"KeyA", "KeyS", "KeyD", "KeyF", "KeyG",
                                     "KeyH", "KeyJ", "KeyK", "KeyL"};
    for (int i = 0; i < 9; ++i) t[30 + i] = row2[i];
    t[39] = "Semicolon";
    t[40] = "Quote";
    t[41] = "Backquote";
    t[42] = "ShiftLeft";
    t[43] = "Backslash";
    const std::string_view row3[] = {"KeyZ", "KeyX", "KeyC", "KeyV", "KeyB", "KeyN", "KeyM"};
    for (int i = 0; i < 7; ++i) t[44 + i] = row3[i];
    t[51] = "Comma";
    t[52] = "Period";
    t[53] = "Slash";
    t[54] = "ShiftRight";
    t[55] = "NumpadMultiply";
    t[56] = "AltLeft";
    t[57] = "Space";
    t[58] = "CapsLock";
    const std::string_view fkeys[] = {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10"};
    for (int i = 0; i < 10; ++i) t[59 + i] = fkeys[i];
    t[69] = "NumLock";
    t[70] = "ScrollLock";
    t[71] = "Numpad7";
    t[72] = "Numpad8";
    t[73] = "Numpad9";
    t[74] = "NumpadSubtract";
    t[75] = "Numpad4";
    t[76] = "Numpad5";
    t[77] = "Numpad6";
    t[78] = "NumpadAdd";
    t[79] = "Numpad1";
    t[80] = "Numpad2";
    t[81] = "Numpad3";
    t[82] = "Numpad0";
    t[83] = "NumpadDecimal";
    t[86] = "IntlBackslash";
    t[87] = "F11";
    t[88] = "F12";
    t[89] = "IntlRo";
    t[96] = "NumpadEnter";
    t[97] = "ControlRight";
    t[98] = "NumpadDivide";
    t[99] = "PrintScreen";
    t[100] = "AltRight";
    t[102] = "Home";
    t[103] = "ArrowUp";
    t[104] = "PageUp";
    t[105] = "ArrowLeft";
    t[106] = "ArrowRight";
    t[107] = "End";
    t[108] = "ArrowDown";
    t[109] = "PageDown";
    t[110] = "Insert";
    t[111] = "Delete";
    t[113] = "AudioVolumeMute";
    t[114] = "AudioVolumeDown";
    t[115] = "AudioVolumeUp";
    t[117] = "NumpadEqual";
    t[119] = "Pause";
    t[121] = "NumpadComma";
    t[124] = "IntlYen";
    t[125] = "MetaLeft";
    t[126] = "MetaRight";
    t[127] = "ContextMenu";
    return t;
}();

constexpr std::array<std::string_view, 12> kHighF = {"F13", "F14", "F15", "F16", "F17", "F18",
                                                     "F19", "F20", "F21", "F22", "F23", "F24"};

std::optional<NamedKey> named_from_qt(int key) {
    switch (key) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return NamedKey::Enter;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return NamedKey::Tab;
        case Qt::Key_Space:
            return NamedKey::Space;
        case Qt::Key_Backspace:
            return NamedKey::Backspace;
        case Qt::Key_Escape:
            return NamedKey::Escape;
        case Qt::Key_Delete:
            return NamedKey::Delete;
        case Qt::Key_Insert:
            return NamedKey::Insert;
        case Qt::Key_Up:
            return NamedKey::ArrowUp;
        case Qt::Key_Down:
            return NamedKey::ArrowDown;
        case Qt::Key_Left:
            return NamedKey::ArrowLeft;
        case Qt::Key_Right:
            return NamedKey::ArrowRight;
        case Qt::Key_Home:
            return NamedKey::Home;
        case Qt::Key_End:
            return NamedKey::End;
        case Qt::Key_PageUp:
            return NamedKey::PageUp;
        case Qt::Key_PageDown:
            return NamedKey::PageDown;
        case Qt::Key_Shift:
            return NamedKey::Shift;
        case Qt::Key_Control:
            return NamedKey::Control;
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
            return NamedKey::Alt;
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R:
            return NamedKey::Meta;
        case Qt::Key_CapsLock:
            return NamedKey::CapsLock;
        case Qt::Key_NumLock:
            return NamedKey::NumLock;
        case Qt::Key_ScrollLock:
            return NamedKey::ScrollLock;
        case Qt::Key_Print:
            return NamedKey::PrintScreen;
        case Qt::Key_Pause:
            return NamedKey::Pause;
        case Qt::Key_Menu:
            return NamedKey::ContextMenu;
        default:
            break;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return static_cast<NamedKey>(int(NamedKey::F1) + (key - Qt::Key_F1));
    return std::nullopt;
}

bool printable(const QString& s) {
    if (s.isEmpty()) return false;
    for (QChar c : s) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
    }
    return true;
}

}  // namespace

std::string_view w3c_code_from_evdev(std::uint32_t evdev) {
    if (evdev < kEvdevCodes.size()) return kEvdevCodes[evdev];
    if (evdev >= 183 && evdev < 183 + kHighF.size()) return kHighF[evdev - 183];
    return {};
}

Modifiers modifiers_from_qt(Qt::KeyboardModifiers m) {
    return {.control = m.testFlag(Qt::ControlModifier),
            .super = m.testFlag(Qt::MetaModifier),
            .shift = m.testFlag(Qt::ShiftModifier),
            .alt = m.testFlag(Qt::AltModifier)};
}

KeyEvent key_event_from_qt(const QKeyEvent& event) {
    KeyEvent out;
    out.pressed = event.type() != QEvent::KeyRelease;
    out.repeat = event.isAutoRepeat();
    out.modifiers = modifiers_from_qt(event.modifiers());
    // X keycodes are evdev codes offset by 8; 0 means the platform gave none.
    quint32 scan = event.nativeScanCode();
    if (scan > 8) out.code = std::string(w3c_code_from_evdev(scan - 8));

    QString text = event.text();
    if (printable(text)) out.text = text.toStdString();
    const int key = event.key();
    if (auto named = named_from_qt(key)) {
        out.key = *named;
        if (*named != NamedKey::Space) out.text.clear();
        return out;
    }
    // The character ignoring Control and Alt: the produced text when there is
    // some, else Qt's key code, which names the unshifted-or-shifted symbol.
    if (!out.text.empty() && !out.modifiers.control && !out.modifiers.alt) {
        out.key = out.text;
        return out;
    }
    if (key > 0 && key < 0x110000 && key != Qt::Key_unknown) {
        const char32_t code_point = char32_t(key);
        QString ch = QString::fromUcs4(&code_point, 1);
        if (!out.modifiers.shift) ch = ch.toLower();
        if (printable(ch)) {
            out.key = ch.toStdString();
            return out;
        }
    }
    if (!out.text.empty()) {
        out.key = out.text;
        return out;
    }
    out.key = NamedKey::Unidentified;
    return out;
}

}  // namespace vorn_ui::qt
