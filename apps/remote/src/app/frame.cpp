// The window frame every screen shares: the navigation rail with its two buttons, and in the
// narrow layout the scrim and the menu button that opens and closes the drawer.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// Where the rail and its two buttons ("≡" then "+") are for a drawer slid in by `slide`.
struct RailGeometry {
    Rect rail;
    Rect list_button;
    Rect new_button;
};

RailGeometry rail_geometry(const Rect& content, bool narrow, double slide) {
    const double left = content.x0 - (1 - slide) * kRailWidth;
    // Below the menu button when there is one.
    const double top = content.y0 + (narrow ? kMenuInset + kMenuButton + 12 : 16);
    const double x = left + (kRailWidth - kRailButton) / 2;
    return {
        {left, content.y0, left + kRailWidth, content.y1},
        {x, top, x + kRailButton, top + kRailButton},
        {x, top + kRailButton + 8, x + kRailButton, top + 2 * kRailButton + 8},
    };
}

vorn_ui::AccessNode access_node(std::string id, vorn_ui::Role role, std::string_view label,
                                std::optional<Rect> bounds) {
    vorn_ui::AccessNode node;
    node.id = std::move(id);
    node.role = role;
    node.label = label;
    node.bounds = bounds;
    return node;
}

std::string_view menu_label(bool open) {
    return open ? "Close navigation" : "Open navigation";
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
        const RailGeometry g = rail_geometry(c, narrow, drawer.flap.slide());
        scene.fill(g.rail, colors.surface);
        scene.fill(Rect{g.rail.x1 - 1, g.rail.y0, g.rail.x1, g.rail.y1}, colors.border);
        struct RailButton {
            Rect box;
            std::string_view glyph;
            AppMessage message;
            const char* tooltip;
            bool highlighted;
        };
        const RailButton buttons[] = {
            {g.list_button, "≡", msg::ShowList{}, "Connections",
             std::holds_alternative<view::List>(view)},
            {g.new_button, "+", msg::NewConnection{}, "Add connection (Ctrl+N)", false},
        };
        for (const RailButton& b : buttons) {
            if (b.highlighted) {
                scene.fill(RoundedRect{b.box, 8}, colors.accent.with_opacity(0.18));
            } else if (b.box.contains(pointer)) {
                scene.fill(RoundedRect{b.box, 8}, colors.hover);
            }
            draw_centered_glyph(scene, b.glyph, b.box, b.highlighted ? colors.accent : colors.text,
                                18, 2);
            click_targets.push_back({b.message, b.box, std::string(b.tooltip)});
        }
    }

    if (narrow) {
        const Rect box = menu_button_rect(c);
        const bool open = drawer_target_open();
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
        click_targets.push_back({msg::ToggleNav{}, box, std::string(menu_label(open))});
    }
}

std::vector<vorn_ui::AccessNode> RemoteApp::navigation_access_nodes() const {
    using vorn_ui::AccessNode;
    using vorn_ui::Role;
    std::vector<AccessNode> nodes;
    if (narrow) {
        AccessNode toggle =
            access_node("remote.nav.toggle", Role::Button, menu_label(drawer_target_open()),
                        menu_button_rect(content_rect));
        toggle.description = "Show Connections and Add connection";
        nodes.push_back(std::move(toggle));
    }
    // A closed narrow drawer hides its buttons from readers as it does from the eye.
    if (!narrow || drawer_target_open()) {
        const RailGeometry g = rail_geometry(content_rect, narrow, drawer.flap.slide());
        AccessNode list =
            access_node("remote.nav.list", Role::Button, "Connections", g.list_button);
        list.selected = std::holds_alternative<view::List>(view);
        AccessNode add =
            access_node("remote.connection.new", Role::Button, "Add connection", g.new_button);
        nodes.push_back(std::move(list));
        nodes.push_back(std::move(add));
    }
    AccessNode group = access_node("", Role::Navigation, "Remote navigation",
                                   rail_geometry(content_rect, narrow, drawer.flap.slide()).rail);
    return {std::move(group).with_children(std::move(nodes))};
}

vorn_ui::AccessNode RemoteApp::accessibility_tree() {
    vorn_ui::AccessNode root = access_node("", vorn_ui::Role::Window, "Remote", content_rect);
    return std::move(root).with_children(navigation_access_nodes());
}

bool RemoteApp::handle_semantic_action(std::string_view element_id,
                                       const vorn_ui::SemanticEvent& event,
                                       vorn_ui::doc::Document*) {
    if (pending_confirmation) return false;  // only the dialog's own elements act
    if (element_id == "remote.nav.toggle" && event.kind == vorn_ui::SemanticEvent::Kind::Click) {
        toggle_nav();
        return true;
    }
    return false;
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
        if (narrow && drawer_target_open() && !on_rail &&
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
            narrow && drawer_target_open()) {
            close_narrow_drawer();
            return true;
        }
    }
    return false;
}

}  // namespace remote
