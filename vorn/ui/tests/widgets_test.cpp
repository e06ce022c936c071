#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <string>

#include "vorn/ui/access.h"
#include "vorn/ui/colors.h"
#include "vorn/ui/widgets/button.h"
#include "vorn/ui/widgets/flap.h"
#include "vorn/ui/widgets/text_input.h"
#include "vorn/ui/widgets/tooltip.h"

namespace {

using namespace vorn_ui;
using namespace std::chrono_literals;
using widget::text_input::TextInput;

const Rect kField{0, 0, 300, 36};

KeyEvent named(NamedKey k, Modifiers m = {}) {
    KeyEvent e;
    e.key = k;
    e.modifiers = m;
    return e;
}

KeyEvent typed(std::string ch, Modifiers m = {}) {
    KeyEvent e;
    e.key = ch;
    e.text = m.control ? std::string(1, char(ch[0] & 0x1F)) : ch;
    e.modifiers = m;
    return e;
}

const Modifiers kShift{false, false, true, false};
const Modifiers kCtrl{true, false, false, false};

AccessNode node(std::string id, Role role, std::string label, bool disabled = false) {
    AccessNode n;
    n.id = std::move(id);
    n.role = role;
    n.label = std::move(label);
    n.disabled = disabled;
    return n;
}

widget::text_input::Style style() {
    const Colors& c = Colors::dark();
    return {14, c.text, c.text_muted, c.accent, c.accent.with_opacity(0.3), 12};
}

// A fresh process-local clipboard state for each test that uses it.
class TextInputTest : public ::testing::Test {
  protected:
    void SetUp() override { widget::text_input::install_clipboard(nullptr); }
};

TEST_F(TextInputTest, BackspaceAndDeleteRemoveWholeCharacters) {
    auto in = TextInput::with_placeholder("p");
    in.set_text("aé€😀");  // 1, 2, 3 and 4 bytes
    const std::vector<std::string> after_backspace = {"aé€", "aé", "a", "", ""};
    for (const auto& want : after_backspace) {
        EXPECT_TRUE(in.handle_event(named(NamedKey::Backspace), kField));
        EXPECT_EQ(in.text(), want);
        EXPECT_EQ(in.cursor_pos(), want.size());
    }
    in.set_text("😀é");
    in.set_cursor_pos(0);
    in.handle_event(named(NamedKey::Delete), kField);
    EXPECT_EQ(in.text(), "é");
    in.handle_event(named(NamedKey::ArrowRight), kField);
    EXPECT_EQ(in.cursor_pos(), 2u);
    in.handle_event(named(NamedKey::Delete), kField);  // at the end: nothing
    EXPECT_EQ(in.text(), "é");
}

TEST_F(TextInputTest, CaretNeverLandsInsideACharacter) {
    auto in = TextInput::with_placeholder("");
    in.set_text("x€y");  // € occupies bytes 1..3
    in.set_cursor_pos(2);
    EXPECT_EQ(in.cursor_pos(), 1u);
    in.set_cursor_pos(99);
    EXPECT_EQ(in.cursor_pos(), 5u);
    in.handle_event(named(NamedKey::ArrowLeft), kField);
    EXPECT_EQ(in.cursor_pos(), 4u);
    in.handle_event(named(NamedKey::ArrowLeft), kField);
    EXPECT_EQ(in.cursor_pos(), 1u);
}

TEST_F(TextInputTest, ShiftSelectionIsReplacedByTyping) {
    auto in = TextInput::with_placeholder("");
    in.set_text("hello world");
    in.handle_event(named(NamedKey::Home), kField);
    for (int i = 0; i < 5; ++i) in.handle_event(named(NamedKey::ArrowRight, kShift), kField);
    EXPECT_EQ(in.selection_anchor(), 0u);
    EXPECT_EQ(in.cursor_pos(), 5u);
    in.handle_event(typed("J"), kField);
    EXPECT_EQ(in.text(), "J world");
    EXPECT_EQ(in.cursor_pos(), 1u);

    // Left without Shift collapses a selection to its start.
    in.handle_event(named(NamedKey::End, kShift), kField);
    in.handle_event(named(NamedKey::ArrowLeft), kField);
    EXPECT_EQ(in.cursor_pos(), 1u);
    EXPECT_EQ(in.selection_anchor(), 1u);

    in.handle_event(typed("a", kCtrl), kField);
    in.handle_event(named(NamedKey::Backspace), kField);
    EXPECT_EQ(in.text(), "");
}

TEST_F(TextInputTest, ControlArrowsAndBackspaceWorkByWord) {
    auto in = TextInput::with_placeholder("");
    in.set_text("ssh  zoë@host");
    in.handle_event(named(NamedKey::ArrowLeft, kCtrl), kField);
    EXPECT_EQ(in.cursor_pos(), 5u);
    in.handle_event(named(NamedKey::ArrowLeft, kCtrl), kField);
    EXPECT_EQ(in.cursor_pos(), 0u);
    in.handle_event(named(NamedKey::ArrowRight, Modifiers{true, false, true, false}), kField);
    EXPECT_EQ(in.cursor_pos(), 3u);
    EXPECT_EQ(in.selection_anchor(), 0u);
    in.handle_event(named(NamedKey::End), kField);
    in.handle_event(named(NamedKey::Backspace, kCtrl), kField);
    EXPECT_EQ(in.text(), "ssh  ");
}

TEST_F(TextInputTest, CutCopyPasteGoThroughTheClipboard) {
    auto in = TextInput::with_placeholder("");
    in.set_text("alpha beta");
    in.handle_event(typed("a", kCtrl), kField);
    EXPECT_TRUE(in.handle_event(typed("x", kCtrl), kField));
    EXPECT_EQ(in.text(), "");
    in.handle_event(typed("v", kCtrl), kField);
    in.handle_event(typed("v", kCtrl), kField);
    EXPECT_EQ(in.text(), "alpha betaalpha beta");

    // Copy leaves the text alone; an empty selection does not clear the clipboard.
    in.set_text("xyz");
    in.handle_event(typed("c", kCtrl), kField);
    in.handle_event(typed("v", kCtrl), kField);
    EXPECT_EQ(in.text(), "xyzalpha beta");

    struct Recording : widget::text_input::Clipboard {
        std::string value =
            "line one\r\nline\ttwo\x1b[31m\xC2\x9B"
            "1m\xFF";
        std::string text() const override { return value; }
        void set_text(std::string_view t) override { value = std::string(t); }
    } system;
    widget::text_input::install_clipboard(&system);
    in.set_text("");
    in.handle_event(typed("v", kCtrl), kField);
    // One line, and no control characters reach the field.
    EXPECT_EQ(in.text(), "line one  line two[31m1m\uFFFD");
    in.handle_event(typed("a", kCtrl), kField);
    in.handle_event(typed("c", kCtrl), kField);
    EXPECT_EQ(system.value, in.text());
    widget::text_input::install_clipboard(nullptr);
}

TEST_F(TextInputTest, ControlTextAndModifiedKeysAreNotInserted) {
    auto in = TextInput::with_placeholder("");
    EXPECT_FALSE(in.handle_event(typed("q", kCtrl), kField));
    EXPECT_FALSE(in.handle_event(named(NamedKey::Enter), kField));
    KeyEvent release = typed("k");
    release.pressed = false;
    EXPECT_FALSE(in.handle_event(release, kField));
    EXPECT_TRUE(in.handle_event(ImeCommit{"日本"}, kField));
    EXPECT_TRUE(in.handle_event(named(NamedKey::Space), kField));
    EXPECT_EQ(in.text(), "日本 ");
}

TEST_F(TextInputTest, ClickPlacesTheCaretWhereTheTextWasDrawn) {
    auto in = TextInput::with_placeholder("");
    in.set_text("abcdefgh");
    RecordingScene scene;
    in.draw(scene, kField, true, style());
    TextRenderer r;
    double x3 = 12 + r.measure("abc", 14);
    PointerButtonEvent press{{x3 + 1, 18}, PointerButton::Primary, true, 1, {}};
    EXPECT_TRUE(in.handle_event(press, kField));
    EXPECT_EQ(in.cursor_pos(), 3u);
    // Dragging extends the selection from the press.
    EXPECT_TRUE(in.handle_event(PointerMove{{400, 18}}, kField));
    EXPECT_EQ(in.selection_anchor(), 3u);
    EXPECT_EQ(in.cursor_pos(), 8u);
    in.handle_event(PointerButtonEvent{{400, 18}, PointerButton::Primary, false, 1, {}}, kField);
    EXPECT_FALSE(in.handle_event(PointerMove{{0, 18}}, kField));
    // A press outside the field is not the field's.
    EXPECT_FALSE(
        in.handle_event(PointerButtonEvent{{10, 80}, PointerButton::Primary, true, 1, {}}, kField));
}

TEST_F(TextInputTest, DrawShowsPlaceholderCaretAndKeepsTheCaretInView) {
    auto in = TextInput::with_placeholder("Search");
    RecordingScene unfocused;
    in.draw(unfocused, kField, false, style());
    ASSERT_EQ(unfocused.texts().size(), 1u);
    EXPECT_EQ(unfocused.texts()[0].text, "Search");
    EXPECT_EQ(unfocused.texts()[0].color, style().placeholder);
    for (const auto& item : unfocused.items)
        EXPECT_FALSE(std::holds_alternative<RecordingScene::Fill>(item));

    in.set_text(std::string(200, 'w'));
    RecordingScene focused;
    in.draw(focused, kField, true, style());
    ASSERT_EQ(focused.texts().size(), 1u);
    EXPECT_LT(focused.texts()[0].origin.x, 0);  // scrolled left
    const RecordingScene::Fill* caret = nullptr;
    for (const auto& item : focused.items)
        if (const auto* f = std::get_if<RecordingScene::Fill>(&item)) caret = f;
    ASSERT_NE(caret, nullptr);
    const Rect& r = std::get<Rect>(caret->shape);
    EXPECT_GE(r.x0, kField.x0);
    EXPECT_LE(r.x1, kField.x1);

    // Back at the start the text is not scrolled any more.
    in.handle_event(named(NamedKey::Home), kField);
    RecordingScene home;
    in.draw(home, kField, true, style());
    EXPECT_DOUBLE_EQ(home.texts()[0].origin.x, 12);
}

// Arbitrary bytes (clipboard, input methods, set_text) and arbitrary edits
// never leave the caret inside a character or past the end, and nothing
// typed or pasted brings control characters into the field.
TEST_F(TextInputTest, ArbitraryBytesAndEditsKeepTheCaretOnBoundaries) {
    std::mt19937 rng(1234);
    auto bytes = [&](std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s.push_back(char(rng() % 256));
        return s;
    };
    struct Fixed : widget::text_input::Clipboard {
        std::string value;
        std::string text() const override { return value; }
        void set_text(std::string_view t) override { value = std::string(t); }
    } clip;
    widget::text_input::install_clipboard(&clip);
    const NamedKey keys[] = {NamedKey::ArrowLeft, NamedKey::ArrowRight, NamedKey::Home,
                             NamedKey::End,       NamedKey::Backspace,  NamedKey::Delete};
    for (int round = 0; round < 200; ++round) {
        auto in = TextInput::with_placeholder("");
        in.set_text(bytes(rng() % 12));
        bool clean = false;  // true once every byte came through editing
        if (rng() % 2) {
            in.set_text("");
            clean = true;
        }
        for (int step = 0; step < 30; ++step) {
            switch (rng() % 6) {
                case 0:
                    in.handle_event(named(keys[rng() % 6], rng() % 2 ? kShift : Modifiers{}),
                                    kField);
                    break;
                case 1:
                    clip.value = bytes(rng() % 8);
                    in.handle_event(typed("v", kCtrl), kField);
                    break;
                case 2:
                    in.handle_event(ImeCommit{bytes(rng() % 6)}, kField);
                    break;
                case 3:
                    in.set_cursor_pos(rng() % 20);
                    break;
                case 4:
                    in.handle_event(PointerButtonEvent{{double(rng() % 300), 18},
                                                       PointerButton::Primary,
                                                       true,
                                                       1,
                                                       rng() % 2 ? kShift : Modifiers{}},
                                    kField);
                    break;
                default:
                    in.handle_event(typed("x", kCtrl), kField);
                    break;
            }
            const std::string& t = in.text();
            for (std::size_t pos : {in.cursor_pos(), in.selection_anchor()}) {
                ASSERT_LE(pos, t.size()) << "round " << round;
                if (pos > 0 && pos < t.size()) {
                    ASSERT_NE(static_cast<unsigned char>(t[pos]) & 0xC0, 0x80) << "round " << round;
                }
            }
            if (clean) {
                for (char c : t) ASSERT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F);
            }
        }
    }
    widget::text_input::install_clipboard(nullptr);
}

TEST(Tooltip, ShowsAfterTheDelayFadesInAndSettles) {
    widget::tooltip::TooltipHost host;
    const Rect target{100, 100, 140, 130};
    EXPECT_TRUE(host.settled());
    host.on_pointer({110, 110}, target, "Connect");
    EXPECT_TRUE(host.present());
    EXPECT_FALSE(host.settled());
    host.tick(499ms);
    EXPECT_FALSE(host.visible());
    host.tick(1ms);
    EXPECT_TRUE(host.visible());
    EXPECT_DOUBLE_EQ(host.opacity(), 0.0);
    host.tick(60ms);
    EXPECT_NEAR(host.opacity(), 0.5, 1e-9);
    // Moving within the same target does not restart anything.
    host.on_pointer({120, 115}, target, "Connect");
    host.tick(60ms);
    EXPECT_DOUBLE_EQ(host.opacity(), 1.0);
    EXPECT_TRUE(host.settled());
    host.tick(std::chrono::hours(24 * 365 * 100));
    EXPECT_TRUE(host.visible());

    host.on_pointer({300, 300}, Rect{290, 290, 310, 310}, "Delete");
    EXPECT_FALSE(host.visible());
    host.on_pointer({0, 0}, std::nullopt, std::nullopt);
    EXPECT_FALSE(host.present());
    EXPECT_TRUE(host.settled());
}

TEST(Tooltip, DrawsBelowTheTargetInsideTheWindow) {
    widget::tooltip::TooltipHost host;
    const Rect window{0, 0, 400, 300};
    RecordingScene hidden;
    host.on_pointer({390, 20}, Rect{370, 10, 400, 30}, "A rather long tooltip text");
    host.tick(100ms);
    widget::tooltip::draw_hover_tooltip(hidden, host, window);
    EXPECT_TRUE(hidden.items.empty());

    host.tick(1s);
    RecordingScene shown;
    widget::tooltip::draw_hover_tooltip(shown, host, window);
    ASSERT_EQ(shown.texts().size(), 1u);
    const auto& fill = std::get<RecordingScene::Fill>(shown.items.at(0));
    const Rect box = std::get<RoundedRect>(fill.shape).rect;
    EXPECT_GE(box.y0, 30);
    EXPECT_LE(box.x1, window.x1);
    EXPECT_GE(box.x0, window.x0);

    // At the bottom edge it goes above its target.
    host.on_pointer({50, 290}, Rect{40, 280, 60, 300}, "Tip");
    host.tick(1s);
    RecordingScene above;
    widget::tooltip::draw_hover_tooltip(above, host, window);
    EXPECT_LE(
        std::get<RoundedRect>(std::get<RecordingScene::Fill>(above.items.at(0)).shape).rect.y1,
        280);
}

TEST(Flap, MovesAcrossInAboutTwoHundredMillisecondsAndSnapsWithReducedMotion) {
    widget::flap::FlapState flap(0.0);
    EXPECT_TRUE(flap.advance(1.0, 100ms, false));
    EXPECT_NEAR(flap.position(), 0.5, 1e-9);
    EXPECT_GT(flap.reveal(), 0.5);  // eased out: ahead of the linear position
    EXPECT_FALSE(flap.advance(1.0, 150ms, false));
    EXPECT_DOUBLE_EQ(flap.position(), 1.0);
    EXPECT_DOUBLE_EQ(flap.reveal(), 1.0);
    EXPECT_DOUBLE_EQ(flap.slide(), 1.0);

    EXPECT_TRUE(flap.advance(0.0, 20ms, false));
    EXPECT_FALSE(flap.advance(0.0, 1ms, true));
    EXPECT_DOUBLE_EQ(flap.position(), 0.0);
    EXPECT_DOUBLE_EQ(flap.reveal(), 0.0);

    // Nonsense in, no movement out.
    EXPECT_FALSE(flap.advance(std::nan(""), 100ms, false));
    EXPECT_FALSE(flap.advance(0.0, -5s, false));
    flap.set_position(7);
    EXPECT_DOUBLE_EQ(flap.position(), 1.0);
}

TEST(ButtonPaint, FillsWithTheKindsColourAndCentresTheLabel) {
    const Colors& c = Colors::dark();
    const Rect bounds{10, 10, 110, 42};
    RecordingScene primary;
    widget::Button::paint(primary, bounds, "Connect", widget::Button::Kind::Primary, false);
    ASSERT_EQ(primary.items.size(), 2u);
    EXPECT_EQ(std::get<RecordingScene::Fill>(primary.items[0]).color, c.accent);
    const TextRun label = primary.texts().at(0);
    EXPECT_EQ(label.color, c.on_accent);
    double w = TextRenderer().measure_weighted("Connect", 13, label.weight);
    EXPECT_NEAR(label.origin.x + w / 2, bounds.center().x, 1e-9);

    RecordingScene hovered;
    widget::Button::paint(hovered, bounds, "Connect", widget::Button::Kind::Primary, true);
    EXPECT_NE(std::get<RecordingScene::Fill>(hovered.items[0]).color, c.accent);

    RecordingScene danger;
    widget::Button::paint(danger, bounds, "Delete", widget::Button::Kind::Danger, false);
    EXPECT_EQ(std::get<RecordingScene::Fill>(danger.items[0]).color, c.danger);
}

TEST(AccessTree, BindingsFollowRolesAndSkipDisabledNodes) {
    AccessNode root = node("root", Role::Window, "")
                          .with_children({
                              node("ok", Role::Button, "OK"),
                              node("off", Role::Button, "Off", true),
                              node("name", Role::TextInput, "Name"),
                              node("title", Role::Heading, "Title"),
                          });
    auto b = semantic_action_bindings(root);
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b[0].element_id, "ok");
    EXPECT_EQ(b[1].kind, SemanticEvent::Kind::SetText);
    EXPECT_EQ(b[2].kind, SemanticEvent::Kind::Focus);
    ASSERT_NE(find_node(root, "title"), nullptr);
    EXPECT_EQ(find_node(root, "nope"), nullptr);
}

}  // namespace
