#include "rfb/input.h"

#include <algorithm>
#include <cmath>

namespace remote {
namespace {

using vorn_ui::NamedKey;

std::optional<std::uint32_t> table_keysym(NamedKey key) {
    switch (key) {
        case NamedKey::Enter: return 0xFF0D;
        case NamedKey::Tab: return 0xFF09;
        case NamedKey::Space: return 0x0020;
        case NamedKey::Backspace: return 0xFF08;
        case NamedKey::Delete: return 0xFFFF;
        case NamedKey::Escape: return 0xFF1B;
        case NamedKey::ArrowLeft: return 0xFF51;
        case NamedKey::ArrowUp: return 0xFF52;
        case NamedKey::ArrowRight: return 0xFF53;
        case NamedKey::ArrowDown: return 0xFF54;
        default: return std::nullopt;
    }
}

// The first code point of UTF-8 text, or nothing for empty or malformed text.
std::optional<std::uint32_t> first_code_point(std::string_view text) {
    if (text.empty()) return std::nullopt;
    auto b = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    std::uint32_t c = b(0);
    std::size_t n;
    if (c < 0x80) return c;
    if ((c & 0xE0) == 0xC0) {
        c &= 0x1F;
        n = 2;
    } else if ((c & 0xF0) == 0xE0) {
        c &= 0x0F;
        n = 3;
    } else if ((c & 0xF8) == 0xF0) {
        c &= 0x07;
        n = 4;
    } else {
        return std::nullopt;
    }
    if (text.size() < n) return std::nullopt;
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (b(i) & 0x3F);
    }
    constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMin[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    return c;
}

std::uint16_t to_coordinate(double offset, double extent, std::uint16_t size) {
    double v = offset / extent * size;
    v = std::clamp(v, 0.0, static_cast<double>(size - 1));
    return static_cast<std::uint16_t>(std::min(std::trunc(v), 65535.0));
}

}  // namespace

std::optional<std::uint32_t> keysym_for_key(const vorn_ui::KeyEvent& key) {
    if (const NamedKey* named = key.named()) {
        if (auto keysym = table_keysym(*named)) return keysym;
    }
    return first_code_point(key.text);
}

std::vector<VncInput> inputs_for_key(const vorn_ui::KeyEvent& key) {
    if (!key.pressed) return {};
    auto keysym = keysym_for_key(key);
    if (!keysym) return {};
    return {VncInput{VncInput::Key{true, *keysym}}, VncInput{VncInput::Key{false, *keysym}}};
}

std::optional<std::pair<std::uint16_t, std::uint16_t>> map_pointer(
    double px, double py, const SurfaceRect& s,
    std::optional<std::pair<std::uint16_t, std::uint16_t>> frame) {
    const double w = s.right - s.left, h = s.bottom - s.top;
    if (!(w > 0) || !(h > 0) || !frame || frame->first == 0 || frame->second == 0) {
        return std::nullopt;
    }
    if (!(px >= s.left && px < s.right && py >= s.top && py < s.bottom)) return std::nullopt;
    return std::pair{to_coordinate(px - s.left, w, frame->first),
                     to_coordinate(py - s.top, h, frame->second)};
}

std::uint8_t update_button_mask(std::uint8_t mask, vorn_ui::PointerButton button, bool pressed) {
    std::uint8_t bit = 0;
    switch (button) {
        case vorn_ui::PointerButton::Primary:
            bit = 1;
            break;
        case vorn_ui::PointerButton::Middle:
            bit = 2;
            break;
        case vorn_ui::PointerButton::Secondary:
            bit = 4;
            break;
        case vorn_ui::PointerButton::Other:
            return mask;
    }
    return static_cast<std::uint8_t>(pressed ? (mask | bit) : (mask & ~bit));
}

}  // namespace remote
