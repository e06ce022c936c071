#include <algorithm>

#include "rfb/decoders.h"

namespace remote {

RfbResult<void> decode_raw(RfbReader& in, const RectHeader& rect, Framebuffer& fb,
                           const PixelConverter& pixels) {
    const unsigned bpp = pixels.bytes_per_pixel();
    if (std::uint64_t{rect.w} * rect.h * bpp > kMaxRawBytes) {
        return std::unexpected(RfbError::other("RFB raw rectangle is too large"));
    }
    const PixelRect visible = fb.clip(rect.x, rect.y, rect.w, rect.h);
    fb.will_overwrite(visible);

    // Rows are converted straight out of the reader's buffer, a chunk at a time, so even a
    // 64 MiB rectangle needs no buffer of its own.
    for (std::uint32_t row = 0; row < rect.h; ++row) {
        const std::uint32_t y = std::uint32_t{rect.y} + row;
        const bool row_visible = !visible.empty() && y < visible.y + visible.h;
        std::uint8_t* dst = row_visible ? fb.row(y) + std::size_t{rect.x} * 4 : nullptr;
        std::uint32_t col = 0;
        while (col < rect.w) {
            auto view = in.ensure(bpp);
            if (!view) return std::unexpected(view.error());
            std::uint32_t n = static_cast<std::uint32_t>(
                std::min<std::size_t>(view->size() / bpp, rect.w - col));
            if (row_visible && col < visible.w) {
                std::uint32_t shown = std::min(n, visible.w - col);
                pixels.convert_run(view->data(), dst + std::size_t{col} * 4, shown);
            }
            in.consume(std::size_t{n} * bpp);
            col += n;
        }
    }
    return {};
}

}  // namespace remote
