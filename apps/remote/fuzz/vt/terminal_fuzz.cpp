// Arbitrary remote output in arbitrary chunkings. The first byte picks the terminal size and the
// next four the chunk lengths (cycled), so the fuzzer learns to cut sequences and UTF-8
// characters anywhere. The grid must keep its shape and the cursor stay in range.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "vt/terminal.h"

namespace {

struct Size {
    std::uint16_t cols;
    std::uint16_t rows;
};
constexpr Size kSizes[] = {{80, 24}, {1, 1}, {0, 0}, {3, 2}, {132, 5}, {8, 40}, {80, 1}, {2, 80}};

void check(const remote::Screen& s) {
    bool ok = s.cols >= 1 && s.rows >= 1 && s.grid.size() == s.rows && s.cursor_col <= s.cols &&
              s.cursor_row < s.rows;
    for (const auto& row : s.grid) ok = ok && row.size() == s.cols;
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    const Size dims = kSizes[data[0] % std::size(kSizes)];
    const std::uint8_t* chunks = data + 1;
    data += 5;
    size -= 5;
    remote::Terminal terminal(dims.cols, dims.rows);
    for (std::size_t at = 0, i = 0; at < size; ++i) {
        // 0 means "the rest", so one-chunk inputs stay reachable
        const std::size_t want = chunks[i % 4] == 0 ? size : chunks[i % 4];
        const std::size_t n = want < size - at ? want : size - at;
        terminal.feed({data + at, n});
        check(terminal.screen());
        at += n;
    }
    return 0;
}
