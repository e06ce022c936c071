#pragma once
// Conversion of server pixels (any 1–4 byte true-colour format) to the framebuffer's RGBA.
// Pure; any thread.

#include <array>
#include <cstddef>
#include <cstdint>

#include "rfb/messages.h"

namespace remote {

class PixelConverter {
public:
    explicit PixelConverter(const PixelFormat& format);
    // (bits_per_pixel + 7) / 8; outside 1–4 the format cannot be decoded.
    unsigned bytes_per_pixel() const { return bytes_per_pixel_; }
    bool valid() const { return bytes_per_pixel_ >= 1 && bytes_per_pixel_ <= 4; }

    std::array<std::uint8_t, 4> convert(const std::uint8_t* pixel) const;
    // Converts `count` consecutive pixels into `count` × 4 RGBA bytes.
    void convert_run(const std::uint8_t* in, std::uint8_t* rgba, std::size_t count) const;

private:
    PixelFormat format_;
    unsigned bytes_per_pixel_;
    bool bgrx_;  // the client's own format: bytes blue, green, red, unused
};

}  // namespace remote
