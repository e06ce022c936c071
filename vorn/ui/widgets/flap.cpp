#include "vorn/ui/widgets/flap.h"

#include <algorithm>
#include <cmath>

namespace vorn_ui::widget::flap {
namespace {

constexpr double kSweepNanos = 200e6;  // a full open or close

double ease_out_cubic(double t) {
    double u = 1 - t;
    return 1 - u * u * u;
}

double ease_in_out_cubic(double t) {
    return t < 0.5 ? 4 * t * t * t : 1 - std::pow(-2 * t + 2, 3) / 2;
}

}  // namespace

void FlapState::set_position(double p) {
    if (std::isfinite(p)) position_ = std::clamp(p, 0.0, 1.0);
}

bool FlapState::advance(double target, std::chrono::nanoseconds elapsed, bool reduced_motion) {
    if (!std::isfinite(target)) return false;
    target = std::clamp(target, 0.0, 1.0);
    if (reduced_motion) {
        position_ = target;
        return false;
    }
    double step = std::max(0.0, double(elapsed.count()) / kSweepNanos);
    if (position_ < target) {
        position_ = std::min(target, position_ + step);
    } else if (position_ > target) {
        position_ = std::max(target, position_ - step);
    }
    return position_ != target;
}

double FlapState::reveal() const {
    return ease_out_cubic(position_);
}

double FlapState::slide() const {
    return ease_in_out_cubic(position_);
}

}  // namespace vorn_ui::widget::flap
