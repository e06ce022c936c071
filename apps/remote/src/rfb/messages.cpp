#include "rfb/messages.h"

namespace remote {
namespace {

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

}  // namespace

std::array<std::uint8_t, 16> encode_pixel_format(const PixelFormat& f) {
    std::array<std::uint8_t, 16> b{};
    b[0] = f.bits_per_pixel;
    b[1] = f.depth;
    b[2] = f.big_endian ? 1 : 0;
    b[3] = f.true_colour ? 1 : 0;
    put16(&b[4], f.red_max);
    put16(&b[6], f.green_max);
    put16(&b[8], f.blue_max);
    b[10] = f.red_shift;
    b[11] = f.green_shift;
    b[12] = f.blue_shift;
    return b;
}

PixelFormat decode_pixel_format(std::span<const std::uint8_t, 16> b) {
    PixelFormat f;
    f.bits_per_pixel = b[0];
    f.depth = b[1];
    f.big_endian = b[2] != 0;
    f.true_colour = b[3] != 0;
    f.red_max = get16(&b[4]);
    f.green_max = get16(&b[6]);
    f.blue_max = get16(&b[8]);
    f.red_shift = b[10];
    f.green_shift = b[11];
    f.blue_shift = b[12];
    return f;
}

std::array<std::uint8_t, 20> encode_set_pixel_format(const PixelFormat& format) {
    std::array<std::uint8_t, 20> b{};
    b[0] = 0;
    auto pf = encode_pixel_format(format);
    for (std::size_t i = 0; i < pf.size(); ++i) b[4 + i] = pf[i];
    return b;
}

std::vector<std::uint8_t> encode_set_encodings(std::span<const std::int32_t> encodings) {
    std::vector<std::uint8_t> b(4 + 4 * encodings.size());
    b[0] = 2;
    put16(&b[2], static_cast<std::uint16_t>(encodings.size()));
    for (std::size_t i = 0; i < encodings.size(); ++i) {
        put32(&b[4 + 4 * i], static_cast<std::uint32_t>(encodings[i]));
    }
    return b;
}

std::array<std::uint8_t, 10> encode_update_request(bool incremental, std::uint16_t x,
                                                   std::uint16_t y, std::uint16_t width,
                                                   std::uint16_t height) {
    std::array<std::uint8_t, 10> b{};
    b[0] = 3;
    b[1] = incremental ? 1 : 0;
    put16(&b[2], x);
    put16(&b[4], y);
    put16(&b[6], width);
    put16(&b[8], height);
    return b;
}

std::array<std::uint8_t, 8> encode_key_event(bool down, std::uint32_t keysym) {
    std::array<std::uint8_t, 8> b{};
    b[0] = 4;
    b[1] = down ? 1 : 0;
    put32(&b[4], keysym);
    return b;
}

std::array<std::uint8_t, 6> encode_pointer_event(std::uint8_t buttons, std::uint16_t x,
                                                 std::uint16_t y) {
    std::array<std::uint8_t, 6> b{};
    b[0] = 5;
    b[1] = buttons;
    put16(&b[2], x);
    put16(&b[4], y);
    return b;
}

}  // namespace remote
