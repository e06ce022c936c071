#include "vorn/ui/colors.h"

namespace vorn_ui {

const Colors& Colors::dark() {
    static const Colors c{
        .background = Color::rgb(0x15171c),
        .surface = Color::rgb(0x1c1f26),
        .card = Color::rgb(0x232731),
        .field = Color::rgb(0x1a1d23),
        .hover = Color::rgb(0x2c313d),
        .border = Color::rgb(0x373d4a),
        .hairline = Color::rgb(0x2a2f3a),
        .text = Color::rgb(0xe8eaf0),
        .text_muted = Color::rgb(0x9aa1b0),
        .accent = Color::rgb(0x4c8dff),
        .on_accent = Color::rgb(0xffffff),
        .danger = Color::rgb(0xf05a5a),
        .warning = Color::rgb(0xf2b84b),
        .success = Color::rgb(0x3fcf8e),
        .favorite = Color::rgb(0xf7c948),
        .offline = Color::rgb(0x6b7280),
        .unknown = Color::rgb(0x8b93a3),
    };
    return c;
}

Color Colors::lift(Color c, double amount) {
    auto up = [&](std::uint8_t v) { return std::uint8_t(v + (255 - v) * std::clamp(amount, 0.0, 1.0) + 0.5); };
    return {up(c.r), up(c.g), up(c.b), c.a};
}

Color Colors::hairline_on(Color c) {
    // Perceived brightness decides whether the line goes lighter or darker.
    int luma = (c.r * 299 + c.g * 587 + c.b * 114) / 1000;
    return luma < 128 ? Color{255, 255, 255, 28} : Color{0, 0, 0, 36};
}

const TerminalPalette& TerminalPalette::dark() {
    static const TerminalPalette p{
        .colors = {Color::rgb(0x1d1f21), Color::rgb(0xcc6666), Color::rgb(0xb5bd68), Color::rgb(0xf0c674),
                   Color::rgb(0x81a2be), Color::rgb(0xb294bb), Color::rgb(0x8abeb7), Color::rgb(0xc5c8c6),
                   Color::rgb(0x666666), Color::rgb(0xff7b7b), Color::rgb(0xd0e07a), Color::rgb(0xffd787),
                   Color::rgb(0x99c2ff), Color::rgb(0xd7a8e0), Color::rgb(0xa3e3dc), Color::rgb(0xffffff)},
        .foreground = Color::rgb(0xd8dae0),
        .background = Color::rgb(0x101216),
    };
    return p;
}

}  // namespace vorn_ui
