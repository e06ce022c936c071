#pragma once
// RemoteApp: the one application object the platform drives. It holds everything the window shows
// and answers the platform's hooks. Created, read and written only on the UI thread, inside hook
// calls; it needs no lock.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/state.h"
#include "profiles/form.h"
#include "profiles/profile.h"
#include "vorn/ui/app.h"
#include "vorn/ui/fabric.h"
#include "vorn/ui/widgets/text_input.h"
#include "vorn/ui/widgets/tooltip.h"

namespace remote {

// Below this content width the layout is narrow (exactly 720 is wide).
inline constexpr double kNarrowWidth = 720;
inline constexpr double kRailWidth = 64;

class RemoteApp final : public vorn_ui::app::Application {
  public:
    using Clock = std::chrono::steady_clock;

    RemoteApp(std::vector<ConnectionProfile> profiles, std::vector<DeviceSuggestion> devices);
    ~RemoteApp() override;
    RemoteApp(const RemoteApp&) = delete;
    RemoteApp& operator=(const RemoteApp&) = delete;

    // Application hooks.
    vorn_ui::app::Application& as_any() override { return *this; }
    std::string_view type_name() const override { return "RemoteApp"; }
    vorn_ui::Rect content_area() const override { return content_rect; }
    void layout(vorn_ui::Rect content) override;
    void paint(vorn_ui::Scene& scene) override;
    void paint_again(vorn_ui::Scene& scene) override { paint(scene); }
    bool handle_input(const vorn_ui::InputEvent& event, vorn_ui::doc::Document* document) override {
        return handle_input_at(event, document, Clock::now());
    }
    vorn_ui::AccessNode accessibility_tree() override;
    bool handle_semantic_action(std::string_view element_id, const vorn_ui::SemanticEvent& event,
                                vorn_ui::doc::Document* document) override;
    void set_reduced_motion(bool reduced) override;
    // The connections document changed (or arrived): reconcile the in-memory list with it.
    void on_document(vorn_ui::doc::Document& document) override;
    bool document_wanted() const override { return !document_loaded; }
    std::optional<std::vector<vorn_ui::app::ChangeHash>> take_dispatch_heads() override;

    // Ends the current session: a device stream gets its close command, the session is dropped,
    // the session number advances and the list is shown again.
    void end_session();
    bool wants_frames() const override;
    bool needs_redraw() const override { return needs_redraw_flag; }
    void damage(std::vector<vorn_ui::Rect>& damaged) override;
    void clear_redraw() override { needs_redraw_flag = false; }

    // The hooks as of `now`; the hooks themselves use the monotonic clock. Tests drive time
    // through these.
    void paint_at(vorn_ui::Scene& scene, Clock::time_point now);
    bool handle_input_at(const vorn_ui::InputEvent& event, vorn_ui::doc::Document* document,
                         Clock::time_point now);

    // The navigation group of every screen's accessibility tree: the menu toggle (narrow layout),
    // and the rail's two buttons unless the narrow drawer is closed.
    [[nodiscard]] std::vector<vorn_ui::AccessNode> navigation_access_nodes() const;

    // The drawer toggle (message ToggleNav).
    void toggle_nav();
    // Closes a drawer that is open in the narrow layout (after ShowList, CloseForm,
    // NewConnection).
    void close_narrow_drawer();
    // Whether the drawer is open (or opening) now, from its open state and the narrow flag.
    [[nodiscard]] bool drawer_target_open() const;
    // Where a screen's content starts: beside the menu button when narrow, sliding with the rail
    // when wide, at the window's edge in a fullscreen session.
    [[nodiscard]] double content_left() const;

    // Saved connections and selection.
    std::vector<ConnectionProfile> profiles;
    std::string search;
    std::optional<Uuid> selected;
    bool document_loaded = false;
    DispatchContext dispatch;

    // Connection form.
    ConnectionForm form = new_form();
    bool form_submitted = false;
    bool touched_name = false;
    bool touched_host = false;
    bool touched_port = false;
    std::array<vorn_ui::widget::text_input::TextInput, kFormFieldCount> inputs;
    std::optional<FormField> focused_input;
    std::vector<DeviceSuggestion> devices;

    // Screen and layout.
    ViewMode view = view::List{};
    Drawer drawer;
    bool narrow = false;
    bool reduced_motion = false;
    PreviewDrawer preview_drawer = PreviewDrawer::None;
    vorn_ui::Rect content_rect;
    vorn_ui::Point pointer;
    double list_scroll = 0;
    double list_scroll_max = 0;
    std::optional<vorn_ui::Rect> surface_rect;
    std::optional<SurfaceCache> surface_cache;
    std::vector<ClickTarget> click_targets;
    vorn_ui::widget::tooltip::TooltipHost tooltips{std::chrono::milliseconds(500)};
    Clock::time_point frame_clock = Clock::now();
    bool scale_to_fit = true;
    bool fullscreen = false;
    std::uint8_t pointer_buttons = 0;
    bool needs_redraw_flag = true;

    // Sessions, operations and notices.
    ActiveSession session;
    std::optional<Uuid> session_connection;
    std::uint64_t session_identity = 0;
    std::uint64_t next_device_stream = 1;
    std::vector<vorn_ui::fabric::Command> device_outbox;
    PendingOperation operation = operation::Idle{};
    std::optional<PendingConfirmation> pending_confirmation;
    std::optional<std::string> notice;

  private:
    void paint_navigation(vorn_ui::Scene& scene);
    // The most recently registered target containing `point`, if any.
    [[nodiscard]] const ClickTarget* target_at(vorn_ui::Point point) const;
    void update_tooltip(Clock::time_point now);

    // When the tooltip's current target was first hovered: its delay counts from there, not from
    // the last frame, which may be long ago when nothing was animating.
    Clock::time_point tooltip_since_{};
};

// The six inputs with their placeholders, local to this device; the host placeholder follows
// `kind`.
[[nodiscard]] std::array<vorn_ui::widget::text_input::TextInput, kFormFieldCount> make_inputs(
    ConnectionKind kind);
[[nodiscard]] std::string_view host_placeholder(ConnectionKind kind);

}  // namespace remote
