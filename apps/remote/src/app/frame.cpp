// The window frame every screen shares: the navigation rail with its two buttons, and in the
// narrow layout the scrim and the menu button that opens and closes the drawer.

#include <string_view>

#include "app/remote_app.h"
#include "vorn/ui/colors.h"
#include "vorn/ui/text.h"

namespace remote {
namespace {

using vorn_ui::Color;
using vorn_ui::Colors;
using vorn_ui::Point;
using vorn_ui::Rect;
using vorn_ui::RoundedRect;

constexpr double kRailButton = 32;
constexpr double kMenuButton = 40;
constexpr double kMenuInset = 12;
constexpr double kScrimOpacity = 0.26;

Rect menu_button_rect(const Rect& content) {
    return {content.x0 + kMenuInset, content.y0 + kMenuInset, content.x0 + kMenuInset + kMenuButton,
            content.y0 + kMenuInset + kMenuButton};
}

void draw_centered_glyph(vorn_ui::Scene& scene, std::string_view glyph, const Rect& box,
                         Color color, double size_pt, int weight) {
    const vorn_ui::TextRenderer text;
    const double w = text.measure_weighted(glyph, size_pt, weight);
    const double h = text.line_height(size_pt);
    text.draw_text_weighted(scene, glyph, {box.center().x - w / 2, box.center().y - h / 2}, color,
                            size_pt, weight);
}

}  // namespace

void RemoteApp::paint_navigation(vorn_ui::Scene& scene) {
    const Colors& colors = Colors::dark();
    const Rect& c = content_rect;
    const double reveal = drawer.flap.reveal();

    if (narrow && reveal > 0.001) {
        scene.fill(c, Color{0, 0, 0, 255}.with_opacity(kScrimOpacity * reveal));
    }

    if (reveal > 0.001) {
        const double left = c.x0 - (1 - drawer.flap.slide()) * kRailWidth;
        const Rect rail{left, c.y0, left + kRailWidth, c.y1};
        scene.fill(rail, colors.surface);
        scene.fill(Rect{rail.x1 - 1, rail.y0, rail.x1, rail.y1}, colors.border);

        // Below the menu button when there is one.
        const double top = c.y0 + (narrow ? kMenuInset + kMenuButton + 12 : 16);
        const double x = left + (kRailWidth - kRailButton) / 2;
        struct RailButton {
            std::string_view glyph;
            AppMessage message;
            const char* tooltip;
            bool highlighted;
        };
        const RailButton buttons[] = {
            {"≡", msg::ShowList{}, "Connections", std::holds_alternative<view::List>(view)},
            {"+", msg::NewConnection{}, "Add connection (Ctrl+N)", false},
        };
        double y = top;
        for (const RailButton& b : buttons) {
            const Rect box{x, y, x + kRailButton, y + kRailButton};
            if (b.highlighted) {
                scene.fill(RoundedRect{box, 8}, colors.accent.with_opacity(0.18));
            } else if (box.contains(pointer)) {
                scene.fill(RoundedRect{box, 8}, colors.hover);
            }
            draw_centered_glyph(scene, b.glyph, box, b.highlighted ? colors.accent : colors.text,
                                18, 2);
            click_targets.push_back({b.message, box, std::string(b.tooltip)});
            y += kRailButton + 8;
        }
    }

    if (narrow) {
        const Rect box = menu_button_rect(c);
        const bool open = drawer_is_open();
        scene.fill(RoundedRect{box, 8}, box.contains(pointer) ? colors.hover : colors.surface);
        scene.stroke(RoundedRect{box, 8}, colors.border, 1);
        if (open) {
            draw_centered_glyph(scene, "‹", box, colors.text, 22, 3);
        } else {
            const Point m = box.center();
            for (double dy : {-6.0, 0.0, 6.0}) {
                scene.fill(RoundedRect{{m.x - 9, m.y + dy - 1, m.x + 9, m.y + dy + 1}, 1},
                           colors.text);
            }
        }
        click_targets.push_back(
            {msg::ToggleNav{}, box, std::string(open ? "Close navigation" : "Open navigation")});
    }
}

bool RemoteApp::handle_input_at(const vorn_ui::InputEvent& event, vorn_ui::doc::Document*,
                                Clock::time_point now) {
    if (const auto* move = std::get_if<vorn_ui::PointerMove>(&event)) {
        const ClickTarget* before = target_at(pointer);
        pointer = move->position;
        const ClickTarget* after = target_at(pointer);
        if (before != after) needs_redraw_flag = true;  // hover looks change
        update_tooltip(now);
        return true;
    }
    if (std::holds_alternative<vorn_ui::PointerLeave>(event)) {
        pointer = {-1e9, -1e9};
        tooltips.dismiss();
        needs_redraw_flag = true;
        return true;
    }
    if (const auto* button = std::get_if<vorn_ui::PointerButtonEvent>(&event)) {
        if (button->button != vorn_ui::PointerButton::Primary || !button->pressed) return false;
        pointer = button->position;
        if (pending_confirmation) return false;  // only the dialog's own buttons react
        const bool on_rail =
            pointer.x >= content_rect.x0 && pointer.x < content_rect.x0 + kRailWidth;
        if (narrow && drawer_is_open() && !on_rail &&
            !menu_button_rect(content_rect).contains(pointer)) {
            // A click beside the open narrow drawer only closes it.
            close_narrow_drawer();
            return true;
        }
        const ClickTarget* target = target_at(pointer);
        if (!target) {
            if (focused_input) needs_redraw_flag = true;
            focused_input.reset();
            return true;
        }
        if (std::holds_alternative<msg::ToggleNav>(target->message)) {
            toggle_nav();
            tooltips.dismiss();
            return true;
        }
        return false;
    }
    if (const auto* key = std::get_if<vorn_ui::KeyEvent>(&event)) {
        const auto* named = key->named();
        if (key->pressed && named && *named == vorn_ui::NamedKey::Escape && !pending_confirmation &&
            narrow && drawer_is_open()) {
            close_narrow_drawer();
            return true;
        }
    }
    return false;
}

}  // namespace remote
