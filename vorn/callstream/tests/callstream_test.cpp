#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>

#include "vorn/callstream/decoder.h"
#include "vorn/callstream/fabric_backends.h"
#include "vorn/callstream/sample_picture.h"

namespace {

using namespace vorn_callstream;
using decoder::DecodedFrame;
using decoder::H264Decoder;
using Units = std::vector<std::vector<std::uint8_t>>;
namespace vf = vorn_ui::fabric;

sample::Rgb pixel(const DecodedFrame& f, std::uint32_t x, std::uint32_t y) {
    const std::size_t i = (std::size_t{y} * f.width + x) * 4;
    return {f.pixels[i], f.pixels[i + 1], f.pixels[i + 2]};
}

bool near(sample::Rgb a, sample::Rgb b, int tolerance = 30) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

std::string show(sample::Rgb c) {
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

// Checks that `f` is sample picture number `n` without input: bars, background and the block.
void expect_sample_picture(const DecodedFrame& f, std::uint64_t n, std::uint32_t width,
                           std::uint32_t height) {
    ASSERT_EQ(f.width, width);
    ASSERT_EQ(f.height, height);
    ASSERT_EQ(f.pixels.size(), std::size_t{width} * height * 4);
    for (std::size_t i = 0; i < sample::kBars.size(); ++i) {
        const auto x = static_cast<std::uint32_t>(width * (2 * i + 1) / 16);
        EXPECT_TRUE(near(pixel(f, x, height / 8), sample::kBars[i]))
            << "bar " << i << " is " << show(pixel(f, x, height / 8));
    }
    EXPECT_TRUE(near(pixel(f, width / 2, height * 11 / 16), sample::kBackground));
    const std::uint32_t side = height / 9;
    const auto block_x = static_cast<std::uint32_t>((n * 8) % (width - side)) + side / 2;
    EXPECT_TRUE(near(pixel(f, block_x, height / 2), sample::kBlock))
        << "picture " << n << " has no block at x " << block_x << ": "
        << show(pixel(f, block_x, height / 2));
    EXPECT_EQ(f.pixels[3], 255);
    EXPECT_EQ(f.pixels.back(), 255);
}

Units stream(std::uint32_t width, std::uint32_t height, std::size_t count, int key_interval) {
    auto units = sample::encode_stream(
        {.width = width, .height = height, .key_interval = key_interval}, count);
    EXPECT_TRUE(units) << units.error();
    return units ? *units : Units{};
}

H264Decoder make_decoder() {
    auto d = H264Decoder::create();
    EXPECT_TRUE(d) << d.error();
    return std::move(*d);
}

TEST(H264Decoder, EveryUnitGivesItsOwnPictureAtOnce) {
    const Units units = stream(320, 240, 12, 10);
    ASSERT_EQ(units.size(), 12u);
    H264Decoder d = make_decoder();
    for (std::size_t n = 0; n < units.size(); ++n) {
        auto picture = d.decode(units[n]);
        ASSERT_TRUE(picture) << "unit " << n;
        expect_sample_picture(*picture, n, 320, 240);
    }
}

TEST(H264Decoder, SkippedUnitsCostPicturesUntilTheNextKeyFrame) {
    const Units units = stream(320, 240, 24, 12);
    H264Decoder d = make_decoder();
    ASSERT_TRUE(d.decode(units[0]));
    // Latest-frame-wins upstream: most units never reach the decoder.
    for (std::size_t n : {4u, 7u, 11u}) {
        if (auto damaged = d.decode(units[n])) {
            EXPECT_EQ(damaged->width, 320u);
            EXPECT_EQ(damaged->height, 240u);
        }
    }
    auto key = d.decode(units[12]);
    ASSERT_TRUE(key);
    expect_sample_picture(*key, 12, 320, 240);
}

TEST(H264Decoder, HostileInputCostsNothingButPictures) {
    const Units units = stream(160, 120, 6, 30);
    const auto& key = units[0];
    std::vector<std::uint8_t> random(4096);
    std::uint32_t seed = 12345;
    for (auto& b : random) {
        seed = seed * 1103515245 + 12345;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    std::vector<std::uint8_t> flipped = key;
    for (std::size_t i = 5; i < flipped.size(); i += 7) {
        flipped[i] ^= 0x5A;
    }
    std::vector<std::uint8_t> start_codes;
    for (int i = 0; i < 200; ++i) {
        start_codes.insert(start_codes.end(), {0, 0, 1});
    }
    std::vector<std::uint8_t> bad_headers = {0,    0, 0, 1,    0x67, 0xFF, 0xFF, 0xFF,
                                             0xFF, 0, 0, 0,    1,    0x68, 0xFF, 0,
                                             0,    0, 1, 0x65, 0x88, 0xFF, 0xFF, 0xFF};
    const std::vector<std::uint8_t> half(key.begin(),
                                         key.begin() + static_cast<long>(key.size() / 2));
    const std::vector<std::uint8_t> tail(key.begin() + static_cast<long>(key.size() / 2),
                                         key.end());
    struct Case {
        const char* name;
        Units chunks;
    };
    const Case cases[] = {
        {"empty input", {{}}},
        {"random bytes", {random}},
        {"start codes only", {start_codes}},
        {"parameter sets and slice of garbage", {bad_headers}},
        {"key frame with flipped bytes", {flipped}},
        {"key frame cut in two calls", {half, tail}},
        {"predicted units before any key frame", {units[3], units[2], units[1]}},
        {"units out of order", {key, units[4], units[2], units[5], units[1]}},
    };
    for (const Case& c : cases) {
        H264Decoder d = make_decoder();
        for (const auto& chunk : c.chunks) {
            if (auto picture = d.decode(chunk)) {
                EXPECT_GT(picture->width, 0u) << c.name;
                EXPECT_EQ(picture->pixels.size(), std::size_t{picture->width} * picture->height * 4)
                    << c.name;
            }
        }
        // The stream recovers at the next key frame.
        auto recovered = d.decode(key);
        ASSERT_TRUE(recovered) << c.name;
        SCOPED_TRACE(c.name);
        expect_sample_picture(*recovered, 0, 160, 120);
    }
}

// Collects posted events; waits are bounded.
class EventSink {
  public:
    vf::Backend::Post post() {
        return [this](vf::Event e) {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(e));
            changed_.notify_all();
        };
    }
    std::optional<vf::Event> next(std::chrono::milliseconds within = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, within, [this] { return !events_.empty(); })) {
            return std::nullopt;
        }
        vf::Event e = std::move(events_.front());
        events_.pop_front();
        return e;
    }
    std::size_t size() {
        std::lock_guard lock(mutex_);
        return events_.size();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<vf::Event> events_;
};

TEST(SimulatedDevice, StreamsItsPictureAndDrawsTheInputItReceives) {
    fabric::SimulatedDevice device;
    EventSink sink;
    device.start(sink.post());
    device.deliver(vf::OpenStream{{}, 7});

    auto first = sink.next();
    ASSERT_TRUE(first && std::holds_alternative<vf::Connecting>(*first));
    EXPECT_EQ(std::get<vf::Connecting>(*first).stream, 7u);
    auto started = sink.next();
    ASSERT_TRUE(started && std::holds_alternative<vf::StreamStarted>(*started));
    const auto& size = std::get<vf::StreamStarted>(*started);
    EXPECT_EQ(size.stream, 7u);
    EXPECT_EQ(size.width, 1280u);
    EXPECT_EQ(size.height, 720u);

    H264Decoder d = make_decoder();
    // Frames since the last key frame (an IDR slice); a viewer joining late waits at most a second.
    int since_key = -1, longest_gap = 0, frames = 0;
    auto is_key = [](const std::vector<std::uint8_t>& unit) {
        for (std::size_t i = 0; i + 3 < unit.size(); ++i) {
            if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1 && (unit[i + 3] & 0x1F) == 5) {
                return true;
            }
        }
        return false;
    };
    // Decodes frames until `accept` likes a picture; at most 90 frames (three seconds).
    auto picture_where = [&](auto accept) -> std::optional<DecodedFrame> {
        for (int i = 0; i < 90; ++i) {
            auto e = sink.next();
            if (!e) {
                return std::nullopt;
            }
            auto* frame = std::get_if<vf::Frame>(&*e);
            EXPECT_TRUE(frame && frame->stream == 7 && frame->data);
            if (!frame || !frame->data) {
                return std::nullopt;
            }
            ++frames;
            if (is_key(*frame->data)) {
                since_key = 0;
            } else if (since_key >= 0) {
                longest_gap = std::max(longest_gap, ++since_key);
            }
            EXPECT_GE(since_key, 0) << "the stream did not start with a key frame";
            if (auto p = d.decode(*frame->data); p && accept(*p)) {
                return p;
            }
        }
        return std::nullopt;
    };
    auto plain = picture_where([](const DecodedFrame&) { return true; });
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->width, 1280u);
    EXPECT_EQ(plain->height, 720u);
    for (std::size_t i = 0; i < sample::kBars.size(); ++i) {
        EXPECT_TRUE(near(pixel(*plain, 1280 * (2 * i + 1) / 16, 90), sample::kBars[i]))
            << "bar " << i;
    }
    const auto text = sample::key_text_layout(1280, 720);
    const std::uint32_t key_x = text.x + text.cell / 2, key_y = text.y + text.cell / 2;
    EXPECT_TRUE(near(pixel(*plain, 900, 500), sample::kBackground));
    EXPECT_TRUE(near(pixel(*plain, key_x, key_y), sample::kBackground));

    device.deliver(vf::SendInput{vf::PointerMotion{900, 500}, 7});
    device.deliver(vf::SendInput{vf::KeyInput{true, 30, 0}, 7});
    // Input for another stream goes nowhere.
    device.deliver(vf::SendInput{vf::PointerMotion{100, 500}, 8});
    auto echoed = picture_where([&](const DecodedFrame& p) {
        return near(pixel(p, 900, 500), sample::kPointer) &&
               near(pixel(p, key_x, key_y), sample::kKeyText);
    });
    ASSERT_TRUE(echoed) << "the pointer and the held key never showed up in the picture";
    EXPECT_TRUE(near(pixel(*echoed, 100, 500), sample::kBackground));

    device.deliver(vf::SendInput{vf::KeyInput{false, 30, 0}, 7});
    EXPECT_TRUE(picture_where([&](const DecodedFrame& p) {
        return near(pixel(p, key_x, key_y), sample::kBackground);
    })) << "the released key stayed in the picture";

    while (frames < 45 && picture_where([](const DecodedFrame&) { return true; })) {
    }
    EXPECT_GE(frames, 45);
    EXPECT_LE(longest_gap, 29) << "over " << frames << " frames";
    device.deliver(vf::CloseStream{7});
    // Closing joined the stream's thread: after what was already sent, nothing more comes.
    while (sink.next(std::chrono::milliseconds(0))) {
    }
    EXPECT_FALSE(sink.next(std::chrono::milliseconds(200)));
}

TEST(NoRouteBackend, ClosesEveryOpenWithOneSentence) {
    fabric::NoRouteBackend backend;
    EventSink sink;
    backend.start(sink.post());
    backend.deliver(vf::SendInput{vf::KeyInput{true, 30, 0}, 3});
    backend.deliver(vf::OpenStream{{}, 3});
    backend.deliver(vf::CloseStream{3});
    auto e = sink.next(std::chrono::milliseconds(0));
    ASSERT_TRUE(e && std::holds_alternative<vf::Closed>(*e));
    const auto& closed = std::get<vf::Closed>(*e);
    EXPECT_EQ(closed.stream, 3u);
    EXPECT_EQ(closed.reason, vf::CloseReason::Other);
    EXPECT_EQ(closed.text, "This build has no route to Vorn devices yet.");
    EXPECT_EQ(sink.size(), 0u);
}

TEST(ScriptedBackend, RecordsCommandsAndPlaysEvents) {
    fabric::ScriptedBackend backend;
    EXPECT_FALSE(backend.emit(vf::Connecting{1}));
    EventSink sink;
    backend.start(sink.post());
    backend.deliver(vf::OpenStream{{}, 1});
    backend.deliver(vf::CloseStream{1});
    const auto commands = backend.commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<vf::OpenStream>(commands[0]));
    EXPECT_TRUE(std::holds_alternative<vf::CloseStream>(commands[1]));
    EXPECT_TRUE(backend.emit(vf::StreamStarted{1, 4, 2}));
    auto e = sink.next(std::chrono::milliseconds(0));
    ASSERT_TRUE(e && std::holds_alternative<vf::StreamStarted>(*e));
}

TEST(DefaultBackend, SimulatedOnlyInSampleMode) {
    struct Row {
        const char* value;  // nullptr: unset
        bool simulated;
    };
    const Row rows[] = {{"1", true},  {nullptr, false}, {"", false},
                        {"0", false}, {"true", false},  {"1 ", false}};
    for (const Row& row : rows) {
        if (row.value) {
            setenv("VORN_REMOTE_SAMPLE", row.value, 1);
        } else {
            unsetenv("VORN_REMOTE_SAMPLE");
        }
        auto backend = vf::make_default_backend();
        const char* shown = row.value ? row.value : "(unset)";
        EXPECT_EQ(dynamic_cast<fabric::SimulatedDevice*>(backend.get()) != nullptr, row.simulated)
            << shown;
        EXPECT_EQ(dynamic_cast<fabric::NoRouteBackend*>(backend.get()) != nullptr, !row.simulated)
            << shown;
    }
    unsetenv("VORN_REMOTE_SAMPLE");
}

}  // namespace
