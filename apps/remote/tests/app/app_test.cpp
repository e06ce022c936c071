// RemoteApp's start-up, initial state, layout and drawer, redraw protocol and the window frame
// (rail, scrim, menu button, tooltips), painted into a recording scene.

#include <gtest/gtest.h>

#include <algorithm>

#include "app/remote_app.h"
#include "app/startup.h"
#include "doc/connections.h"
#include "vorn/doc/document.h"
#include "profiles/listing.h"
#include "vorn/ui/scene.h"

namespace {

using namespace remote;
using namespace std::chrono_literals;
using vorn_ui::RecordingScene;
using vorn_ui::Rect;

Rect window(double width, double height = 800) {
    return {0, 0, width, height};
}

TEST(Startup, SampleModeOnlyForExactlyOne) {
    const std::pair<std::optional<std::string_view>, LaunchMode> cases[] = {
        {"1", LaunchMode::Sample},  {std::nullopt, LaunchMode::Normal}, {"", LaunchMode::Normal},
        {"1 ", LaunchMode::Normal}, {"true", LaunchMode::Normal},       {"01", LaunchMode::Normal},
        {" 1", LaunchMode::Normal}, {"\xff", LaunchMode::Normal},
    };
    for (const auto& [value, mode] : cases) {
        EXPECT_EQ(launch_mode(value), mode) << (value ? std::string(*value) : "(absent)");
    }
}

TEST(Startup, ModeFromEnvironmentDecidesTheStartingRows) {
    unsetenv("VORN_REMOTE_SAMPLE");
    EXPECT_EQ(launch_mode_from_environment(), LaunchMode::Normal);
    setenv("VORN_REMOTE_SAMPLE", "1", 1);
    EXPECT_EQ(launch_mode_from_environment(), LaunchMode::Sample);
    auto sample = main_factory({});
    auto& app = static_cast<RemoteApp&>(sample->as_any());
    EXPECT_EQ(app.profiles.size(), 8u);
    EXPECT_EQ(app.devices.size(), 4u);
    // The initial selection is the first row of the sorted list.
    ASSERT_TRUE(app.selected.has_value());
    const auto rows = visible_profiles(app.profiles, "");
    EXPECT_EQ(app.selected, rows.front()->id);
    setenv("VORN_REMOTE_SAMPLE", "true", 1);
    auto normal = main_factory({.preview = "form"});
    auto& plain = static_cast<RemoteApp&>(normal->as_any());
    EXPECT_TRUE(plain.profiles.empty());
    EXPECT_TRUE(plain.devices.empty());
    EXPECT_TRUE(std::holds_alternative<view::List>(plain.view));
    unsetenv("VORN_REMOTE_SAMPLE");
}

TEST(Startup, PreviewStatesInOrder) {
    ASSERT_EQ(kPreviewStates.size(), 13u);
    EXPECT_EQ(kPreviewStates.front(), "narrow");
    EXPECT_EQ(kPreviewStates[2], "form");
    EXPECT_EQ(kPreviewStates.back(), "confirm-ssh-trust");
}

TEST(Startup, DrawerPreviewsHonouredInBothModesOthersIgnoredInNormal) {
    struct Case {
        LaunchMode mode;
        std::string_view preview;
        DrawerOpen open;
        double position;
    };
    const Case cases[] = {
        {LaunchMode::Normal, "narrow-open", DrawerOpen::Open, 1.0},
        {LaunchMode::Sample, "narrow-open", DrawerOpen::Open, 1.0},
        {LaunchMode::Normal, "narrow", DrawerOpen::Closed, 0.0},
        {LaunchMode::Sample, "narrow", DrawerOpen::Closed, 0.0},
        {LaunchMode::Normal, "form", DrawerOpen::FollowDefault, 0.0},
        {LaunchMode::Normal, "Narrow", DrawerOpen::FollowDefault, 0.0},
        {LaunchMode::Normal, "", DrawerOpen::FollowDefault, 0.0},
    };
    for (const Case& c : cases) {
        auto app = make_app(c.mode, c.preview);
        EXPECT_TRUE(std::holds_alternative<view::List>(app->view)) << c.preview;
        EXPECT_EQ(app->profiles.empty(), c.mode == LaunchMode::Normal) << c.preview;
        app->layout(window(600));
        EXPECT_EQ(app->drawer.open, c.open) << c.preview;
        EXPECT_EQ(app->drawer.flap.position(), c.position) << c.preview;
        EXPECT_EQ(app->preview_drawer, PreviewDrawer::None) << c.preview;  // consumed
    }
}

TEST(RemoteAppState, InitialValues) {
    auto app = make_plain_app();
    EXPECT_EQ(app->type_name(), "RemoteApp");
    EXPECT_EQ(&app->as_any(), app.get());
    EXPECT_EQ(app->form, new_form());
    EXPECT_FALSE(app->selected.has_value());
    EXPECT_EQ(app->drawer.flap.position(), 1.0);
    EXPECT_EQ(app->drawer.open, DrawerOpen::FollowDefault);
    EXPECT_EQ(app->drawer.last_narrow, NarrowState::Unknown);
    EXPECT_TRUE(app->drawer.default_open);
    EXPECT_EQ(app->tooltips.delay(), 500ms);
    EXPECT_FALSE(app->tooltips.present());
    EXPECT_TRUE(app->scale_to_fit);
    EXPECT_TRUE(app->needs_redraw());
    EXPECT_TRUE(std::holds_alternative<std::monostate>(app->session));
    EXPECT_TRUE(std::holds_alternative<operation::Idle>(app->operation));
    EXPECT_EQ(app->next_device_stream, 1u);
    const std::string_view placeholders[] = {
        "Search machines…  ( / )", "My machine", "hostname or IP", "Port", "username",
        "group (optional)"};
    for (std::size_t i = 0; i < kFormFieldCount; ++i) {
        EXPECT_EQ(app->inputs[i].placeholder(), placeholders[i]);
        EXPECT_TRUE(app->inputs[i].is_local());
    }
    EXPECT_EQ(app->inputs[static_cast<std::size_t>(FormField::Port)].text(), "22");
    EXPECT_EQ(host_placeholder(ConnectionKind::Vorn), "certified Vorn endpoint id");
}

TEST(RemoteAppState, OwnedHandleDeletesOnceWhenDropped) {
    static int alive = 0;
    struct Probe {
        Probe() { ++alive; }
        ~Probe() { --alive; }
    };
    {
        OwnedHandle<Probe> handle = own_handle(std::make_unique<Probe>());
        EXPECT_EQ(alive, 1);
        OwnedHandle<Probe> moved = std::move(handle);
        EXPECT_EQ(alive, 1);
    }
    EXPECT_EQ(alive, 0);
}

TEST(RemoteAppState, InitialSelectionIsFirstSortedRow) {
    ConnectionProfile b, a, fav;
    b.id = Uuid::random(), b.name = "b";
    a.id = Uuid::random(), a.name = "A";
    fav.id = Uuid::random(), fav.name = "z", fav.favorite = true;
    RemoteApp plain({b, a}, {});
    EXPECT_EQ(plain.selected, a.id);
    RemoteApp with_favourite({b, a, fav}, {});
    EXPECT_EQ(with_favourite.selected, fav.id);
}

TEST(Layout, NarrowBelow720) {
    const std::pair<double, bool> cases[] = {{720, false}, {719.5, true}, {1280, false}, {0, true}};
    for (const auto& [width, narrow] : cases) {
        auto app = make_plain_app();
        app->layout({100, 50, 100 + width, 850});
        EXPECT_EQ(app->narrow, narrow) << width;
        EXPECT_EQ(app->content_area(), (Rect{100, 50, 100 + width, 850}));
        // The first layout places the drawer at once: open when wide, closed when narrow.
        EXPECT_EQ(app->drawer.flap.position(), narrow ? 0.0 : 1.0) << width;
        EXPECT_FALSE(app->wants_frames()) << width;
    }
}

TEST(Layout, CrossingThresholdResetsToggledDrawer) {
    auto app = make_plain_app();
    app->layout(window(1280));
    app->toggle_nav();  // close the wide drawer
    EXPECT_EQ(app->drawer.open, DrawerOpen::Closed);
    EXPECT_FALSE(app->drawer_target_open());
    app->layout(window(700));
    EXPECT_EQ(app->drawer.open, DrawerOpen::FollowDefault);
    EXPECT_FALSE(app->drawer_target_open());  // follow default when narrow: closed
    app->toggle_nav();
    EXPECT_TRUE(app->drawer_target_open());
    app->layout(window(710));  // still narrow: the toggle holds
    EXPECT_TRUE(app->drawer_target_open());
    app->layout(window(900));
    EXPECT_EQ(app->drawer.open, DrawerOpen::FollowDefault);
    EXPECT_TRUE(app->drawer_target_open());  // follow default when wide: open
}

TEST(Layout, ToggleFromFollowDefaultFlipsWhatTheUserSees) {
    struct Case {
        double width;
        bool opened_after_toggle;
    };
    for (const Case c : {Case{1280, false}, Case{600, true}}) {
        auto app = make_plain_app();
        app->layout(window(c.width));
        app->needs_redraw_flag = false;
        app->toggle_nav();
        EXPECT_EQ(app->drawer_target_open(), c.opened_after_toggle) << c.width;
        EXPECT_TRUE(app->needs_redraw()) << c.width;
        app->toggle_nav();
        EXPECT_EQ(app->drawer_target_open(), !c.opened_after_toggle) << c.width;
    }
}

TEST(Layout, DrawerAnimatesUnlessReducedMotion) {
    auto app = make_plain_app();
    app->layout(window(1280));
    RecordingScene scene;
    auto t = app->frame_clock;
    app->toggle_nav();
    EXPECT_TRUE(app->wants_frames());
    app->paint_at(scene, t += 50ms);
    const double midway = app->drawer.flap.position();
    EXPECT_GT(midway, 0.0);
    EXPECT_LT(midway, 1.0);
    EXPECT_TRUE(app->wants_frames());
    app->paint_at(scene, t += 1s);
    EXPECT_EQ(app->drawer.flap.position(), 0.0);
    EXPECT_FALSE(app->wants_frames());

    app->toggle_nav();
    app->set_reduced_motion(true);  // snaps at once
    EXPECT_EQ(app->drawer.flap.position(), 1.0);
    EXPECT_FALSE(app->wants_frames());
    app->toggle_nav();
    EXPECT_FALSE(app->wants_frames());  // reduced motion never animates
    app->paint_at(scene, t += 1ms);
    EXPECT_EQ(app->drawer.flap.position(), 0.0);
}

TEST(Layout, ContentLeft) {
    struct Case {
        const char* what;
        double width;
        bool toggle;
        bool fullscreen_session;
        double left;
    };
    const Case cases[] = {
        {"wide, drawer open", 1280, false, false, 110},
        {"wide, drawer closed", 1280, true, false, 46},
        {"narrow, drawer closed", 600, false, false, 110},
        {"narrow, drawer open", 600, true, false, 110},
        {"fullscreen session", 1280, false, true, 46},
    };
    for (const Case& c : cases) {
        auto app = make_plain_app();
        app->set_reduced_motion(true);
        app->layout({46, 0, 46 + c.width, 800});
        if (c.toggle) app->toggle_nav();
        app->set_reduced_motion(true);
        if (c.fullscreen_session) {
            app->view = view::Session{Uuid::random()};
            app->fullscreen = true;
        }
        EXPECT_DOUBLE_EQ(app->content_left(), c.left) << c.what;
    }
}

TEST(Redraw, DamageOnlyWhileRedrawNeeded) {
    auto app = make_plain_app();
    app->layout({0, 0, 800, 600});
    std::vector<Rect> damaged;
    app->damage(damaged);
    EXPECT_EQ(damaged, (std::vector<Rect>{{0, 0, 800, 600}}));
    app->clear_redraw();
    EXPECT_FALSE(app->needs_redraw());
    damaged.clear();
    app->damage(damaged);
    EXPECT_TRUE(damaged.empty());
}

// What the frame painted, read back from the recording.
struct Painted {
    bool scrim = false;
    std::optional<Rect> rail;
    std::vector<std::string> texts;
    int bars = 0;  // the closed menu icon's 18 x 2 bars
};

Painted inspect(const RecordingScene& scene) {
    Painted p;
    for (const auto& item : scene.items) {
        const auto* fill = std::get_if<RecordingScene::Fill>(&item);
        if (!fill) continue;
        if (const auto* r = std::get_if<Rect>(&fill->shape)) {
            if (fill->color.r == 0 && fill->color.g == 0 && fill->color.b == 0 &&
                fill->color.a == static_cast<std::uint8_t>(255 * 0.26 + 0.5)) {
                p.scrim = true;
            }
            if (r->width() == kRailWidth && fill->color == vorn_ui::Colors::dark().surface)
                p.rail = *r;
        }
        if (const auto* rr = std::get_if<vorn_ui::RoundedRect>(&fill->shape)) {
            if (rr->rect.width() == 18 && rr->rect.height() == 2) ++p.bars;
        }
    }
    for (const auto& run : scene.texts()) p.texts.push_back(run.text);
    return p;
}

std::vector<std::optional<std::string>> tooltips_of(const RemoteApp& app) {
    std::vector<std::optional<std::string>> out;
    for (const auto& t : app.click_targets) out.push_back(t.tooltip);
    return out;
}

TEST(Frame, WideShowsRailWithoutScrimOrMenu) {
    auto app = make_plain_app();
    app->layout(window(1280));
    RecordingScene scene;
    app->paint_at(scene, app->frame_clock);
    const Painted p = inspect(scene);
    ASSERT_TRUE(p.rail.has_value());
    EXPECT_EQ(*p.rail, (Rect{0, 0, 64, 800}));
    EXPECT_FALSE(p.scrim);
    EXPECT_EQ(p.texts, (std::vector<std::string>{"≡", "+"}));
    ASSERT_EQ(app->click_targets.size(), 2u);
    EXPECT_EQ(app->click_targets[0].message, AppMessage{msg::ShowList{}});
    EXPECT_EQ(app->click_targets[1].message, AppMessage{msg::NewConnection{}});
    EXPECT_EQ(tooltips_of(*app),
              (std::vector<std::optional<std::string>>{"Connections", "Add connection (Ctrl+N)"}));
}

TEST(Frame, NarrowOpenShowsRailOverScrimAndCloseButton) {
    auto app = make_app(LaunchMode::Normal, "narrow-open");
    app->layout(window(600));
    RecordingScene scene;
    app->paint_at(scene, app->frame_clock);
    const Painted p = inspect(scene);
    EXPECT_TRUE(p.scrim);
    ASSERT_TRUE(p.rail.has_value());
    EXPECT_EQ(p.bars, 0);
    EXPECT_EQ(p.texts, (std::vector<std::string>{"≡", "+", "‹"}));
    EXPECT_EQ(tooltips_of(*app),
              (std::vector<std::optional<std::string>>{"Connections", "Add connection (Ctrl+N)",
                                                       "Close navigation"}));
    EXPECT_EQ(app->click_targets.back().rect, (Rect{12, 12, 52, 52}));
    // The scrim comes before the rail, so the rail is drawn over it.
    std::size_t scrim_at = 0, rail_at = 0;
    for (std::size_t i = 0; i < scene.items.size(); ++i) {
        const auto* fill = std::get_if<RecordingScene::Fill>(&scene.items[i]);
        if (!fill || !std::holds_alternative<Rect>(fill->shape)) continue;
        if (fill->color.r == 0 && fill->color.a < 255 && !scrim_at) scrim_at = i;
        if (fill->color == vorn_ui::Colors::dark().surface && !rail_at) rail_at = i;
    }
    EXPECT_LT(scrim_at, rail_at);
}

TEST(Frame, NarrowClosedShowsOnlyTheMenuButton) {
    auto app = make_app(LaunchMode::Normal, "narrow");
    app->layout(window(600));
    RecordingScene scene;
    app->paint_at(scene, app->frame_clock);
    const Painted p = inspect(scene);
    EXPECT_FALSE(p.scrim);
    EXPECT_FALSE(p.rail.has_value());
    EXPECT_EQ(p.bars, 3);
    EXPECT_TRUE(p.texts.empty());
    EXPECT_EQ(tooltips_of(*app), (std::vector<std::optional<std::string>>{"Open navigation"}));
}

TEST(Frame, MenuClickTogglesAndOutsideClickClosesNarrowDrawer) {
    auto app = make_app(LaunchMode::Normal, "narrow");
    app->layout(window(600));
    RecordingScene scene;
    auto t = app->frame_clock;
    app->paint_at(scene, t);
    const auto click = [&](double x, double y) {
        vorn_ui::PointerButtonEvent press;
        press.position = {x, y};
        return app->handle_input(press, nullptr);
    };
    EXPECT_TRUE(click(30, 30));
    EXPECT_TRUE(app->drawer_target_open());
    app->paint_at(scene, t += 1s);
    EXPECT_EQ(app->drawer.flap.position(), 1.0);
    EXPECT_TRUE(click(40, 300));  // on the rail, beside its buttons: stays open
    EXPECT_TRUE(app->drawer_target_open());
    EXPECT_TRUE(click(300, 300));  // beside the drawer: only closes it
    EXPECT_FALSE(app->drawer_target_open());
    EXPECT_TRUE(click(30, 30));
    EXPECT_TRUE(app->drawer_target_open());
    vorn_ui::KeyEvent escape;
    escape.key = vorn_ui::NamedKey::Escape;
    EXPECT_TRUE(app->handle_input(escape, nullptr));
    EXPECT_FALSE(app->drawer_target_open());
}

TEST(Frame, HoverDrivesTooltipUntilSettled) {
    auto app = make_plain_app();
    app->layout(window(1280));
    RecordingScene scene;
    auto t = app->frame_clock;
    app->paint_at(scene, t);
    const Rect plus = app->click_targets[1].rect;
    app->clear_redraw();
    app->handle_input_at(vorn_ui::PointerMove{plus.center()}, nullptr, t);
    EXPECT_TRUE(app->needs_redraw());
    ASSERT_TRUE(app->tooltips.present());
    EXPECT_EQ(app->tooltips.text(), "Add connection (Ctrl+N)");
    EXPECT_TRUE(app->wants_frames());
    app->paint_at(scene = {}, t += 400ms);
    EXPECT_FALSE(app->tooltips.visible());
    app->paint_at(scene = {}, t += 1s);
    EXPECT_TRUE(app->tooltips.visible());
    EXPECT_FALSE(app->wants_frames());
    const auto texts = inspect(scene).texts;
    EXPECT_NE(std::ranges::find(texts, "Add connection (Ctrl+N)"), texts.end());
    app->handle_input_at(vorn_ui::PointerMove{{600, 400}}, nullptr, t);
    EXPECT_FALSE(app->tooltips.present());
}

TEST(Frame, TooltipDelayCountsFromHoverNotFromTheLastFrame) {
    auto app = make_plain_app();
    app->layout(window(1280));
    RecordingScene scene;
    auto t = app->frame_clock;
    app->paint_at(scene, t);
    const Rect list = app->click_targets[0].rect;
    t += 10s;  // idle: no frames
    app->handle_input_at(vorn_ui::PointerMove{list.center()}, nullptr, t);
    app->paint_at(scene, t += 100ms);
    EXPECT_TRUE(app->tooltips.present());
    EXPECT_FALSE(app->tooltips.visible());
    app->paint_at(scene, t += 450ms);
    EXPECT_TRUE(app->tooltips.visible());
    EXPECT_EQ(app->tooltips.text(), "Connections");
}

TEST(Frame, NavigationInTheAccessibilityTree) {
    struct Case {
        const char* preview;
        double width;
        std::vector<std::string> ids;
        std::string toggle_label;
    };
    const Case cases[] = {
        {"", 1280, {"remote.nav.list", "remote.connection.new"}, ""},
        {"narrow", 600, {"remote.nav.toggle"}, "Open navigation"},
        {"narrow-open",
         600,
         {"remote.nav.toggle", "remote.nav.list", "remote.connection.new"},
         "Close navigation"},
    };
    for (const Case& c : cases) {
        auto app = make_app(LaunchMode::Normal, c.preview);
        app->layout(window(c.width));
        const vorn_ui::AccessNode tree = app->accessibility_tree();
        ASSERT_EQ(tree.children.size(), 1u) << c.preview;
        const vorn_ui::AccessNode& group = tree.children[0];
        EXPECT_EQ(group.label, "Remote navigation");
        std::vector<std::string> ids;
        for (const auto& node : group.children) ids.push_back(node.id);
        EXPECT_EQ(ids, c.ids) << c.preview;
        std::vector<std::string> bound;
        for (const auto& b : app->action_bindings()) bound.push_back(b.element_id);
        EXPECT_EQ(bound, c.ids) << c.preview;
        if (const auto* toggle = vorn_ui::find_node(tree, "remote.nav.toggle")) {
            EXPECT_EQ(toggle->label, c.toggle_label);
            EXPECT_EQ(toggle->description, "Show Connections and Add connection");
        }
        if (const auto* list = vorn_ui::find_node(tree, "remote.nav.list")) {
            EXPECT_EQ(list->label, "Connections");
            EXPECT_TRUE(list->selected);
            EXPECT_EQ(vorn_ui::find_node(tree, "remote.connection.new")->label, "Add connection");
        }
    }
}

TEST(Frame, ReaderTogglesTheDrawerUnlessAConfirmationIsPending) {
    auto app = make_app(LaunchMode::Normal, "narrow");
    app->layout(window(600));
    const vorn_ui::SemanticEvent click{};
    EXPECT_TRUE(app->handle_semantic_action("remote.nav.toggle", click, nullptr));
    EXPECT_TRUE(app->drawer_target_open());
    EXPECT_FALSE(app->handle_semantic_action("remote.nav.unknown", click, nullptr));
    app->pending_confirmation = PendingConfirmation{};
    EXPECT_FALSE(app->handle_semantic_action("remote.nav.toggle", click, nullptr));
    EXPECT_TRUE(app->drawer_target_open());
}

}  // namespace

namespace {

TEST(Document, FirstReconciliationSeedsAnEmptyDocumentThenTheDocumentRules) {
    vorn_ui::doc::Document doc;
    auto sample = make_app(LaunchMode::Sample, "");
    ASSERT_FALSE(sample->profiles.empty());
    EXPECT_TRUE(sample->document_wanted());
    sample->on_document(doc);
    EXPECT_FALSE(sample->document_wanted());
    EXPECT_EQ(load_profiles(doc).size(), sample->profiles.size());

    // A second device starting from the same document takes the document's rows, whatever it
    // held before, and keeps a selection among them.
    auto normal = make_app(LaunchMode::Normal, "");
    ASSERT_TRUE(normal->profiles.empty());
    normal->on_document(doc);
    EXPECT_EQ(normal->profiles.size(), sample->profiles.size());
    EXPECT_TRUE(normal->selected.has_value());
}

TEST(Document, DeletingTheOpenSessionsProfileElsewhereEndsTheSession) {
    vorn_ui::doc::Document doc;
    auto app = make_app(LaunchMode::Sample, "");
    app->on_document(doc);
    const Uuid id = app->profiles.front().id;
    app->session = session::Preview{SessionStatus::connected()};
    app->session_connection = id;
    app->view = view::Session{id};
    const auto identity = app->session_identity;

    delete_profile(doc, id);
    app->needs_redraw_flag = false;
    app->on_document(doc);

    EXPECT_TRUE(std::holds_alternative<std::monostate>(app->session));
    EXPECT_FALSE(app->session_connection.has_value());
    EXPECT_EQ(app->session_identity, identity + 1);
    EXPECT_TRUE(std::holds_alternative<view::List>(app->view));
    EXPECT_TRUE(app->needs_redraw_flag);
}

TEST(Document, DispatchHeadsAreHandedOverOnce) {
    auto app = make_app(LaunchMode::Normal, "");
    EXPECT_FALSE(app->take_dispatch_heads().has_value());
    app->dispatch.heads = std::vector<vorn_ui::app::ChangeHash>{vorn_ui::app::ChangeHash{}};
    EXPECT_EQ(app->take_dispatch_heads()->size(), 1u);
    EXPECT_FALSE(app->take_dispatch_heads().has_value());
}

}  // namespace
