#include "vt/terminal.h"

#include <algorithm>

namespace remote {

namespace {

// Applies the parser's actions to a Screen. Only print, execute and CSI dispatch change
// anything; the rest of what a shell may send (titles, private modes, device queries,
// DCS strings) is dropped here, and nothing is ever answered.
class ScreenExecutor final : public ParserActions {
  public:
    explicit ScreenExecutor(Screen& s) : s_(s) {}

    void print(char32_t ch) override {
        wrap_if_pending();
        put_cell(ch);
    }

    void print_ascii(std::span<const std::uint8_t> run) override {
        const std::optional<std::uint8_t> color = s_.pen_color;
        const bool bold = s_.pen_bold;
        while (!run.empty()) {
            wrap_if_pending();
            std::vector<Cell>& row = s_.grid[s_.cursor_row];
            const std::size_t n = std::min(run.size(), s_.cols - s_.cursor_col);
            Cell* out = row.data() + s_.cursor_col;
            for (std::size_t i = 0; i < n; ++i) {
                out[i].color = color;
                out[i].ch = run[i];
                out[i].bold = bold;
            }
            s_.cursor_col += n;
            run = run.subspan(n);
        }
    }

    void execute(std::uint8_t control) override {
        // clang-format off
        switch (control) {
            case 0x08: BS(); break;
            case 0x09: HT(); break;
            case 0x0A:
            case 0x0B:
            case 0x0C: LF(); break;
            case 0x0D: CR(); break;
            default: break;  // NUL, BEL, SO, SI, the C1 controls ...
        }
        // clang-format on
    }

    // Chosen by the final byte alone: private markers and intermediates are not looked at, so
    // ESC [ ? 2 J clears like ESC [ 2 J.
    void csi_dispatch(const ControlSequence& seq) override {
        // clang-format off
        switch (seq.final) {
            case 'A': CUU(count(seq)); break;
            case 'B': CUD(count(seq)); break;
            case 'C': CUF(count(seq)); break;
            case 'D': CUB(count(seq)); break;
            case 'G': CHA(count(seq)); break;
            case 'H':
            case 'f': CUP(seq.param(0), seq.param(1)); break;
            case 'J': ED(seq.param(0)); break;
            case 'K': EL(seq.param(0)); break;
            case 'm': SGR(seq); break;
            default: break;
        }
        // clang-format on
    }

    void esc_dispatch(const ControlSequence&) override {}
    void osc_dispatch(std::span<const std::uint8_t>, bool) override {}
    void hook(const ControlSequence&) override {}
    void put(std::uint8_t) override {}
    void unhook() override {}

  private:
    // A missing or 0 count means 1.
    static std::size_t count(const ControlSequence& seq) {
        return std::max<std::size_t>(seq.param(0), 1);
    }

    void wrap_if_pending() {
        if (s_.cursor_col >= s_.cols) {
            s_.cursor_col = 0;
            LF();
        }
    }

    void put_cell(char32_t ch) {
        if (s_.cursor_row < s_.grid.size() && s_.cursor_col < s_.grid[s_.cursor_row].size()) {
            s_.grid[s_.cursor_row][s_.cursor_col] = Cell{s_.pen_color, ch, s_.pen_bold};
        }
        ++s_.cursor_col;
    }

    void blank_to_end_of_line() {
        std::vector<Cell>& row = s_.grid[s_.cursor_row];
        if (s_.cursor_col < row.size()) {
            std::fill(row.begin() + static_cast<std::ptrdiff_t>(s_.cursor_col), row.end(),
                      kBlankCell);
        }
    }

    // ---- controls ----
    void BS() {
        if (s_.cursor_col > 0) --s_.cursor_col;
    }
    void HT() { s_.cursor_col = std::min(s_.cursor_col / 8 * 8 + 8, s_.cols - 1); }
    void LF() {
        if (s_.cursor_row + 1 < s_.rows) {
            ++s_.cursor_row;
            return;
        }
        // No scrollback: the top row is gone, and its storage becomes the new blank bottom row.
        std::rotate(s_.grid.begin(), s_.grid.begin() + 1, s_.grid.end());
        std::fill(s_.grid.back().begin(), s_.grid.back().end(), kBlankCell);
    }
    void CR() { s_.cursor_col = 0; }

    // ---- control sequences ----
    void CUU(std::size_t n) { s_.cursor_row -= std::min(n, s_.cursor_row); }
    void CUD(std::size_t n) { s_.cursor_row = std::min(s_.cursor_row + n, s_.rows - 1); }
    void CUF(std::size_t n) { s_.cursor_col = std::min(s_.cursor_col + n, s_.cols - 1); }
    void CUB(std::size_t n) { s_.cursor_col -= std::min(n, s_.cursor_col); }
    void CHA(std::size_t n) { s_.cursor_col = std::min(n - 1, s_.cols - 1); }
    void CUP(std::size_t row, std::size_t col) {
        s_.cursor_row = std::min(std::max<std::size_t>(row, 1) - 1, s_.rows - 1);
        s_.cursor_col = std::min(std::max<std::size_t>(col, 1) - 1, s_.cols - 1);
    }
    // Only "all" erases more than one line; every other form blanks the rest of the cursor line.
    void ED(std::size_t mode) {
        if (mode == 2 || mode == 3) {
            for (std::vector<Cell>& row : s_.grid) std::fill(row.begin(), row.end(), kBlankCell);
        } else {
            blank_to_end_of_line();
        }
    }
    void EL(std::size_t mode) {
        if (mode == 2) {
            std::vector<Cell>& row = s_.grid[s_.cursor_row];
            std::fill(row.begin(), row.end(), kBlankCell);
        } else {
            blank_to_end_of_line();
        }
    }
    // Each parameter acts on its own, by its first value; extended-colour forms such as
    // 38;5;n are not understood, so their numbers act one by one as well.
    void SGR(const ControlSequence& seq) {
        if (seq.param_count == 0) {
            reset_pen();
            return;
        }
        for (std::size_t i = 0; i < seq.param_count; ++i) {
            if (seq.is_sub(i)) continue;
            const std::uint16_t v = seq.params[i];
            if (v == 0) {
                reset_pen();
            } else if (v == 1) {
                s_.pen_bold = true;
            } else if (v == 22) {
                s_.pen_bold = false;
            } else if (v == 39) {
                s_.pen_color.reset();
            } else if (v >= 30 && v <= 37) {
                s_.pen_color = static_cast<std::uint8_t>(v - 30);
            } else if (v >= 90 && v <= 97) {
                s_.pen_color = static_cast<std::uint8_t>(v - 82);
            }
        }
    }
    void reset_pen() {
        s_.pen_color.reset();
        s_.pen_bold = false;
    }

    Screen& s_;
};

}  // namespace

Terminal::Terminal(std::uint16_t cols, std::uint16_t rows) {
    screen_.cols = std::max<std::size_t>(cols, 1);
    screen_.rows = std::max<std::size_t>(rows, 1);
    screen_.grid.assign(screen_.rows, std::vector<Cell>(screen_.cols, kBlankCell));
}

void Terminal::feed(std::span<const std::uint8_t> bytes) {
    ScreenExecutor executor(screen_);
    parser_.feed(bytes, executor);
}

}  // namespace remote
