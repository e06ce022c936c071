#pragma once
// A small application on the platform: shapes, a group-opacity layer, an
// image, text, a text input and a button with a tooltip, with an
// accessibility tree. Shows how the hooks fit together. UI thread only.

#include <chrono>
#include <string>

#include "vorn/ui/app.h"
#include "vorn/ui/launch.h"
#include "vorn/ui/widgets/text_input.h"
#include "vorn/ui/widgets/tooltip.h"

namespace vorn_ui::example {

class ExampleApp final : public app::Application {
  public:
    ExampleApp();

    void layout(Rect content) override;
    void paint(Scene& scene) override;
    bool handle_input(const InputEvent& event, doc::Document* document) override;
    std::string_view type_name() const override { return "ExampleApp"; }
    Rect content_area() const override { return content_; }
    AccessNode accessibility_tree() override;
    bool handle_semantic_action(std::string_view element_id, const SemanticEvent& event,
                                doc::Document* document) override;
    void set_reduced_motion(bool reduced) override { reduced_motion_ = reduced; }
    bool wants_frames() const override { return !tooltips_.settled(); }
    bool needs_redraw() const override { return needs_redraw_; }
    void damage(std::vector<Rect>& damaged) override {
        if (needs_redraw_) damaged.push_back(content_);
    }
    void clear_redraw() override { needs_redraw_ = false; }

    const std::string& greeting() const { return greeting_; }
    const std::string& name() const { return name_.text(); }

    // Where things are drawn, for tests that look at pixels.
    static constexpr Rect kRedBox{24, 80, 184, 160};
    static constexpr Point kCircleCenter{264, 120};
    static constexpr Rect kLayer{540, 80, 700, 160};
    static constexpr Rect kInput{24, 200, 344, 236};
    static constexpr Rect kButton{360, 200, 460, 236};
    static constexpr Rect kTitle{24, 20, 400, 50};

  private:
    void greet();

    Rect content_;
    widget::text_input::TextInput name_;
    widget::tooltip::TooltipHost tooltips_;
    std::chrono::steady_clock::time_point clock_ = std::chrono::steady_clock::now();
    std::string greeting_;
    bool input_focused_ = false;
    bool button_hovered_ = false;
    bool reduced_motion_ = false;
    bool needs_redraw_ = true;
};

// The launch record of the example program.
launch::LaunchRecord example_record();

}  // namespace vorn_ui::example
