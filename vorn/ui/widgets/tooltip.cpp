#include "vorn/ui/widgets/tooltip.h"

#include <algorithm>

#include "vorn/ui/colors.h"
#include "vorn/ui/text.h"

namespace vorn_ui::widget::tooltip {
namespace {

// A short fade so the tooltip does not pop in; after it the host is settled
// and the platform may stop asking for frames.
constexpr std::chrono::milliseconds kFade{120};
constexpr double kTextPt = 12;
constexpr double kPadX = 8;
constexpr double kPadY = 5;
constexpr double kGap = 6;

}  // namespace

TooltipHost::TooltipHost(std::chrono::milliseconds delay) : delay_(delay) {}

void TooltipHost::on_pointer(Point pointer, std::optional<Rect> target,
                             std::optional<std::string> text) {
    pointer_ = pointer;
    if (!target || !text || text->empty()) {
        dismiss();
        return;
    }
    if (target_ != target || text_ != text) {
        target_ = target;
        text_ = std::move(text);
        waited_ = std::chrono::nanoseconds{0};
    }
}

void TooltipHost::dismiss() {
    target_.reset();
    text_.reset();
    waited_ = std::chrono::nanoseconds{0};
}

void TooltipHost::tick(std::chrono::nanoseconds elapsed) {
    if (!present() || elapsed <= std::chrono::nanoseconds{0}) return;
    // Capped so a long-lived tooltip cannot overflow the clock.
    auto cap = std::chrono::nanoseconds(delay_) + std::chrono::nanoseconds(kFade);
    waited_ = waited_ >= cap || elapsed >= cap ? cap : std::min(cap, waited_ + elapsed);
}

bool TooltipHost::settled() const {
    return !present() ||
           waited_ >= std::chrono::nanoseconds(delay_) + std::chrono::nanoseconds(kFade);
}

double TooltipHost::opacity() const {
    if (!visible()) return 0;
    auto into = waited_ - std::chrono::nanoseconds(delay_);
    return std::clamp(double(into.count()) / double(std::chrono::nanoseconds(kFade).count()), 0.0,
                      1.0);
}

void draw_hover_tooltip(Scene& scene, const TooltipHost& host, const Rect& window) {
    if (!host.visible() || !host.target()) return;
    double opacity = host.opacity();
    if (opacity <= 0) return;
    const Colors& colors = Colors::dark();
    TextRenderer renderer;
    const std::string& text = *host.text();
    double w = renderer.measure(text, kTextPt) + 2 * kPadX;
    double h = renderer.line_height(kTextPt) + 2 * kPadY;
    const Rect& target = *host.target();

    double x = target.center().x - w / 2;
    x = std::clamp(x, window.x0 + 4, std::max(window.x0 + 4, window.x1 - 4 - w));
    double y = target.y1 + kGap;
    // Above the target when there is no room below it.
    if (y + h > window.y1 - 4 && target.y0 - kGap - h >= window.y0) y = target.y0 - kGap - h;

    RoundedRect box{{x, y, x + w, y + h}, 6};
    scene.fill(box, Colors::lift(colors.card, 0.12).with_opacity(opacity));
    scene.stroke(box, colors.border.with_opacity(opacity), 1);
    renderer.draw_text(scene, text, {x + kPadX, y + kPadY}, colors.text.with_opacity(opacity),
                       kTextPt);
}

}  // namespace vorn_ui::widget::tooltip
