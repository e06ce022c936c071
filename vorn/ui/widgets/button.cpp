#include "vorn/ui/widgets/button.h"

#include "vorn/ui/colors.h"

namespace vorn_ui::widget {
namespace {

Color darken(Color c, double amount) {
    auto down = [&](std::uint8_t v) { return std::uint8_t(v * (1 - amount) + 0.5); };
    return {down(c.r), down(c.g), down(c.b), c.a};
}

}  // namespace

void Button::paint(Scene& scene, const Rect& bounds, std::string_view label, Kind kind,
                   bool hovered, bool pressed, double size_pt, double radius) {
    const Colors& colors = Colors::dark();
    RoundedRect shape{bounds, radius};
    Color text = colors.text;
    auto state = [&](Color base) {
        if (pressed) return darken(base, 0.15);
        if (hovered) return Colors::lift(base, 0.1);
        return base;
    };
    switch (kind) {
        case Kind::Primary:
            scene.fill(shape, state(colors.accent));
            text = colors.on_accent;
            break;
        case Kind::Danger:
            scene.fill(shape, state(colors.danger));
            text = colors.on_accent;
            break;
        case Kind::Secondary:
            if (hovered || pressed)
                scene.fill(shape, pressed ? darken(colors.hover, 0.15) : colors.hover);
            scene.stroke(shape, colors.border, 1);
            break;
        case Kind::Ghost:
            if (hovered || pressed)
                scene.fill(shape, pressed ? darken(colors.hover, 0.15) : colors.hover);
            text = hovered ? colors.text : colors.text_muted;
            break;
    }
    if (label.empty()) return;
    TextRenderer renderer;
    double w = renderer.measure_weighted(label, size_pt, 1);
    double h = renderer.line_height(size_pt);
    Point c = bounds.center();
    renderer.draw_text_weighted(scene, label, {c.x - w / 2, c.y - h / 2}, text, size_pt, 1);
}

}  // namespace vorn_ui::widget
