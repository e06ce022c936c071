#pragma once
// Hover tooltips: the owner tells the host which target is under the pointer;
// after the hover delay (500 ms by default) the tooltip shows, and it settles
// once its fade-in is complete. Time comes from tick(), so tests control it.

#include <chrono>
#include <optional>
#include <string>

#include "vorn/ui/geometry.h"
#include "vorn/ui/scene.h"

namespace vorn_ui::widget::tooltip {

class TooltipHost {
public:
    explicit TooltipHost(std::chrono::milliseconds delay = std::chrono::milliseconds(500));

    void set_delay(std::chrono::milliseconds delay) { delay_ = delay; }
    std::chrono::milliseconds delay() const { return delay_; }

    // The pointer is over `target` (with tooltip `text`), or over nothing
    // that has a tooltip (nullopt). A new target restarts the delay.
    void on_pointer(Point pointer, std::optional<Rect> target, std::optional<std::string> text);
    void dismiss();
    // Advances the host's clock by `elapsed`.
    void tick(std::chrono::nanoseconds elapsed);

    // A tooltip is pending or visible.
    bool present() const { return text_.has_value(); }
    bool visible() const { return present() && waited_ >= delay_; }
    // Nothing left to animate: no tooltip, or fully faded in.
    bool settled() const;
    double opacity() const;
    const std::optional<std::string>& text() const { return text_; }
    const std::optional<Rect>& target() const { return target_; }

private:
    std::chrono::milliseconds delay_;
    std::chrono::nanoseconds waited_{0};
    std::optional<Rect> target_;
    std::optional<std::string> text_;
    Point pointer_;
};

// Draws the host's tooltip (if visible) below its target, kept inside `window`.
void draw_hover_tooltip(Scene& scene, const TooltipHost& host, const Rect& window);

}  // namespace vorn_ui::widget::tooltip
