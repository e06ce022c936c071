#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "vorn/ui/colors.h"
#include "vt/keys.h"
#include "vt/terminal.h"
#include "vt/terminal_view.h"

namespace remote {
namespace {

using vorn_ui::KeyEvent;
using vorn_ui::Modifiers;
using vorn_ui::NamedKey;
using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

KeyEvent named(NamedKey key, std::string text = "", Modifiers mods = {}) {
    KeyEvent e;
    e.key = key;
    e.text = std::move(text);
    e.modifiers = mods;
    return e;
}

KeyEvent character(std::string key, std::string text, Modifiers mods = {}) {
    KeyEvent e;
    e.key = std::move(key);
    e.text = std::move(text);
    e.modifiers = mods;
    return e;
}

constexpr Modifiers kControl{.control = true};
constexpr Modifiers kControlShift{.control = true, .shift = true};

TEST(KeyEncoding, PressesBecomeTerminalBytes) {
    struct Case {
        const char* name;
        KeyEvent event;
        std::optional<Bytes> expected;
    };
    const std::vector<Case> cases = {
        {"Enter is CR alone", named(NamedKey::Enter, "\r"), Bytes{0x0D}},
        {"Tab", named(NamedKey::Tab, "\t"), Bytes{0x09}},
        {"Space", named(NamedKey::Space, " "), Bytes{0x20}},
        {"Backspace is DEL", named(NamedKey::Backspace, "\b"), Bytes{0x7F}},
        {"Escape", named(NamedKey::Escape, "\x1b"), Bytes{0x1B}},
        {"Delete", named(NamedKey::Delete), bytes("\x1b[3~")},
        {"ArrowUp", named(NamedKey::ArrowUp), bytes("\x1b[A")},
        {"ArrowDown", named(NamedKey::ArrowDown), bytes("\x1b[B")},
        {"ArrowRight", named(NamedKey::ArrowRight), bytes("\x1b[C")},
        {"ArrowLeft", named(NamedKey::ArrowLeft), bytes("\x1b[D")},
        {"Home", named(NamedKey::Home), bytes("\x1b[H")},
        {"End", named(NamedKey::End), bytes("\x1b[F")},
        {"modifiers leave named keys alone", named(NamedKey::ArrowUp, "", kControlShift),
         bytes("\x1b[A")},
        {"PageUp without text sends nothing", named(NamedKey::PageUp), std::nullopt},
        {"F5 with text sends the text", named(NamedKey::F5, "x"), bytes("x")},
        {"Control+C", character("c", "\x03", kControl), Bytes{0x03}},
        {"Control+Shift+C", character("C", "\x03", kControlShift), Bytes{0x03}},
        {"Control+A", character("a", "", kControl), Bytes{0x01}},
        {"Control+Z", character("z", "", kControl), Bytes{0x1A}},
        {"Control+1 sends the digit", character("1", "1", kControl), bytes("1")},
        {"Control with a non-letter and no text sends the key", character("/", "", kControl),
         bytes("/")},
        {"Control with an empty key sends nothing", character("", "x", kControl), std::nullopt},
        {"Control with an accented key sends its text", character("\xc3\xa9", "\xc3\xa9", kControl),
         bytes("\xc3\xa9")},
        {"e acute is two UTF-8 bytes", character("\xc3\xa9", "\xc3\xa9"), Bytes{0xC3, 0xA9}},
        {"text wins over the key string", character("2", "\xc3\xa9"), bytes("\xc3\xa9")},
        {"the key string when there is no text", character("q", ""), bytes("q")},
        {"Alt adds no escape prefix", character("x", "x", {.alt = true}), bytes("x")},
        {"Super is ignored", character("k", "k", {.super = true}), bytes("k")},
        {"nothing at all", character("", ""), std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(encode_key(c.event), c.expected) << c.name;
    }
}

TEST(KeyEncoding, ReleasesAreNeverEncoded) {
    for (KeyEvent e : {named(NamedKey::Enter), character("a", "a"), character("c", "", kControl)}) {
        e.pressed = false;
        EXPECT_EQ(encode_key(e), std::nullopt);
    }
}

template <typename T>
std::vector<T> items_of(const vorn_ui::RecordingScene& scene) {
    std::vector<T> out;
    for (const auto& item : scene.items) {
        if (const T* t = std::get_if<T>(&item)) out.push_back(*t);
    }
    return out;
}

constexpr double kEps = 1e-9;

TEST(TerminalDrawing, RunsOfEqualPenThenCursor) {
    const auto& palette = vorn_ui::TerminalPalette::dark();
    Terminal t(80, 24);
    const std::string_view input = "\x1b[31mab\x1b[m\r\n\x1b[1mB\x1b[22m\xc3\xa9";
    t.feed({reinterpret_cast<const std::uint8_t*>(input.data()), input.size()});
    const vorn_ui::Rect surface{100, 50, 900, 650};
    vorn_ui::RecordingScene scene;
    draw_terminal(scene, vorn_ui::TextRenderer::mono(), surface, t);

    // background, clip, text, cursor, end of clip: in that order
    ASSERT_GE(scene.items.size(), 4U);
    const auto* background = std::get_if<vorn_ui::RecordingScene::Fill>(&scene.items.front());
    ASSERT_NE(background, nullptr);
    EXPECT_EQ(std::get<vorn_ui::Rect>(background->shape), surface);
    EXPECT_EQ(background->color, palette.background);
    const auto* clip = std::get_if<vorn_ui::RecordingScene::PushLayer>(&scene.items[1]);
    ASSERT_NE(clip, nullptr);
    EXPECT_EQ(std::get<vorn_ui::Rect>(clip->clip), surface);
    EXPECT_EQ(clip->opacity, 1.0);
    EXPECT_EQ(clip->blend, vorn_ui::Blend::Normal);
    EXPECT_TRUE(std::holds_alternative<vorn_ui::RecordingScene::PopLayer>(scene.items.back()));

    const std::vector<vorn_ui::TextRun> runs = scene.texts();
    ASSERT_EQ(runs.size(), 2U + 2U + 22U);  // rows 0 and 1 have two runs, the rest one each
    // row 0: "ab" in palette colour 1, then 78 blanks in the foreground colour
    EXPECT_EQ(runs[0].text, "ab");
    EXPECT_EQ(runs[0].color, palette.colors[1]);
    EXPECT_EQ(runs[0].weight, 0);
    EXPECT_EQ(runs[0].size_pt, 14);
    EXPECT_NEAR(runs[0].origin.x, 116, kEps);
    EXPECT_NEAR(runs[0].origin.y, 66, kEps);
    EXPECT_EQ(runs[1].text, std::string(78, ' '));
    EXPECT_EQ(runs[1].color, palette.foreground);
    EXPECT_NEAR(runs[1].origin.x, 116 + 2 * 8.4, kEps);
    // row 1: bold "B", then "é" and blanks share the default pen
    EXPECT_EQ(runs[2].text, "B");
    EXPECT_EQ(runs[2].weight, 3);
    EXPECT_NEAR(runs[2].origin.y, 66 + 21, kEps);
    EXPECT_EQ(runs[3].text, "\xc3\xa9" + std::string(78, ' '));
    EXPECT_EQ(runs[3].weight, 0);
    EXPECT_NEAR(runs[3].origin.x, 116 + 8.4, kEps);
    EXPECT_EQ(runs[4].text, std::string(80, ' '));
    EXPECT_NEAR(runs.back().origin.y, 66 + 21 * 23, kEps);

    const auto fills = items_of<vorn_ui::RecordingScene::Fill>(scene);
    ASSERT_EQ(fills.size(), 2U);
    const auto cursor = std::get<vorn_ui::Rect>(fills[1].shape);
    EXPECT_NEAR(cursor.x0, 116 + 2 * 8.4, kEps);
    EXPECT_NEAR(cursor.y0, 66 + 21, kEps);
    EXPECT_NEAR(cursor.width(), 8.4, kEps);
    EXPECT_NEAR(cursor.height(), 16.8, kEps);
    vorn_ui::Color want = palette.foreground;
    want.a = 153;
    EXPECT_EQ(fills[1].color, want);
}

TEST(TerminalDrawing, CursorPastTheLastColumnIsDrawnInsideTheClip) {
    Terminal t(80, 24);
    const std::string line(80, 'x');
    t.feed({reinterpret_cast<const std::uint8_t*>(line.data()), line.size()});
    ASSERT_EQ(t.screen().cursor_col, 80U);
    vorn_ui::RecordingScene scene;
    draw_terminal(scene, vorn_ui::TextRenderer::mono(), {0, 0, 800, 600}, t);
    // the cursor block is the last item before the clip ends
    ASSERT_GE(scene.items.size(), 3U);
    const auto* fill =
        std::get_if<vorn_ui::RecordingScene::Fill>(&scene.items[scene.items.size() - 2]);
    ASSERT_NE(fill, nullptr);
    const auto rect = std::get<vorn_ui::Rect>(fill->shape);
    EXPECT_NEAR(rect.x0, 16 + 80 * 8.4, kEps);
    EXPECT_NEAR(rect.y0, 16, kEps);
    EXPECT_TRUE(std::holds_alternative<vorn_ui::RecordingScene::PopLayer>(scene.items.back()));
    EXPECT_EQ(scene.texts().front().text, line);
}

}  // namespace
}  // namespace remote
