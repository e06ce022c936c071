#pragma once
// The moving test picture a simulated device shares: colour bars, moving
// stripes and a moving block, with the input it last received drawn on top
// (pointer cross-hair, pressed buttons, codes of held keys). Pure drawing.

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "vorn/callstream/encoder.h"

namespace vorn_callstream::sample {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
};

// The bars across the top quarter, left to right, each an eighth of the width.
inline constexpr std::array<Rgb, 8> kBars = {{
    {235, 235, 235},
    {235, 235, 16},
    {16, 235, 235},
    {16, 235, 16},
    {235, 16, 235},
    {235, 16, 16},
    {16, 16, 235},
    {16, 16, 16},
}};
inline constexpr Rgb kBackground = {40, 44, 52};
inline constexpr Rgb kBlock = {255, 140, 0};
inline constexpr Rgb kPointer = {255, 255, 255};
inline constexpr Rgb kButton = {0, 200, 0};
inline constexpr Rgb kKeyText = {255, 255, 255};

struct InputOverlay {
    std::optional<std::array<double, 2>> pointer;  // device coordinates
    std::uint32_t buttons = 0;                     // bit 0 left, 1 right, 2 middle
    std::vector<std::uint32_t> keys;               // held keys, oldest first
};

// Draws picture number `frame` into `picture` (any even size of at least 64 × 64).
void draw(encoder::YuvPicture& picture, std::uint64_t frame, const InputOverlay& overlay);

// Where the digits of held key codes start (top-left of the first glyph), and
// the size of one glyph cell; glyphs are 3 × 5 cells.
struct KeyTextLayout {
    std::uint32_t x = 0, y = 0, cell = 0;
};
KeyTextLayout key_text_layout(std::uint32_t width, std::uint32_t height);

// `count` access units of the moving picture without input, as a device would
// send them; for tests, benchmarks and seed inputs.
[[nodiscard]] std::expected<std::vector<std::vector<std::uint8_t>>, std::string> encode_stream(
    const encoder::EncoderSettings& settings, std::size_t count);

}  // namespace vorn_callstream::sample
