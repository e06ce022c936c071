#pragma once
// A push button painted into a Scene: primary (accent fill), secondary
// (outline), danger and ghost kinds, with hover and pressed looks.

#include <string_view>

#include "vorn/ui/scene.h"
#include "vorn/ui/text.h"

namespace vorn_ui::widget {

struct Button {
    enum class Kind : std::uint8_t { Primary, Secondary, Danger, Ghost };
    // Paints `label` centred in `bounds`; returns nothing: hit testing is the
    // caller's (it registers `bounds` with what the button does).
    static void paint(Scene& scene, const Rect& bounds, std::string_view label, Kind kind, bool hovered,
                      bool pressed = false, double size_pt = 13, double radius = 8);
};

}  // namespace vorn_ui::widget
