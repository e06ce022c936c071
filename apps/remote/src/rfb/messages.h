#pragma once
// RFB wire vocabulary shared by the handshake, the decoders and the session: the pixel format and
// the exact bytes of every message this client sends. Pure functions; any thread.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace remote {

struct PixelFormat {
    std::uint8_t bits_per_pixel = 32;
    std::uint8_t depth = 24;
    bool big_endian = false;
    bool true_colour = true;
    std::uint16_t red_max = 255;
    std::uint16_t green_max = 255;
    std::uint16_t blue_max = 255;
    std::uint8_t red_shift = 16;
    std::uint8_t green_shift = 8;
    std::uint8_t blue_shift = 0;

    friend bool operator==(const PixelFormat&, const PixelFormat&) = default;
};

// The one format this client asks every server for: 32-bit true colour, so a pixel arrives as the
// bytes blue, green, red, unused.
inline constexpr PixelFormat kClientPixelFormat{};

std::array<std::uint8_t, 16> encode_pixel_format(const PixelFormat& format);
PixelFormat decode_pixel_format(std::span<const std::uint8_t, 16> bytes);

// Encodings offered by the client, in this order.
inline constexpr std::int32_t kEncodingRaw = 0;
inline constexpr std::int32_t kEncodingCopyRect = 1;
inline constexpr std::int32_t kEncodingRre = 2;

std::array<std::uint8_t, 20> encode_set_pixel_format(const PixelFormat& format);
std::vector<std::uint8_t> encode_set_encodings(std::span<const std::int32_t> encodings);
std::array<std::uint8_t, 10> encode_update_request(bool incremental, std::uint16_t x,
                                                   std::uint16_t y, std::uint16_t width,
                                                   std::uint16_t height);
std::array<std::uint8_t, 8> encode_key_event(bool down, std::uint32_t keysym);
std::array<std::uint8_t, 6> encode_pointer_event(std::uint8_t buttons, std::uint16_t x,
                                                 std::uint16_t y);

}  // namespace remote
