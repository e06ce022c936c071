#include "vorn/ui/examples/example_app.h"

#include <memory>
#include <vector>

#include "vorn/ui/colors.h"
#include "vorn/ui/widgets/button.h"

namespace vorn_ui::example {
namespace {

// A 4×4 checkerboard, shared the way decoded pictures are.
Image checker() {
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(4 * 4 * 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            std::uint8_t v = (x + y) % 2 ? 255 : 40;
            std::uint8_t* p = bytes->data() + (y * 4 + x) * 4;
            p[0] = v;
            p[1] = v;
            p[2] = v;
            p[3] = 255;
        }
    }
    return {4, 4, bytes};
}

AccessNode node(std::string id, Role role, std::string label, std::optional<Rect> bounds) {
    AccessNode n;
    n.id = std::move(id);
    n.role = role;
    n.label = std::move(label);
    n.bounds = bounds;
    return n;
}

}  // namespace

ExampleApp::ExampleApp()
    : name_(widget::text_input::TextInput::with_placeholder("Your name").local()) {}

void ExampleApp::layout(Rect content) {
    content_ = content;
}

void ExampleApp::paint(Scene& scene) {
    auto now = std::chrono::steady_clock::now();
    tooltips_.tick(reduced_motion_ ? std::chrono::hours(1) : now - clock_);
    clock_ = now;

    const Colors& c = Colors::dark();
    TextRenderer ui;
    ui.draw_text_weighted(scene, "Vorn UI example", kTitle.origin(), c.text, 22, 3);

    scene.fill(kRedBox, c.danger);
    scene.fill(Circle{kCircleCenter, 40}, c.accent);
    scene.stroke(RoundedRect{{330, 80, 490, 160}, 12}, c.success, 3);
    Path triangle;
    triangle.move_to({500, 160}).line_to({520, 80}).line_to({530, 160}).close();
    scene.fill(triangle, c.warning);

    // Two overlapping white squares at half opacity as one group: the
    // overlap must look the same as the rest.
    scene.push_layer(kLayer, 0.5);
    scene.fill(Rect{kLayer.x0, kLayer.y0, kLayer.x0 + 100, kLayer.y1}, Color::rgb(0xffffff));
    scene.fill(Rect{kLayer.x0 + 60, kLayer.y0, kLayer.x1, kLayer.y1}, Color::rgb(0xffffff));
    scene.pop_layer();
    scene.draw_image(checker(), {710, 80, 790, 160}, false);

    scene.fill(RoundedRect{kInput, 8}, c.field);
    scene.stroke(RoundedRect{kInput, 8}, input_focused_ ? c.accent : c.border, 1);
    name_.draw(scene, kInput, input_focused_,
               {14, c.text, c.text_muted, c.accent, c.accent.with_opacity(0.35), 12});
    widget::Button::paint(scene, kButton, "Greet", widget::Button::Kind::Primary, button_hovered_);
    if (!greeting_.empty()) ui.draw_text(scene, greeting_, {24, 256}, c.text, 16);
    TextRenderer::mono().draw_text(scene, "mono 0123456789", {24, 300}, c.text_muted, 14);

    widget::tooltip::draw_hover_tooltip(scene, tooltips_, content_);
}

void ExampleApp::greet() {
    greeting_ = "Hello, " + (name_.text().empty() ? std::string("world") : name_.text()) + "!";
    needs_redraw_ = true;
}

bool ExampleApp::handle_input(const InputEvent& event, doc::Document*) {
    if (const auto* move = std::get_if<PointerMove>(&event)) {
        bool over = kButton.contains(move->position);
        if (over != button_hovered_) needs_redraw_ = true;
        button_hovered_ = over;
        tooltips_.on_pointer(move->position, over ? std::optional(kButton) : std::nullopt,
                             over ? std::optional<std::string>("Say hello") : std::nullopt);
        if (name_.handle_event(event, kInput)) needs_redraw_ = true;
        return over;
    }
    if (std::holds_alternative<PointerLeave>(event)) {
        button_hovered_ = false;
        tooltips_.dismiss();
        needs_redraw_ = true;
        return false;
    }
    if (const auto* press = std::get_if<PointerButtonEvent>(&event)) {
        if (press->pressed && press->button == PointerButton::Primary) {
            if (kButton.contains(press->position)) {
                greet();
                return true;
            }
            bool focus = kInput.contains(press->position);
            if (focus != input_focused_) needs_redraw_ = true;
            input_focused_ = focus;
        }
        if (name_.handle_event(event, kInput)) {
            needs_redraw_ = true;
            return true;
        }
        return false;
    }
    if (const auto* key = std::get_if<KeyEvent>(&event)) {
        if (key->pressed && key->named() && *key->named() == NamedKey::Tab) {
            input_focused_ = !input_focused_;
            needs_redraw_ = true;
            return true;
        }
        if (key->pressed && key->named() && *key->named() == NamedKey::Enter) {
            greet();
            return true;
        }
    }
    if (input_focused_ && name_.handle_event(event, kInput)) {
        needs_redraw_ = true;
        return true;
    }
    return false;
}

AccessNode ExampleApp::accessibility_tree() {
    AccessNode name = node("example.name", Role::TextInput, "Name", kInput);
    name.value = name_.text();
    name.focused = input_focused_;
    std::vector<AccessNode> children{
        node("example.title", Role::Heading, "Vorn UI example", kTitle),
        std::move(name),
        node("example.greet", Role::Button, "Greet", kButton),
    };
    if (!greeting_.empty())
        children.push_back(
            node("example.greeting", Role::Label, greeting_, Rect{24, 256, 400, 276}));
    return node("example", Role::Window, "Vorn UI example", content_)
        .with_children(std::move(children));
}

bool ExampleApp::handle_semantic_action(std::string_view id, const SemanticEvent& event,
                                        doc::Document*) {
    if (id == "example.greet" && event.kind == SemanticEvent::Kind::Click) {
        greet();
        return true;
    }
    if (id == "example.name") {
        if (event.kind == SemanticEvent::Kind::SetText) {
            name_.set_text(event.text);
        } else if (event.kind == SemanticEvent::Kind::Focus) {
            input_focused_ = true;
        } else {
            return false;
        }
        needs_redraw_ = true;
        return true;
    }
    return false;
}

launch::LaunchRecord example_record() {
    launch::LaunchRecord record;
    record.application_id = "org.vorn.Example";
    record.preview_states = {"greeted"};
    record.plain_factory = [] { return std::make_unique<ExampleApp>(); };
    record.main_factory =
        [](const app::LaunchContext& context) -> std::unique_ptr<app::Application> {
        auto app = std::make_unique<ExampleApp>();
        if (context.preview == "greeted") app->handle_semantic_action("example.greet", {}, nullptr);
        return app;
    };
    record.default_window_size = [] { return std::pair<std::uint32_t, std::uint32_t>{800, 400}; };
    return record;
}

}  // namespace vorn_ui::example
