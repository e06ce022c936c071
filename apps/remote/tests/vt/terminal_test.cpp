#include "vt/terminal.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace remote {
namespace {

std::span<const std::uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// A row as text with trailing blanks removed; non-ASCII cells show as {hex}.
std::string row_text(const Screen& s, std::size_t r) {
    std::string out;
    for (const Cell& c : s.grid[r]) {
        if (c.ch < 0x80) {
            out += static_cast<char>(c.ch);
        } else {
            out += "{" + std::to_string(static_cast<unsigned>(c.ch)) + "}";
        }
    }
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

void expect_shape(const Screen& s) {
    ASSERT_EQ(s.grid.size(), s.rows);
    for (const auto& row : s.grid) ASSERT_EQ(row.size(), s.cols);
    ASSERT_LE(s.cursor_col, s.cols);
    ASSERT_LT(s.cursor_row, s.rows);
}

std::string repeat(std::string_view piece, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += piece;
    return out;
}

struct RowText {
    std::size_t row;
    std::string text;
};

struct Case {
    const char* name;
    std::string input;
    std::size_t col;
    std::size_t row;
    std::vector<RowText> rows;  // rows not listed must be blank
};

// Cases run on an 80 x 24 terminal that starts with the input below on rows 0-1, so erasing
// and scrolling have something to remove.
TEST(Terminal, GridAndCursorAfterInput) {
    const std::string eighty = repeat("0123456789", 8);
    const std::string to_bottom = repeat("\n", 23);
    const std::vector<Case> cases = {
        {"80 characters leave the cursor past the last column", eighty, 80, 0, {{0, eighty}}},
        {"the 81st character wraps to the next row", eighty + "x", 1, 1, {{0, eighty}, {1, "x"}}},
        {"the 81st character on the last row scrolls",
         "top" + to_bottom + "\r" + eighty + "x",
         1,
         23,
         {{22, eighty}, {23, "x"}}},
        {"CR LF on the bottom row scrolls the top row away",
         "top\r\nsecond" + repeat("\n", 22) + "\r\n",
         0,
         23,
         {{0, "second"}}},
        {"LF keeps the column", "abc\nd", 4, 1, {{0, "abc"}, {1, "   d"}}},
        {"VT and FF are line feeds",
         "a\x0b"
         "b\x0c"
         "c",
         3,
         2,
         {{0, "a"}, {1, " b"}, {2, "  c"}}},
        {"BS stops at column 0", "ab\b\b\bc", 1, 0, {{0, "cb"}}},
        {"tab from column 8 lands on 16", "\x1b[9G\t", 16, 0, {}},
        {"tab from column 75 lands on 79", "\x1b[76G\t", 79, 0, {}},
        {"tab past the last column stays on 79", eighty + "\t", 79, 0, {{0, eighty}}},
        {"CUP clamps to the grid", "\x1b[10;200H", 79, 9, {}},
        {"CUP 0;0 is the top left", "\x1b[5;5H\x1b[0;0H", 0, 0, {}},
        {"CUP without parameters is the top left", "\x1b[5;5H\x1b[H", 0, 0, {}},
        {"HVP is CUP", "\x1b[3;4f", 3, 2, {}},
        {"CUB stops at column 0", "ab\x1b[5D", 0, 0, {{0, "ab"}}},
        {"CUF 0 moves one column", "\x1b[0C", 1, 0, {}},
        {"CUF clamps to the last column", "\x1b[500C", 79, 0, {}},
        {"CUU stops at row 0", "\x1b[3;1H\x1b[9A", 0, 0, {}},
        {"CUD clamps to the last row", "\x1b[99B", 0, 23, {}},
        {"CHA", "\x1b[12G", 11, 0, {}},
        {"20-digit row clamps", "\x1b[99999999999999999999;1H", 0, 23, {}},
        {"ED 0 blanks only the rest of the cursor line",
         "abcdef\r\nsecond\x1b[1;3H\x1b[J",
         2,
         0,
         {{0, "ab"}, {1, "second"}}},
        {"ED 1 acts like ED 0",
         "abcdef\r\nsecond\x1b[1;3H\x1b[1J",
         2,
         0,
         {{0, "ab"}, {1, "second"}}},
        {"ED 2 blanks everything, cursor stays", "abc\r\ndef\x1b[2J", 3, 1, {}},
        {"ED 3 blanks everything", "abc\r\ndef\x1b[3J", 3, 1, {}},
        {"private ED 2 clears too", "abc\r\ndef\x1b[?2J", 3, 1, {}},
        {"EL 0 from column 0 blanks the row", "abc\r\x1b[K", 0, 0, {}},
        {"EL 1 acts like EL 0", "abcdef\x1b[1;3H\x1b[1K", 2, 0, {{0, "ab"}}},
        {"EL 2 blanks the whole row", "abcdef\x1b[1;3H\x1b[2K", 2, 0, {}},
        {"EL at the pending wrap blanks nothing", eighty + "\x1b[K", 80, 0, {{0, eighty}}},
        {"unhandled finals do nothing",
         "abc\x1b[2L\x1b[P\x1b[3S\x1b[X\x1b[5d\x1b[r\x1b[s\x1b[u",
         3,
         0,
         {{0, "abc"}}},
        {"OSC title, ESC 7, alternate screen and BEL are inert",
         "ab\x1b]0;title\a\x1b"
         "7\x1b[?1049h\a",
         2,
         0,
         {{0, "ab"}}},
        {"device and title queries are inert",
         "ab\x1b[6n\x1b[c\x1b[>c\x1b[21t\x1bP$qm\x1b\\\x1b]52;c;?\a",
         2,
         0,
         {{0, "ab"}}},
        {"UTF-8 and replacement characters take one cell each",
         "\xc3\xa9\xe4\xb8\xad\xff",
         3,
         0,
         {{0, "{233}{20013}{65533}"}}},
    };
    for (const Case& c : cases) {
        Terminal t(80, 24);
        t.feed(bytes_of(c.input));
        const Screen& s = t.screen();
        expect_shape(s);
        EXPECT_EQ(s.cursor_col, c.col) << c.name;
        EXPECT_EQ(s.cursor_row, c.row) << c.name;
        for (std::size_t r = 0; r < s.rows; ++r) {
            std::string want;
            for (const RowText& rt : c.rows) {
                if (rt.row == r) want = rt.text;
            }
            EXPECT_EQ(row_text(s, r), want) << c.name << ", row " << r;
        }
    }
}

struct Pen {
    std::optional<std::uint8_t> color;
    bool bold;
};

TEST(Terminal, SgrSetsThePenOfPrintedCells) {
    const std::vector<std::pair<std::string, Pen>> cases = {
        {"\x1b[1;31m", {1, true}},
        {"\x1b[1;31m\x1b[22m", {1, false}},
        {"\x1b[1;31m\x1b[0m", {std::nullopt, false}},
        {"\x1b[1;31m\x1b[m", {std::nullopt, false}},
        {"\x1b[1;31m\x1b[;m", {std::nullopt, false}},
        {"\x1b[1;31m\x1b[39m", {std::nullopt, true}},
        {"\x1b[91m", {9, false}},
        {"\x1b[30m", {0, false}},
        {"\x1b[97m", {15, false}},
        {"\x1b[31;44;101m", {1, false}},                // backgrounds ignored
        {"\x1b[38;5;33m", {3, false}},                  // 38 and 5 ignored, 33 is yellow
        {"\x1b[31;38;2;0;1;2m", {std::nullopt, true}},  // the 0 resets, then 1 sets bold
        {"\x1b[38:5:200;32m", {2, false}},              // sub-parameters ignored
        {"\x1b[1:31m", {std::nullopt, true}},
        {"\x1b[31m\x1b[?0m", {std::nullopt, false}},  // private marker not looked at
    };
    for (const auto& [sgr, pen] : cases) {
        Terminal t(80, 24);
        t.feed(bytes_of(sgr + "x\xc3\xa9"));
        const Screen& s = t.screen();
        for (std::size_t col : {0, 1}) {
            const Cell& cell = s.grid[0][col];
            EXPECT_EQ(cell.color, pen.color) << sgr.substr(1) << " col " << col;
            EXPECT_EQ(cell.bold, pen.bold) << sgr.substr(1) << " col " << col;
        }
        EXPECT_EQ(s.grid[0][2], kBlankCell);
    }
}

TEST(Terminal, ErasingAndScrollingWriteBlankCellsWhateverThePen) {
    Terminal t(10, 3);
    t.feed(bytes_of("\x1b[1;35maaaaaaaaaa\r\nbbbbbbbbbb\r\ncccccccccc"));
    t.feed(bytes_of("\x1b[2;5H\x1b[K\x1b[3;1H\x1b[2K\r\n"));
    const Screen& s = t.screen();
    EXPECT_EQ(s.grid[0][0], (Cell{5, U'b', true}));
    EXPECT_EQ(s.grid[0][4], kBlankCell);
    EXPECT_EQ(s.grid[1], std::vector<Cell>(10, kBlankCell));
    EXPECT_EQ(s.grid[2], std::vector<Cell>(10, kBlankCell));
    t.feed(bytes_of("\x1b[2J"));
    for (const auto& row : t.screen().grid) EXPECT_EQ(row, std::vector<Cell>(10, kBlankCell));
    EXPECT_EQ(t.screen().pen_color, 5);
    EXPECT_TRUE(t.screen().pen_bold);
}

TEST(Terminal, SizesBelowOneBecomeOne) {
    Terminal t(0, 0);
    expect_shape(t.screen());
    EXPECT_EQ(t.screen().cols, 1U);
    EXPECT_EQ(t.screen().rows, 1U);
    t.feed(bytes_of("abc\t\x1b[5;5H\x1b[3C\n\x1b[A\x1b[2J"));
    expect_shape(t.screen());
    t.feed(bytes_of("xy"));
    EXPECT_EQ(t.screen().grid[0][0].ch, U'y');
    EXPECT_EQ(t.screen().cursor_col, 1U);
}

TEST(Terminal, UnevenSizeKeepsItsShape) {
    Terminal t(3, 2);
    t.feed(
        bytes_of("abcdefg\x1b[9;9H\x1b[2J"
                 "xyz\r\n\r\n\t\t"));
    expect_shape(t.screen());
    EXPECT_EQ(t.screen().cursor_col, 2U);
    EXPECT_EQ(t.screen().cursor_row, 1U);
    EXPECT_EQ(row_text(t.screen(), 0), "");
}

// Streams a hostile or broken peer might send: each must leave the terminal in its ground
// state, bounded, with the grid intact, and text after it must print normally.
TEST(Terminal, HostileStreamsStayBounded) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"a million CSI parameters", "\x1b[" + repeat("1;", 1'000'000) + "31m"},
        {"a 10 MB unterminated OSC string", "\x1b]0;" + std::string(10'000'000, 'x')},
        {"a 10 MB DCS string", "\x1bP1$q" + std::string(10'000'000, 'y')},
        {"many 20-digit parameters", "\x1b[" + repeat("99999999999999999999;", 10'000) + "H"},
        {"clipboard and status queries", "\x1b]52;c;?\a\x1b[5n\x1b[6n\x1bP$q\"p\x1b\\\x1b[>0q"},
    };
    for (const auto& [name, stream] : cases) {
        Terminal t(80, 24);
        t.feed(bytes_of(stream));
        t.feed(bytes_of("\x18\rok"));  // CAN ends any string or sequence still open
        const Screen& s = t.screen();
        expect_shape(s);
        ASSERT_GE(s.cursor_col, 2U) << name;
        EXPECT_EQ(s.grid[s.cursor_row][s.cursor_col - 2].ch, U'o') << name;
        EXPECT_EQ(s.grid[s.cursor_row][s.cursor_col - 1].ch, U'k') << name;
    }
}

// A pen change split from its text, and text split inside UTF-8: the same screen whatever the
// chunking.
TEST(Terminal, ChunkBoundariesDoNotChangeTheScreen) {
    const std::vector<std::string> corpora = {
        "\x1b[1;31mred\x1b[0m plain \x1b[10;70H" + repeat("wrap", 5) +
            "\r\n\x1b[2Kend\x1b[3D\x1b[K",
        "\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80\xc3(\xed\xa0\x80x\xc2\x9b"
        "5G|\t|\b\x1b[J",
        "\x1b]0;ti\xc5\x9ctle\ax\x1bP1$qm\x1b\\y\x1b[38:2:1:2:3m\x1b[92mz" + repeat("\n", 30) + "q",
    };
    for (const std::string& input : corpora) {
        Terminal whole(20, 5);
        whole.feed(bytes_of(input));
        for (std::size_t cut = 0; cut <= input.size(); ++cut) {
            Terminal split(20, 5);
            split.feed(bytes_of(std::string_view(input).substr(0, cut)));
            split.feed(bytes_of(std::string_view(input).substr(cut)));
            ASSERT_EQ(split.screen(), whole.screen()) << "cut at " << cut << " of " << input;
        }
        Terminal bytewise(20, 5);
        for (char ch : input) bytewise.feed(bytes_of(std::string_view(&ch, 1)));
        EXPECT_EQ(bytewise.screen(), whole.screen()) << input;
    }
}

TEST(Terminal, SplitUtf8CharacterFillsOneCell) {
    Terminal t(80, 24);
    t.feed(bytes_of("\xe4"));
    EXPECT_EQ(t.screen().cursor_col, 0U);
    t.feed(bytes_of("\xb8"));
    t.feed(bytes_of("\xad!"));
    EXPECT_EQ(t.screen().grid[0][0].ch, U'\u4e2d');
    EXPECT_EQ(t.screen().grid[0][1].ch, U'!');
    EXPECT_EQ(t.screen().cursor_col, 2U);
}

}  // namespace
}  // namespace remote
