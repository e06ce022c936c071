#include <algorithm>
#include <cstring>

#include "rfb/decoders.h"

namespace remote {

RfbResult<void> decode_copy_rect(RfbReader& in, const RectHeader& rect, Framebuffer& fb) {
    auto sx = in.u16();
    if (!sx) return std::unexpected(sx.error());
    auto sy = in.u16();
    if (!sy) return std::unexpected(sy.error());
    if (std::uint64_t{rect.w} * rect.h > kMaxRectPixels) {
        return std::unexpected(RfbError::other("RFB copy rectangle is too large"));
    }
    const PixelRect dst = fb.clip(rect.x, rect.y, rect.w, rect.h);
    if (dst.empty()) return {};
    fb.will_read(fb.clip(*sx, *sy, dst.w, dst.h));
    fb.will_overwrite(dst);

    // Every row's source is read before it can be overwritten: rows run bottom-up when the
    // destination lies below the source, and memmove handles overlap within a row. Source pixels
    // outside the framebuffer are transparent black.
    const std::uint32_t width = fb.width(), height = fb.height();
    const std::uint32_t from_src = *sx < width ? std::min(dst.w, width - *sx) : 0;
    const bool bottom_up = dst.y > *sy;
    for (std::uint32_t i = 0; i < dst.h; ++i) {
        std::uint32_t r = bottom_up ? dst.h - 1 - i : i;
        std::uint8_t* out = fb.row(dst.y + r) + std::size_t{dst.x} * 4;
        std::uint32_t src_y = std::uint32_t{*sy} + r;
        std::uint32_t copied = src_y < height ? from_src : 0;
        if (copied > 0) {
            std::memmove(out, fb.row(src_y) + std::size_t{*sx} * 4, std::size_t{copied} * 4);
        }
        std::memset(out + std::size_t{copied} * 4, 0, std::size_t{dst.w - copied} * 4);
    }
    return {};
}

}  // namespace remote
