#pragma once
// The application hook table: what the platform calls on the application
// object, all on the UI thread. Every hook has a default, so an application
// overrides only what it supplies. Also the framework's application handle
// (`App`) given to the action registration hook.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vorn/ui/access.h"
#include "vorn/ui/fabric.h"
#include "vorn/ui/geometry.h"
#include "vorn/ui/input.h"
#include "vorn/ui/scene.h"

namespace vorn_ui::doc {
class Document;
}
namespace vorn_actions {
class Resource;
class ActionRegistry;
}  // namespace vorn_actions

namespace vorn_ui::app {

struct LaunchContext {
    std::string preview;  // empty when the platform was started without one
};

using ChangeHash = std::array<std::uint8_t, 32>;
using OperationToken = std::array<std::uint8_t, 16>;

// Outcomes of the operation hooks.
struct NotHandled {};
struct Done {};
struct Started {};
struct Completed {};
struct OperationFailed {
    std::string text;
};
using ExecuteOutcome = std::variant<NotHandled, Done, OperationFailed>;
using BeginOutcome = std::variant<NotHandled, OperationFailed, Started, Completed>;

struct PollCompleted {
    OperationToken token{};
};
struct PollCancelled {
    OperationToken token{};
    std::string text;
};
struct PollFailed {
    OperationToken token{};
    std::string event_id;  // e.g. "remote.connect_failed"
    std::string text;
};
using PollOutcome = std::variant<PollCompleted, PollCancelled, PollFailed>;

class Application {
public:
    virtual ~Application() = default;

    // The object itself, for code that needs the concrete type back.
    virtual Application& as_any() { return *this; }
    // The replicated document changed (or was handed over for the first time).
    virtual void on_document(doc::Document& /*document*/) {}
    // `content` is the window's content area in view units.
    virtual void layout(Rect /*content*/) {}
    virtual void paint(Scene& /*scene*/) {}
    // `document` is the connections document when it is open, else nullptr.
    // Returns true when the event was used.
    virtual bool handle_input(const InputEvent& /*event*/, doc::Document* /*document*/) { return false; }
    virtual std::string_view type_name() const { return "Application"; }
    virtual Rect content_area() const { return {}; }
    virtual AccessNode accessibility_tree() { return {}; }
    virtual bool handle_semantic_action(std::string_view /*element_id*/, const SemanticEvent& /*event*/,
                                        doc::Document* /*document*/) {
        return false;
    }
    virtual std::vector<ActionBinding> action_bindings() { return semantic_action_bindings(accessibility_tree()); }
    virtual void set_reduced_motion(bool /*reduced*/) {}
    // True while the application still waits for its first document.
    virtual bool document_wanted() const { return false; }
    virtual std::vector<vorn_actions::Resource> resources();
    // Heads recorded before the first persisted action since the last call.
    virtual std::optional<std::vector<ChangeHash>> take_dispatch_heads() { return std::nullopt; }

    // Operations of other clients (assistants, automation). `cls` is the
    // action's contract class: 1 session operation, 2 view operation.
    virtual ExecuteOutcome execute_operation(int /*cls*/, std::string_view /*type*/, std::string_view /*payload*/) {
        return NotHandled{};
    }
    virtual BeginOutcome begin_operation(const OperationToken& /*token*/, int /*cls*/, std::string_view /*type*/,
                                         std::string_view /*payload*/) {
        return NotHandled{};
    }
    virtual std::optional<PollOutcome> poll_operation(const OperationToken& /*token*/, bool /*cancel*/) {
        return std::nullopt;
    }

    // Redraw protocol: continuous frames while wants_frames(); otherwise a
    // paint only when needs_redraw(), after which clear_redraw() is called.
    virtual bool wants_frames() const { return false; }
    virtual bool needs_redraw() const { return true; }
    virtual void damage(std::vector<Rect>& /*damaged*/) {}
    virtual void clear_redraw() {}
    virtual void paint_again(Scene& scene) { paint(scene); }

    // Device fabric: commands queued since the last call, and stream events.
    virtual std::vector<fabric::Command> take_outbox() { return {}; }
    virtual void on_fabric_event(const fabric::Event& /*event*/) {}
};

// The framework's application: the program's object plus what the platform
// keeps for it (the action registry).
class App {
public:
    explicit App(std::unique_ptr<Application> application);
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    Application& application() { return *application_; }
    vorn_actions::ActionRegistry& action_registry_mut();

private:
    std::unique_ptr<Application> application_;
    std::unique_ptr<vorn_actions::ActionRegistry> registry_;
};

}  // namespace vorn_ui::app
