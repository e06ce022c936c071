#pragma once
// The navigation drawer's animation: a position from 0 (closed) to 1 (open)
// eased toward a target over time; reduced motion snaps. `reveal` and `slide`
// are the eased values views draw with.

#include <chrono>

namespace vorn_ui::widget::flap {

class FlapState {
public:
    explicit FlapState(double position = 1.0) : position_(position) {}

    double position() const { return position_; }
    void set_position(double p);
    // Moves the position toward `target` by the time elapsed (about 200 ms
    // for a full sweep); snaps when `reduced_motion`. Returns true while
    // still moving.
    bool advance(double target, std::chrono::nanoseconds elapsed, bool reduced_motion);

    // How much of the drawer shows (0..1), eased.
    double reveal() const;
    // How far the drawer has slid in (0..1), eased; drives its x offset.
    double slide() const;

private:
    double position_;
};

}  // namespace vorn_ui::widget::flap
