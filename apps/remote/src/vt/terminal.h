#pragma once
// The terminal emulator behind an SSH session: turns the shell's output bytes into a fixed grid
// of character cells with a cursor. It never answers the remote side: it has no output at all.
// Not thread-safe: a Terminal is created, fed and read on the UI thread only.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "vt/parser.h"

namespace remote {

struct Cell {
    std::optional<std::uint8_t> color;  // palette index 0-15; absent means the default foreground
    char32_t ch = U' ';
    bool bold = false;

    friend bool operator==(const Cell&, const Cell&) = default;
};

// The blank cell that erasing writes, whatever the pen holds.
inline constexpr Cell kBlankCell{};

struct Screen {
    std::optional<std::uint8_t> pen_color;  // given to newly printed cells
    std::vector<std::vector<Cell>> grid;  // exactly `rows` rows of exactly `cols` cells, top first
    std::size_t cols = 1;
    std::size_t rows = 1;
    std::size_t cursor_col = 0;  // 0 ... cols; cols means the next print wraps first
    std::size_t cursor_row = 0;  // 0 ... rows - 1
    bool pen_bold = false;

    friend bool operator==(const Screen&, const Screen&) = default;
};

class Terminal {
  public:
    // Sizes below 1 become 1. The grid starts blank, cursor at the top left, default pen.
    Terminal(std::uint16_t cols, std::uint16_t rows);

    // Applies one chunk of the remote side's output; a chunk may end anywhere, even inside a
    // UTF-8 character or a control sequence. Nothing is kept of the bytes themselves.
    void feed(std::span<const std::uint8_t> bytes);

    [[nodiscard]] const Screen& screen() const { return screen_; }

  private:
    Parser parser_;
    Screen screen_;
};

}  // namespace remote
