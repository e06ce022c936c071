#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "rfb/decoders.h"

namespace remote {
namespace {

struct Subrect {
    std::array<std::uint8_t, 4> colour;
    std::uint16_t x, y, w, h;
};

RfbError work_limit(const char* what) {
    return RfbError::other(std::string(what) + " exceeds the pixel work limit");
}

void fill(Framebuffer& fb, const PixelRect& r, const std::array<std::uint8_t, 4>& colour) {
    if (r.empty()) return;
    std::uint32_t value;
    std::memcpy(&value, colour.data(), 4);
    for (std::uint32_t y = r.y; y < r.y + r.h; ++y) {
        std::uint8_t* p = fb.row(y) + std::size_t{r.x} * 4;
        for (std::uint32_t i = 0; i < r.w; ++i) std::memcpy(p + 4 * i, &value, 4);
    }
}

}  // namespace

RfbResult<void> decode_rre(RfbReader& in, const RectHeader& rect, Framebuffer& fb,
                           const PixelConverter& pixels) {
    auto count = in.u32();
    if (!count) return std::unexpected(count.error());
    if (*count > kMaxRreSubrects) {
        return std::unexpected(RfbError::other("RFB RRE update has too many subrectangles"));
    }
    if (std::uint64_t{rect.w} * rect.h > kMaxRectPixels) {
        return std::unexpected(work_limit("RRE background rectangle"));
    }
    const unsigned bpp = pixels.bytes_per_pixel();
    auto bg = in.ensure(bpp);
    if (!bg) return std::unexpected(bg.error());
    const auto background = pixels.convert(bg->data());
    in.consume(bpp);

    // Everything is read and checked before anything is drawn, so a refused rectangle leaves
    // no trace. The list grows as data actually arrives rather than by the declared count.
    std::vector<Subrect> subrects;
    subrects.reserve(std::min<std::uint32_t>(*count, 4096));
    std::uint64_t total = 0;
    std::uint32_t right = rect.x + std::uint32_t{rect.w}, bottom = rect.y + std::uint32_t{rect.h};
    bool spills = false;
    for (std::uint32_t i = 0; i < *count; ++i) {
        auto v = in.ensure(bpp + 8);
        if (!v) return std::unexpected(v.error());
        const std::uint8_t* p = v->data();
        const std::uint8_t* g = p + bpp;
        Subrect s{pixels.convert(p), static_cast<std::uint16_t>((g[0] << 8) | g[1]),
                  static_cast<std::uint16_t>((g[2] << 8) | g[3]),
                  static_cast<std::uint16_t>((g[4] << 8) | g[5]),
                  static_cast<std::uint16_t>((g[6] << 8) | g[7])};
        in.consume(bpp + 8);
        std::uint64_t area = std::uint64_t{s.w} * s.h;
        if (area > kMaxRectPixels) return std::unexpected(work_limit("RRE subrectangle"));
        total += area;
        if (total > kMaxRectPixels) {
            return std::unexpected(
                RfbError::other("RRE subrectangles exceed the pixel work limit"));
        }
        // Servers keep subrectangles inside their rectangle, but nothing enforces it.
        std::uint32_t sx = rect.x + std::uint32_t{s.x}, sy = rect.y + std::uint32_t{s.y};
        if (sx + s.w > right || sy + s.h > bottom) spills = true;
        subrects.push_back(s);
    }

    const PixelRect area = fb.clip(rect.x, rect.y, rect.w, rect.h);
    fb.will_overwrite(area);
    if (spills) {
        PixelRect all{0, 0, fb.width(), fb.height()};
        fb.will_modify(all);
    }
    fill(fb, area, background);
    for (const auto& s : subrects) {
        fill(fb, fb.clip(std::uint32_t{rect.x} + s.x, std::uint32_t{rect.y} + s.y, s.w, s.h),
             s.colour);
    }
    return {};
}

}  // namespace remote
