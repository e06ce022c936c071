#pragma once
// Colours and the platform's colour tokens: the UI palette every screen uses
// and the dark terminal palette.

#include <algorithm>
#include <array>
#include <cstdint>

namespace vorn_ui {

struct Color {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;

    static constexpr Color rgb(std::uint32_t hex) {
        return {std::uint8_t(hex >> 16), std::uint8_t(hex >> 8), std::uint8_t(hex), 255};
    }
    // The same colour with its alpha multiplied by `opacity` (0..1).
    constexpr Color with_opacity(double opacity) const {
        double o = std::clamp(opacity, 0.0, 1.0);
        return {r, g, b, std::uint8_t(a * o + 0.5)};
    }
    friend constexpr bool operator==(const Color&, const Color&) = default;
};

// The UI colour tokens (a dark theme). Screens pick roles from these; the
// names say what a token is for, not where it is used.
struct Colors {
    Color background;    // window background behind everything
    Color surface;       // rails, headers, toolbars
    Color card;          // list rows, cards, dialogs
    Color field;         // text-input fill
    Color hover;         // element under the pointer
    Color border;        // outlines of fields and cards
    Color hairline;      // thin separators
    Color text;          // primary text
    Color text_muted;    // secondary text
    Color accent;        // primary buttons, selection, focus
    Color on_accent;     // text on accent fills
    Color danger;        // destructive actions, errors
    Color warning;       // warnings
    Color success;       // online, connected
    Color favorite;      // the favourite star
    Color offline;       // offline presence
    Color unknown;       // unknown presence

    static const Colors& dark();
    // A lighter variant of `c` for raised elements (hovered buttons, popovers).
    static Color lift(Color c, double amount = 0.08);
    // A hairline colour that stays visible on top of `c`.
    static Color hairline_on(Color c);
};

struct TerminalPalette {
    std::array<Color, 16> colors;  // ANSI 0-7, then bright 8-15
    Color foreground;
    Color background;

    static const TerminalPalette& dark();
};

}  // namespace vorn_ui
