#include "vorn/callstream/sample_picture.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace vorn_callstream::sample {

namespace {

struct Yuv {
    std::uint8_t y, u, v;
};

// Limited-range BT.601, which is what a decoder assumes for an untagged stream.
Yuv to_yuv(Rgb c) {
    const double r = c.r, g = c.g, b = c.b;
    auto clamp = [](double v) {
        return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    };
    return {clamp(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255),
            clamp(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255),
            clamp(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255)};
}

// Fills [x0, x1) × [y0, y1), clipped to the picture.
void fill(encoder::YuvPicture& p, long x0, long y0, long x1, long y1, Rgb colour) {
    x0 = std::max(x0, 0L);
    y0 = std::max(y0, 0L);
    x1 = std::min(x1, static_cast<long>(p.width));
    y1 = std::min(y1, static_cast<long>(p.height));
    if (x0 >= x1 || y0 >= y1) {
        return;
    }
    const Yuv c = to_yuv(colour);
    for (long y = y0; y < y1; ++y) {
        std::fill_n(p.y.begin() + y * p.width + x0, x1 - x0, c.y);
    }
    const long cw = p.chroma_width();
    for (long y = y0 / 2; y < (y1 + 1) / 2; ++y) {
        std::fill_n(p.u.begin() + y * cw + x0 / 2, (x1 + 1) / 2 - x0 / 2, c.u);
        std::fill_n(p.v.begin() + y * cw + x0 / 2, (x1 + 1) / 2 - x0 / 2, c.v);
    }
}

// 3 × 5 digit glyphs, one row per 3 bits, top row first.
constexpr std::array<std::array<std::uint8_t, 5>, 10> kDigits = {{
    {7, 5, 5, 5, 7},
    {2, 6, 2, 2, 7},
    {7, 1, 7, 4, 7},
    {7, 1, 7, 1, 7},
    {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7},
    {7, 4, 7, 5, 7},
    {7, 1, 1, 1, 1},
    {7, 5, 7, 5, 7},
    {7, 5, 7, 1, 7},
}};

void draw_digit(encoder::YuvPicture& p, long x, long y, long cell, int digit) {
    for (int row = 0; row < 5; ++row) {
        for (int col = 0; col < 3; ++col) {
            if (kDigits[digit][row] & (4 >> col)) {
                fill(p, x + col * cell, y + row * cell, x + (col + 1) * cell, y + (row + 1) * cell,
                     kKeyText);
            }
        }
    }
}

}  // namespace

KeyTextLayout key_text_layout(std::uint32_t width, std::uint32_t height) {
    const std::uint32_t cell = std::max<std::uint32_t>(2, height / 90);
    (void)width;
    return {cell * 3, height - cell * 8, cell};
}

void draw(encoder::YuvPicture& p, std::uint64_t frame, const InputOverlay& overlay) {
    const long w = p.width, h = p.height;
    fill(p, 0, 0, w, h, kBackground);
    for (std::size_t i = 0; i < kBars.size(); ++i) {
        fill(p, w * static_cast<long>(i) / 8, 0, w * static_cast<long>(i + 1) / 8, h / 4, kBars[i]);
    }
    // Diagonal stripes drifting sideways give the encoder real motion to code.
    const long stripes_top = h / 4, stripes_bottom = h / 4 + h / 8;
    const long shift = static_cast<long>(frame % 64) * 2;
    for (long y = stripes_top; y < stripes_bottom; ++y) {
        for (long x = 0; x < w; ++x) {
            if (((x + y + shift) / 16) % 2 == 0) {
                p.y[y * w + x] = 180;
            }
        }
    }
    // A block crossing the middle band from left to right.
    const long side = h / 9;
    const long travel = std::max(1L, w - side);
    const long bx = static_cast<long>((frame * 8) % static_cast<std::uint64_t>(travel));
    fill(p, bx, h / 2 - side / 2, bx + side, h / 2 + side / 2, kBlock);

    if (overlay.pointer) {
        const long px = std::lround((*overlay.pointer)[0]), py = std::lround((*overlay.pointer)[1]);
        const long arm = h / 30, half = 2;
        fill(p, px - arm, py - half, px + arm, py + half, kPointer);
        fill(p, px - half, py - arm, px + half, py + arm, kPointer);
        for (int b = 0; b < 3; ++b) {
            if (overlay.buttons & (1u << b)) {
                const long x = px + arm / 2 + b * (arm / 2 + 4);
                fill(p, x, py + arm / 2, x + arm / 2, py + arm, kButton);
            }
        }
    }
    const KeyTextLayout text = key_text_layout(p.width, p.height);
    long x = text.x;
    const long cell = text.cell;
    for (std::uint32_t key : overlay.keys) {
        for (char d : std::to_string(key)) {
            if (x + 3 * cell > w) {
                return;
            }
            draw_digit(p, x, text.y, cell, d - '0');
            x += 4 * cell;
        }
        x += 3 * cell;
    }
}

std::expected<std::vector<std::vector<std::uint8_t>>, std::string> encode_stream(
    const encoder::EncoderSettings& settings, std::size_t count) {
    auto encoder = encoder::H264Encoder::create(settings);
    if (!encoder) {
        return std::unexpected(encoder.error());
    }
    auto picture = encoder::YuvPicture::blank(settings.width, settings.height);
    std::vector<std::vector<std::uint8_t>> units;
    for (std::size_t n = 0; n < count; ++n) {
        draw(picture, n, {});
        auto unit = encoder->encode(picture);
        if (!unit) {
            return std::unexpected(unit.error());
        }
        units.push_back(std::move(*unit));
    }
    return units;
}

}  // namespace vorn_callstream::sample
