#include "rfb/pixels.h"

#include <bit>
#include <cstring>

namespace remote {
namespace {

std::uint8_t scale(std::uint32_t value, std::uint8_t shift, std::uint16_t max) {
    if (max == 0) return 0;
    std::uint32_t c = (shift < 32 ? value >> shift : 0) & max;
    return static_cast<std::uint8_t>((c * 255 + max / 2) / max);
}

// The client format's bytes B G R X become R G B A: the hot path of every session. Plain 32-bit
// lane operations vectorise; the AVX2 clone runs at memcpy speed where the CPU has it.
__attribute__((target_clones("avx2", "default"))) void swap_red_blue(
    const std::uint8_t* __restrict in, std::uint8_t* __restrict out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t v;
        std::memcpy(&v, in + 4 * i, 4);
        std::uint32_t rgba =
            ((v >> 16) & 0xFFu) | (v & 0xFF00u) | ((v & 0xFFu) << 16) | 0xFF000000u;
        std::memcpy(out + 4 * i, &rgba, 4);
    }
}

}  // namespace

PixelConverter::PixelConverter(const PixelFormat& format)
    : format_(format),
      bytes_per_pixel_((unsigned{format.bits_per_pixel} + 7) / 8),
      bgrx_(std::endian::native == std::endian::little && bytes_per_pixel_ == 4 && !format.big_endian && format.red_max == 255 &&
            format.green_max == 255 && format.blue_max == 255 && format.red_shift == 16 &&
            format.green_shift == 8 && format.blue_shift == 0) {}

std::array<std::uint8_t, 4> PixelConverter::convert(const std::uint8_t* p) const {
    std::uint32_t v = 0;
    for (unsigned i = 0; i < bytes_per_pixel_; ++i) {
        unsigned at = format_.big_endian ? i : bytes_per_pixel_ - 1 - i;
        v = (v << 8) | p[at];
    }
    return {scale(v, format_.red_shift, format_.red_max),
            scale(v, format_.green_shift, format_.green_max),
            scale(v, format_.blue_shift, format_.blue_max), 255};
}

void PixelConverter::convert_run(const std::uint8_t* in, std::uint8_t* out,
                                 std::size_t count) const {
    if (bgrx_) {
        swap_red_blue(in, out, count);
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        auto c = convert(in + bytes_per_pixel_ * i);
        std::memcpy(out + 4 * i, c.data(), 4);
    }
}

}  // namespace remote
