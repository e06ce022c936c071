#include "rfb/update.h"

#include <limits>

#include "rfb/decoders.h"

namespace remote {
namespace {

RfbResult<RectHeader> read_rect_header(RfbReader& in) {
    auto bytes = in.ensure(12);
    if (!bytes) return std::unexpected(bytes.error());
    const std::uint8_t* p = bytes->data();
    auto u16 = [p](int i) { return static_cast<std::uint16_t>((p[i] << 8) | p[i + 1]); };
    RectHeader h{u16(0), u16(2), u16(4), u16(6),
                 static_cast<std::int32_t>((std::uint32_t{p[8]} << 24) |
                                           (std::uint32_t{p[9]} << 16) |
                                           (std::uint32_t{p[10]} << 8) | std::uint32_t{p[11]})};
    in.consume(12);
    return h;
}

RfbResult<void> decode_rect(RfbReader& in, const RectHeader& rect, Framebuffer& fb,
                            const PixelConverter& pixels) {
    switch (rect.encoding) {
        case 0:
            return decode_raw(in, rect, fb, pixels);
        case 1:
            return decode_copy_rect(in, rect, fb);
        case 2:
            return decode_rre(in, rect, fb, pixels);
        default:
            return std::unexpected(
                RfbError::other("unsupported RFB encoding " + std::to_string(rect.encoding)));
    }
}

}  // namespace

RfbResult<std::uint16_t> apply_update(RfbReader& in, Framebuffer& fb, const PixelFormat& format) {
    if (fb.generation() == std::numeric_limits<std::uint64_t>::max()) {
        return std::unexpected(RfbError::other("RFB framebuffer generation exhausted"));
    }
    auto pad = in.u8();
    if (!pad) return std::unexpected(pad.error());
    auto count = in.u16();
    if (!count) return std::unexpected(count.error());
    if (*count > kMaxRectsPerUpdate) {
        return std::unexpected(RfbError::other("RFB update has too many rectangles"));
    }
    const PixelConverter pixels(format);
    if (!pixels.valid()) return std::unexpected(RfbError::other("invalid RFB pixel format"));

    fb.begin_update();
    for (std::uint16_t i = 0; i < *count; ++i) {
        auto header = read_rect_header(in);
        RfbResult<void> done = header ? decode_rect(in, *header, fb, pixels)
                                      : RfbResult<void>(std::unexpected(header.error()));
        if (!done) {
            fb.end_update(false);
            return std::unexpected(done.error());
        }
    }
    fb.end_update(true);
    return *count;
}

}  // namespace remote
