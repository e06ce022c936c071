#pragma once
// One decoder per rectangle encoding. The framing code reads a rectangle's header and hands the
// rest of the rectangle to its decoder, which reads the encoding's payload and fills the pixels.
// Session thread only.

#include <cstdint>

#include "rfb/framebuffer.h"
#include "rfb/pixels.h"
#include "rfb/stream.h"

namespace remote {

struct RectHeader {
    std::uint16_t x = 0, y = 0, w = 0, h = 0;
    std::int32_t encoding = 0;
};

// Pixel work of one rectangle (and of one CopyRect, one RRE background or subrectangle, and all
// subrectangles of one RRE rectangle together).
inline constexpr std::uint64_t kMaxRectPixels = 16ull * 1024 * 1024;
inline constexpr std::uint64_t kMaxRawBytes = 64ull * 1024 * 1024;
inline constexpr std::uint32_t kMaxRreSubrects = 1'000'000;

[[nodiscard]] RfbResult<void> decode_raw(RfbReader& in, const RectHeader& rect, Framebuffer& fb,
                                         const PixelConverter& pixels);
[[nodiscard]] RfbResult<void> decode_copy_rect(RfbReader& in, const RectHeader& rect,
                                               Framebuffer& fb);
[[nodiscard]] RfbResult<void> decode_rre(RfbReader& in, const RectHeader& rect, Framebuffer& fb,
                                         const PixelConverter& pixels);

}  // namespace remote
