#include "vt/terminal_view.h"

#include <algorithm>
#include <string>

#include "vorn/ui/colors.h"

namespace remote {

namespace {

constexpr int kBoldWeight = 3;
constexpr int kNormalWeight = 0;
constexpr std::uint8_t kCursorAlpha = 153;  // 60 % opacity

void append_utf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

vorn_ui::Color cell_color(const vorn_ui::TerminalPalette& palette,
                          std::optional<std::uint8_t> index) {
    if (!index) return palette.foreground;
    return palette.colors[std::min<std::size_t>(*index, palette.colors.size() - 1)];
}

bool same_pen(const Cell& a, const Cell& b) {
    return a.color == b.color && a.bold == b.bold;
}

}  // namespace

void draw_terminal(vorn_ui::Scene& scene, const vorn_ui::TextRenderer& text,
                   const vorn_ui::Rect& surface, const Terminal& terminal) {
    const vorn_ui::TerminalPalette& palette = vorn_ui::TerminalPalette::dark();
    scene.fill(surface, palette.background);
    scene.push_layer(surface, 1.0, vorn_ui::Blend::Normal);

    const Screen& screen = terminal.screen();
    const double left = surface.x0 + kTerminalMargin;
    const double top = surface.y0 + kTerminalMargin;
    std::string run_text;
    for (std::size_t r = 0; r < screen.grid.size(); ++r) {
        const std::vector<Cell>& row = screen.grid[r];
        const double y = top + kTerminalLineHeight * static_cast<double>(r);
        // Blanks belong to runs too: they are drawn as spaces so every run starts on its column.
        for (std::size_t start = 0; start < row.size();) {
            std::size_t end = start + 1;
            while (end < row.size() && same_pen(row[end], row[start])) ++end;
            run_text.clear();
            for (std::size_t i = start; i < end; ++i) append_utf8(run_text, row[i].ch);
            const double x = left + kTerminalCellWidth * static_cast<double>(start);
            text.draw_text_weighted(scene, run_text, {x, y}, cell_color(palette, row[start].color),
                                    kTerminalFontSize,
                                    row[start].bold ? kBoldWeight : kNormalWeight);
            start = end;
        }
    }

    // Drawn also when the cursor waits past the last column, just right of it.
    vorn_ui::Color cursor = palette.foreground;
    cursor.a = kCursorAlpha;
    const double cx = left + kTerminalCellWidth * static_cast<double>(screen.cursor_col);
    const double cy = top + kTerminalLineHeight * static_cast<double>(screen.cursor_row);
    scene.fill(vorn_ui::Rect{cx, cy, cx + kTerminalCellWidth, cy + kTerminalCursorHeight}, cursor);

    scene.pop_layer();
}

}  // namespace remote
