#include "vt/keys.h"

#include <string_view>

namespace remote {

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

std::optional<Bytes> text_or_nothing(const std::string& text) {
    if (text.empty()) return std::nullopt;
    return bytes(text);
}

// Modifiers never change these bytes; keys without an entry send whatever text they produce.
std::optional<Bytes> encode_named(vorn_ui::NamedKey key, const std::string& text) {
    using vorn_ui::NamedKey;
    // clang-format off
    switch (key) {
        case NamedKey::Enter: return Bytes{0x0D};  // CR alone; the pty turns it into a newline
        case NamedKey::Tab: return Bytes{0x09};
        case NamedKey::Space: return Bytes{0x20};
        case NamedKey::ArrowUp: return bytes("\x1b[A");
        case NamedKey::ArrowDown: return bytes("\x1b[B");
        case NamedKey::ArrowRight: return bytes("\x1b[C");
        case NamedKey::ArrowLeft: return bytes("\x1b[D");
        case NamedKey::Home: return bytes("\x1b[H");
        case NamedKey::End: return bytes("\x1b[F");
        case NamedKey::Backspace: return Bytes{0x7F};  // DEL, what shells bind to erasing
        case NamedKey::Delete: return bytes("\x1b[3~");
        case NamedKey::Escape: return Bytes{0x1B};
        default: return text_or_nothing(text);
    }
    // clang-format on
}

// Control with a letter is the letter's control byte (Control+A is 0x01), whether or not Shift
// was held; Control with anything else sends the key's text as if Control were not held.
// Alt adds no prefix and Super is ignored.
std::optional<Bytes> encode_character(const std::string& key, const std::string& text,
                                      const vorn_ui::Modifiers& modifiers) {
    if (modifiers.control) {
        if (key.empty()) return std::nullopt;
        char first = key.front();
        if (first >= 'a' && first <= 'z') first = static_cast<char>(first - 'a' + 'A');
        if (first >= 'A' && first <= 'Z') return Bytes{static_cast<std::uint8_t>(first - 0x40)};
    }
    if (!text.empty()) return bytes(text);
    return text_or_nothing(key);
}

}  // namespace

std::optional<std::vector<std::uint8_t>> encode_key(const vorn_ui::KeyEvent& event) {
    if (!event.pressed) return std::nullopt;
    if (const vorn_ui::NamedKey* named = event.named()) return encode_named(*named, event.text);
    return encode_character(*event.character(), event.text, event.modifiers);
}

}  // namespace remote
