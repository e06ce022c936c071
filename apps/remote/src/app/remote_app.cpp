#include "app/remote_app.h"

#include <cmath>
#include <limits>
#include <utility>

#include "device/device_session.h"
#include "doc/connections.h"
#include "profiles/listing.h"

namespace remote {
namespace {

template <typename T>
void release(T& field) {
    T dropped(std::move(field));
}

}  // namespace

std::string_view host_placeholder(ConnectionKind kind) {
    return kind == ConnectionKind::Vorn ? "certified Vorn endpoint id" : "hostname or IP";
}

std::array<vorn_ui::widget::text_input::TextInput, kFormFieldCount> make_inputs(
    ConnectionKind kind) {
    using vorn_ui::widget::text_input::TextInput;
    return {
        TextInput::with_placeholder("Search machines…  ( / )").local(),
        TextInput::with_placeholder("My machine").local(),
        TextInput::with_placeholder(std::string(host_placeholder(kind))).local(),
        TextInput::with_placeholder("Port").local(),
        TextInput::with_placeholder("username").local(),
        TextInput::with_placeholder("group (optional)").local(),
    };
}

RemoteApp::RemoteApp(std::vector<ConnectionProfile> initial_profiles,
                     std::vector<DeviceSuggestion> initial_devices)
    : profiles(std::move(initial_profiles)),
      inputs(make_inputs(ConnectionKind::Ssh)),
      devices(std::move(initial_devices)) {
    const auto rows = visible_profiles(profiles, search);
    if (!rows.empty()) selected = rows.front()->id;
    // The port input mirrors the form's initial text.
    inputs[static_cast<std::size_t>(FormField::Port)].set_text(form.port);
}

RemoteApp::~RemoteApp() {
    // Owning fields go in this order; the session goes before the pictures and the queue it
    // feeds, so its transport stops first.
    release(profiles);
    release(search);
    release(form);
    release(inputs);
    session = std::monostate{};
    surface_cache.reset();
    release(devices);
    release(device_outbox);
    release(click_targets);
    release(dispatch);
    operation = operation::Idle{};
    pending_confirmation.reset();
    notice.reset();
    tooltips.dismiss();
}

bool RemoteApp::drawer_target_open() const {
    if (narrow) return drawer.open == DrawerOpen::Open;
    if (drawer.open == DrawerOpen::FollowDefault) return drawer.default_open;
    return drawer.open == DrawerOpen::Open;
}

double RemoteApp::content_left() const {
    if (fullscreen && std::holds_alternative<view::Session>(view)) return content_rect.x0;
    if (narrow) return content_rect.x0 + kRailWidth;
    return content_rect.x0 + kRailWidth * drawer.flap.reveal();
}

void RemoteApp::layout(vorn_ui::Rect content) {
    content_rect = content;
    narrow = content.width() < kNarrowWidth;
    if (preview_drawer != PreviewDrawer::None) {
        const bool open = preview_drawer == PreviewDrawer::Open;
        drawer.open = open ? DrawerOpen::Open : DrawerOpen::Closed;
        drawer.flap.set_position(open ? 1.0 : 0.0);
        preview_drawer = PreviewDrawer::None;
    }
    const NarrowState now = narrow ? NarrowState::Yes : NarrowState::No;
    if (drawer.last_narrow == NarrowState::Unknown) {
        drawer.last_narrow = now;
        drawer.flap.set_position(drawer_target_open() ? 1.0 : 0.0);
    } else if (drawer.last_narrow != now) {
        // A drawer toggled in one layout should not stay forced open or shut in the other.
        drawer.last_narrow = now;
        drawer.open = DrawerOpen::FollowDefault;
    }
}

void RemoteApp::toggle_nav() {
    const bool open_now = drawer.open == DrawerOpen::FollowDefault
                              ? !narrow && drawer.default_open
                              : drawer.open == DrawerOpen::Open;
    drawer.open = open_now ? DrawerOpen::Closed : DrawerOpen::Open;
    needs_redraw_flag = true;
}

void RemoteApp::close_narrow_drawer() {
    if (narrow && drawer_target_open()) {
        drawer.open = DrawerOpen::Closed;
        needs_redraw_flag = true;
    }
}

void RemoteApp::on_document(vorn_ui::doc::Document& document) {
    SyncOutcome outcome = sync_with_document(
        SyncState{document_loaded, profiles, search, selected, session_connection}, document);
    // Another replica deleted the profile whose session is open.
    if (outcome.disconnect_session) end_session();
    if (outcome.redraw || outcome.disconnect_session) needs_redraw_flag = true;
}

std::optional<std::vector<vorn_ui::app::ChangeHash>> RemoteApp::take_dispatch_heads() {
    return std::exchange(dispatch.heads, std::nullopt);
}

void RemoteApp::end_session() {
    if (auto* device = std::get_if<session::Device>(&session); device && device->handle) {
        device->handle->close(device_outbox);
    }
    session = std::monostate{};
    surface_cache.reset();
    surface_rect.reset();
    session_connection.reset();
    if (session_identity != std::numeric_limits<std::uint64_t>::max()) ++session_identity;
    fullscreen = false;
    view = view::List{};
    needs_redraw_flag = true;
}

void RemoteApp::set_reduced_motion(bool reduced) {
    reduced_motion = reduced;
    if (reduced) drawer.flap.set_position(drawer_target_open() ? 1.0 : 0.0);
}

bool RemoteApp::wants_frames() const {
    const double target = drawer_target_open() ? 1.0 : 0.0;
    if (!reduced_motion && std::abs(drawer.flap.position() - target) >= 0.001) return true;
    return tooltips.present() && !tooltips.settled();
}

void RemoteApp::damage(std::vector<vorn_ui::Rect>& damaged) {
    if (needs_redraw_flag) damaged.push_back(content_rect);
}

void RemoteApp::paint(vorn_ui::Scene& scene) {
    paint_at(scene, Clock::now());
}

void RemoteApp::paint_at(vorn_ui::Scene& scene, Clock::time_point now) {
    const auto elapsed = std::max(Clock::duration::zero(), now - frame_clock);
    const Clock::time_point frame_clock_before = frame_clock;
    frame_clock = now;
    drawer.flap.advance(drawer_target_open() ? 1.0 : 0.0, elapsed, reduced_motion);
    tooltips.tick(
        std::max(Clock::duration::zero(), now - std::max(frame_clock_before, tooltip_since_)));
    click_targets.clear();

    scene.fill(content_rect, vorn_ui::Colors::dark().background);
    paint_navigation(scene);
    vorn_ui::widget::tooltip::draw_hover_tooltip(scene, tooltips, content_rect);
}

const ClickTarget* RemoteApp::target_at(vorn_ui::Point point) const {
    for (auto it = click_targets.rbegin(); it != click_targets.rend(); ++it) {
        if (it->rect.contains(point)) return &*it;
    }
    return nullptr;
}

void RemoteApp::update_tooltip(Clock::time_point now) {
    const ClickTarget* target = target_at(pointer);
    if (target && target->tooltip) {
        if (tooltips.target() != target->rect || tooltips.text() != target->tooltip) {
            tooltip_since_ = now;
        }
        tooltips.on_pointer(pointer, target->rect, target->tooltip);
    } else {
        tooltips.on_pointer(pointer, std::nullopt, std::nullopt);
    }
}

}  // namespace remote
