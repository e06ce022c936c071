// FramebufferUpdate decoding over in-memory server bytes: limits, clipping, the three encodings,
// pixel conversion, publication, and a randomised comparison with a plain reference model that
// also checks that published pictures never change while buffers are recycled.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "rfb/pixels.h"
#include "rfb/update.h"
#include "rfb_test_util.h"

namespace remote::test {
namespace {

using Rgba = std::array<std::uint8_t, 4>;

struct Applied {
    RfbResult<std::uint16_t> result;
    std::size_t unread;  // server bytes the decoder did not consume
};

// Applies one update (bytes after the type byte) to fb.
Applied apply(Framebuffer& fb, const Wire& w, const PixelFormat& pf = kClientPixelFormat) {
    MemoryStream stream(w.b);
    RfbReader in(stream, 64);  // a small buffer so the unread count stays meaningful
    auto r = apply_update(in, fb, pf);
    return {r, stream.remaining() + in.buffered()};
}

Rgba at(const Framebuffer& fb, std::uint32_t x, std::uint32_t y) {
    Rgba c;
    std::memcpy(c.data(), fb.row(y) + x * 4, 4);
    return c;
}

constexpr Rgba kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255},
    kClear{0, 0, 0, 0};

TEST(RfbDecode, EmptyUpdateAdvancesGeneration) {
    Framebuffer fb(4, 4);
    FrameSlot slot;
    publish(fb, slot);
    auto a = apply(fb, Wire{}.u8(0).u16(0));
    ASSERT_TRUE(a.result);
    EXPECT_EQ(*a.result, 0);
    publish(fb, slot);
    std::optional<std::uint64_t> taken;
    auto snap = take_new_frame(slot, taken);
    ASSERT_TRUE(snap);
    EXPECT_EQ(snap->generation, 1u);
    EXPECT_TRUE(std::ranges::equal(*snap->pixels, std::vector<std::uint8_t>(64, 0)));
    EXPECT_FALSE(take_new_frame(slot, taken)) << "the same generation is taken only once";
    EXPECT_EQ(frame_size(slot), (std::pair<std::uint16_t, std::uint16_t>(4, 4)));
}

TEST(RfbDecode, FailuresAndLimits) {
    struct Case {
        const char* name;
        Wire update;  // without the type byte
        const char* error;  // nullptr: applies
    };
    Wire rects4096 = Wire{}.u8(0).u16(4096);
    for (int i = 0; i < 4096; ++i) rects4096.rect(0, 0, 0, 0, 0);
    auto rre = [](std::uint16_t w, std::uint16_t h, std::uint32_t n) {
        return Wire{}.u8(0).u16(1).rect(0, 0, w, h, 2).u32(n);
    };
    Wire rre_sum = rre(4096, 4096, 2).pixel(0, 0, 0).pixel(1, 1, 1).u16(0).u16(0).u16(4096).u16(
        2048);
    rre_sum.pixel(1, 1, 1).u16(0).u16(0).u16(4096).u16(2048);
    Wire rre_over = rre(4096, 4096, 3).pixel(0, 0, 0).pixel(1, 1, 1).u16(0).u16(0).u16(4096).u16(
        2048);
    rre_over.pixel(1, 1, 1).u16(0).u16(0).u16(4096).u16(2048).pixel(1, 1, 1).u16(0).u16(0).u16(1).u16(1);
    Case cases[] = {
        {"4096 rectangles", rects4096, nullptr},
        {"4097 rectangles, no header read", Wire{}.u8(0).u16(4097), "RFB update has too many rectangles"},
        {"raw 64 MiB + 1 row, no data read", Wire{}.u8(0).u16(1).rect(0, 0, 4096, 4097, 0),
         "RFB raw rectangle is too large"},
        {"raw 65535 x 65535", Wire{}.u8(0).u16(1).rect(0, 0, 65535, 65535, 0),
         "RFB raw rectangle is too large"},
        {"copy too large", Wire{}.u8(0).u16(1).rect(0, 0, 4097, 4096, 1).u16(0).u16(0),
         "RFB copy rectangle is too large"},
        {"copy 16 Mpx", Wire{}.u8(0).u16(1).rect(0, 0, 4096, 4096, 1).u16(0).u16(0), nullptr},
        {"rre 0 subrects", rre(2, 2, 0).pixel(1, 2, 3), nullptr},
        {"rre 1,000,001 subrects, none read", rre(2, 2, 1'000'001),
         "RFB RRE update has too many subrectangles"},
        {"rre 0x20000001 subrects", rre(2, 2, 0x20000001),
         "RFB RRE update has too many subrectangles"},
        {"rre background too large", rre(4097, 4096, 0),
         "RRE background rectangle exceeds the pixel work limit"},
        {"rre subrect too large", rre(1, 1, 1).pixel(0, 0, 0).pixel(0, 0, 0).u16(0).u16(0).u16(4097).u16(4096),
         "RRE subrectangle exceeds the pixel work limit"},
        {"rre subrects sum to the limit", rre_sum, nullptr},
        {"rre subrects one pixel over", rre_over, "RRE subrectangles exceed the pixel work limit"},
        {"encoding -223", Wire{}.u8(0).u16(1).rect(0, 0, 1, 1, -223),
         "unsupported RFB encoding -223"},
        {"cut short", Wire{}.u8(0).u16(1).rect(0, 0, 2, 2, 0).pixel(1, 1, 1),
         "the VNC server closed the connection"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Framebuffer fb(16, 16);
        auto a = apply(fb, c.update);
        if (c.error) {
            ASSERT_FALSE(a.result);
            EXPECT_EQ(a.result.error().message, c.error);
            EXPECT_EQ(fb.generation(), 0u);
        } else {
            ASSERT_TRUE(a.result) << a.result.error().message;
            EXPECT_EQ(a.unread, 0u);
            EXPECT_EQ(fb.generation(), 1u);
        }
    }
}

TEST(RfbDecode, RawOf64MiBIsAccepted) {
    Framebuffer fb(4096, 4096);
    Wire w = Wire{}.u8(0).u16(1).rect(0, 0, 4096, 4096, 0);
    w.b.resize(w.b.size() + 64u * 1024 * 1024, 0x80);
    auto a = apply(fb, w);
    ASSERT_TRUE(a.result) << a.result.error().message;
    EXPECT_EQ(at(fb, 4095, 4095), (Rgba{0x80, 0x80, 0x80, 255}));
}

TEST(RfbDecode, GenerationExhausted) {
    Framebuffer fb(2, 2);
    fb.set_generation(~std::uint64_t{0});
    auto a = apply(fb, Wire{}.u8(0).u16(0));
    ASSERT_FALSE(a.result);
    EXPECT_EQ(a.result.error().message, "RFB framebuffer generation exhausted");
    EXPECT_EQ(a.unread, 3u) << "nothing is read";
}

TEST(RfbDecode, RawClipsAndKeepsFraming) {
    Framebuffer fb(4, 4);
    // A 3x3 red rectangle at (2,2) overlaps the corner; the green one after it must still be
    // read from the right place. A rectangle entirely outside is consumed too.
    Wire w = Wire{}.u8(0).u16(3).rect(2, 2, 3, 3, 0);
    for (int i = 0; i < 9; ++i) w.pixel(255, 0, 0);
    w.rect(10, 0, 2, 1, 0).pixel(9, 9, 9).pixel(9, 9, 9);
    w.rect(0, 0, 1, 1, 0).pixel(0, 255, 0);
    auto a = apply(fb, w);
    ASSERT_TRUE(a.result);
    EXPECT_EQ(a.unread, 0u);
    EXPECT_EQ(at(fb, 0, 0), kGreen);
    EXPECT_EQ(at(fb, 2, 2), kRed);
    EXPECT_EQ(at(fb, 3, 3), kRed);
    EXPECT_EQ(at(fb, 1, 1), kClear);
    EXPECT_EQ(at(fb, 1, 3), kClear);
}

// Fills fb with a distinct colour per pixel through a Raw update.
void paint_pattern(Framebuffer& fb) {
    Wire w = Wire{}.u8(0).u16(1).rect(0, 0, fb.width(), fb.height(), 0);
    for (std::uint32_t y = 0; y < fb.height(); ++y) {
        for (std::uint32_t x = 0; x < fb.width(); ++x) w.pixel(x * 10, y * 10, 7);
    }
    ASSERT_TRUE(apply(fb, w).result);
}

TEST(RfbDecode, CopyRectOverlapAndOutsideSource) {
    struct Case {
        const char* name;
        std::uint16_t x, y, w, h, sx, sy;
    } cases[] = {
        {"scroll up one row", 0, 0, 8, 7, 0, 1},
        {"scroll down one row", 0, 1, 8, 7, 0, 0},
        {"shift right", 1, 0, 7, 8, 0, 0},
        {"shift left", 0, 0, 7, 8, 1, 0},
        {"diagonal overlap", 1, 1, 6, 6, 0, 0},
        {"source partly outside", 0, 0, 4, 4, 6, 6},
        {"source entirely outside", 2, 2, 3, 3, 100, 65535},
        {"destination partly outside", 6, 6, 4, 4, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Framebuffer fb(8, 8);
        paint_pattern(fb);
        std::vector<std::uint8_t> old(fb.row(0), fb.row(0) + 8 * 8 * 4);
        auto a = apply(fb, Wire{}.u8(0).u16(1).rect(c.x, c.y, c.w, c.h, 1).u16(c.sx).u16(c.sy));
        ASSERT_TRUE(a.result);
        for (std::uint32_t y = 0; y < 8; ++y) {
            for (std::uint32_t x = 0; x < 8; ++x) {
                Rgba want;
                std::memcpy(want.data(), &old[(y * 8 + x) * 4], 4);
                if (x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h) {
                    std::uint32_t sx = c.sx + (x - c.x), sy = c.sy + (y - c.y);
                    want = kClear;
                    if (sx < 8 && sy < 8) std::memcpy(want.data(), &old[(sy * 8 + sx) * 4], 4);
                }
                ASSERT_EQ(at(fb, x, y), want) << x << "," << y;
            }
        }
    }
}

TEST(RfbDecode, RreDrawsBackgroundThenSubrectsInOrder) {
    Framebuffer fb(6, 6);
    Wire w = Wire{}.u8(0).u16(1).rect(1, 1, 4, 4, 2).u32(3).pixel(0, 0, 255);
    w.pixel(255, 0, 0).u16(0).u16(0).u16(2).u16(2);
    w.pixel(0, 255, 0).u16(1).u16(1).u16(2).u16(2);  // over the red one
    w.pixel(255, 0, 0).u16(4).u16(4).u16(3).u16(3);  // beyond its rectangle, clipped by the screen
    auto a = apply(fb, w);
    ASSERT_TRUE(a.result);
    EXPECT_EQ(at(fb, 0, 0), kClear);
    EXPECT_EQ(at(fb, 1, 1), kRed);
    EXPECT_EQ(at(fb, 2, 2), kGreen);
    EXPECT_EQ(at(fb, 4, 1), kBlue);
    EXPECT_EQ(at(fb, 5, 5), kRed);

    // A refused rectangle draws nothing: the background of this one would turn everything white.
    Wire bad = Wire{}.u8(0).u16(1).rect(0, 0, 6, 6, 2).u32(2).pixel(255, 255, 255);
    bad.pixel(0, 0, 0).u16(0).u16(0).u16(4096).u16(4096).pixel(0, 0, 0).u16(0).u16(0).u16(1).u16(1);
    ASSERT_FALSE(apply(fb, bad).result);
    EXPECT_EQ(at(fb, 1, 1), kRed);
    EXPECT_EQ(at(fb, 0, 0), kClear);
}

TEST(RfbDecode, FailedUpdateIsNeverPublished) {
    Framebuffer fb(4, 4);
    FrameSlot slot;
    publish(fb, slot);
    Wire good = Wire{}.u8(0).u16(1).rect(0, 0, 1, 1, 0).pixel(255, 0, 0);
    ASSERT_TRUE(apply(fb, good).result);
    publish(fb, slot);
    auto before = slot.get();
    // The first rectangle is applied to the private copy, then the second fails.
    Wire bad = Wire{}.u8(0).u16(2).rect(0, 0, 4, 4, 2).u32(0).pixel(0, 255, 0).rect(0, 0, 1, 1, 9);
    auto a = apply(fb, bad);
    ASSERT_FALSE(a.result);
    auto after = slot.get();
    EXPECT_EQ(after->generation, 1u);
    EXPECT_EQ(after->pixels, before->pixels);
    Rgba px;
    std::memcpy(px.data(), after->pixels->data(), 4);
    EXPECT_EQ(px, kRed);
}

TEST(RfbDecode, PixelConversion) {
    // 16-bit 5-6-5, little-endian.
    PixelFormat f565{16, 16, false, true, 31, 63, 31, 11, 5, 0};
    PixelConverter c565(f565);
    auto px = [](std::uint32_t v) {
        return std::array<std::uint8_t, 4>{std::uint8_t(v), std::uint8_t(v >> 8),
                                           std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
    };
    EXPECT_EQ(c565.convert(px(31u << 11).data()), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(c565.convert(px(16u << 11).data()), (Rgba{132, 0, 0, 255}));
    EXPECT_EQ(c565.convert(px(63u << 5).data()), (Rgba{0, 255, 0, 255}));
    // Big-endian 16-bit: the same value with its bytes swapped.
    PixelFormat be = f565;
    be.big_endian = true;
    std::array<std::uint8_t, 2> be_red{0xF8, 0x00};
    EXPECT_EQ(PixelConverter(be).convert(be_red.data()), (Rgba{255, 0, 0, 255}));
    // 8-bit 3-3-2, and 24-bit in three bytes.
    PixelFormat f332{8, 8, false, true, 7, 7, 3, 5, 2, 0};
    std::uint8_t v332 = 0b11100011;
    EXPECT_EQ(PixelConverter(f332).convert(&v332), (Rgba{255, 0, 255, 255}));
    PixelFormat f24{24, 24, false, true, 255, 255, 255, 0, 8, 16};
    std::array<std::uint8_t, 3> p24{1, 2, 3};
    EXPECT_EQ(PixelConverter(f24).convert(p24.data()), (Rgba{1, 2, 3, 255}));
    // A zero maximum gives 0; the client format reads b0 b1 b2 b3 as blue, green, red.
    PixelFormat zero = f565;
    zero.green_max = 0;
    EXPECT_EQ(PixelConverter(zero).convert(px(0xFFFF).data())[1], 0);
    std::array<std::uint8_t, 8> two{1, 2, 3, 4, 5, 6, 7, 8};
    std::array<std::uint8_t, 8> out{};
    PixelConverter(kClientPixelFormat).convert_run(two.data(), out.data(), 2);
    EXPECT_EQ(out, (std::array<std::uint8_t, 8>{3, 2, 1, 255, 7, 6, 5, 255}));
    // Formats wider than 4 bytes cannot be decoded.
    PixelFormat wide = kClientPixelFormat;
    wide.bits_per_pixel = 40;
    Framebuffer fb(2, 2);
    auto a = apply(fb, Wire{}.u8(0).u16(0), wide);
    ASSERT_FALSE(a.result);
    EXPECT_EQ(a.result.error().message, "invalid RFB pixel format");
    // Updates in a 16-bit format go through the general path.
    Wire w16 = Wire{}.u8(0).u16(1).rect(0, 0, 1, 1, 0).u8(0x00).u8(0xF8);
    ASSERT_TRUE(apply(fb, w16, f565).result);
    EXPECT_EQ(at(fb, 0, 0), (Rgba{255, 0, 0, 255}));
}

// The reference: every operation applied the plain way to a private picture.
struct Model {
    std::uint32_t w, h;
    std::vector<std::uint8_t> px;
    void set(std::uint32_t x, std::uint32_t y, Rgba c) {
        if (x < w && y < h) std::memcpy(&px[(y * w + x) * 4], c.data(), 4);
    }
    Rgba get(std::uint32_t x, std::uint32_t y) const {
        Rgba c{};
        if (x < w && y < h) std::memcpy(c.data(), &px[(y * w + x) * 4], 4);
        return c;
    }
};

TEST(RfbDecode, RecycledBuffersMatchReferenceAndPublishedPicturesNeverChange) {
    constexpr std::uint16_t W = 37, H = 23;
    std::mt19937 rng(12345);
    auto rnd = [&](std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng); };
    Framebuffer fb(W, H);
    FrameSlot slot;
    Model model{W, H, std::vector<std::uint8_t>(W * H * 4, 0)};
    publish(fb, slot);
    std::vector<std::pair<FrameSnapshot, std::vector<std::uint8_t>>> held;  // readers' copies
    std::optional<std::uint64_t> taken;

    for (int update = 0; update < 400; ++update) {
        std::uint16_t rects = static_cast<std::uint16_t>(rnd(6));
        Wire w = Wire{}.u8(0).u16(rects);
        for (int r = 0; r < rects; ++r) {
            std::uint16_t x = rnd(W + 4), y = rnd(H + 4), rw = 1 + rnd(W), rh = 1 + rnd(H);
            Rgba colour{std::uint8_t(rnd(256)), std::uint8_t(rnd(256)), std::uint8_t(rnd(256)), 255};
            switch (rnd(3)) {
                case 0: {
                    w.rect(x, y, rw, rh, 0);
                    for (std::uint32_t j = 0; j < rh; ++j) {
                        for (std::uint32_t i = 0; i < rw; ++i) {
                            Rgba c{colour[0], std::uint8_t(i), std::uint8_t(j), 255};
                            w.pixel(c[0], c[1], c[2]);
                            model.set(x + i, y + j, c);
                        }
                    }
                    break;
                }
                case 1: {
                    std::uint16_t sx = rnd(W + 2), sy = rnd(H + 2);
                    w.rect(x, y, rw, rh, 1).u16(sx).u16(sy);
                    Model src = model;
                    for (std::uint32_t j = 0; j < rh; ++j) {
                        for (std::uint32_t i = 0; i < rw; ++i) {
                            model.set(x + i, y + j, src.get(sx + i, sy + j));
                        }
                    }
                    break;
                }
                default: {
                    std::uint32_t n = rnd(4);
                    w.rect(x, y, rw, rh, 2).u32(n).pixel(colour[0], colour[1], colour[2]);
                    for (std::uint32_t j = 0; j < rh; ++j) {
                        for (std::uint32_t i = 0; i < rw; ++i) model.set(x + i, y + j, colour);
                    }
                    for (std::uint32_t k = 0; k < n; ++k) {
                        // Sometimes beyond the rectangle's own bounds.
                        std::uint16_t ox = rnd(rw + 3), oy = rnd(rh + 3), ow = 1 + rnd(8), oh = 1 + rnd(8);
                        Rgba c{std::uint8_t(k * 40), 9, std::uint8_t(update), 255};
                        w.pixel(c[0], c[1], c[2]).u16(ox).u16(oy).u16(ow).u16(oh);
                        for (std::uint32_t j = 0; j < oh; ++j) {
                            for (std::uint32_t i = 0; i < ow; ++i) model.set(x + ox + i, y + oy + j, c);
                        }
                    }
                }
            }
        }
        auto a = apply(fb, w);
        ASSERT_TRUE(a.result) << a.result.error().message;
        publish(fb, slot);
        // Readers come and go: sometimes the view takes the picture and keeps it for a while.
        if (rnd(3) == 0) {
            if (auto s = take_new_frame(slot, taken)) {
                held.push_back({*s, std::vector<std::uint8_t>(s->pixels->begin(), s->pixels->end())});
            }
        }
        while (!held.empty() && rnd(2) == 0) held.erase(held.begin() + rnd(held.size()));
        auto now = slot.get();
        ASSERT_TRUE(std::ranges::equal(*now->pixels, model.px)) << "update " << update;
        for (const auto& [snap, copy] : held) {
            ASSERT_TRUE(std::ranges::equal(*snap.pixels, copy)) << "update " << update;
        }
    }
}

}  // namespace
}  // namespace remote::test
