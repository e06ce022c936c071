// Decoding throughput of 1080p device streams, RGBA conversion included; and what the
// simulated device spends per frame drawing and encoding its 720p picture.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "vorn/callstream/decoder.h"
#include "vorn/callstream/encoder.h"
#include "vorn/callstream/sample_picture.h"

namespace {

using namespace vorn_callstream;
using Units = std::vector<std::vector<std::uint8_t>>;

constexpr std::uint32_t kWidth = 1920, kHeight = 1080;
constexpr std::size_t kFrames = 120;

// Fine texture scrolling up three rows a frame, like a long page being read: every
// macroblock changes and carries detail, much harder to decode than flat colour.
Units scrolling_texture(const std::string& preset) {
    auto encoder = encoder::H264Encoder::create({.width = kWidth,
                                                 .height = kHeight,
                                                 .frames_per_second = 60,
                                                 .key_interval = 60,
                                                 .preset = preset,
                                                 .threads = 2});
    if (!encoder) {
        std::fprintf(stderr, "%s\n", encoder.error().c_str());
        std::abort();
    }
    std::vector<std::uint8_t> texture(std::size_t{kWidth} * (kHeight + 3 * kFrames));
    std::uint32_t seed = 1;
    for (std::size_t y = 0; y < texture.size() / kWidth; ++y) {
        for (std::size_t x = 0; x < kWidth; ++x) {
            seed = seed * 1664525 + 1013904223;
            // Mostly light "paper" with dark strokes, as text is.
            texture[y * kWidth + x] = ((x / 6 + y / 9) % 5 == 0 && (seed >> 28) < 9) ? 40 : 225;
        }
    }
    auto picture = encoder::YuvPicture::blank(kWidth, kHeight);
    Units units;
    for (std::size_t n = 0; n < kFrames; ++n) {
        std::copy_n(texture.begin() + static_cast<long>(3 * n * kWidth), picture.y.size(),
                    picture.y.begin());
        auto unit = encoder->encode(picture);
        if (!unit) {
            std::abort();
        }
        units.push_back(std::move(*unit));
    }
    return units;
}

const Units& stream(const std::string& kind) {
    static std::map<std::string, Units> made;
    if (auto it = made.find(kind); it != made.end()) {
        return it->second;
    }
    Units units;
    if (kind == "sample") {
        units = *sample::encode_stream({.width = kWidth,
                                        .height = kHeight,
                                        .frames_per_second = 60,
                                        .key_interval = 60,
                                        .preset = "veryfast",
                                        .threads = 2},
                                       kFrames);
    } else {
        units = scrolling_texture(kind == "text-ultrafast" ? "ultrafast" : "veryfast");
    }
    return made.emplace(kind, std::move(units)).first->second;
}

void decode_stream(benchmark::State& state, const std::string& kind) {
    const Units& units = stream(kind);
    std::size_t bytes = 0;
    for (const auto& u : units) {
        bytes += u.size();
    }
    auto decoder = decoder::H264Decoder::create();
    std::size_t n = 0, pictures = 0;
    for (auto _ : state) {
        auto picture = decoder->decode(units[n]);
        pictures += picture.has_value();
        benchmark::DoNotOptimize(picture);
        n = (n + 1) % units.size();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.counters["pictures"] = static_cast<double>(pictures);
    state.counters["kbit_per_frame"] =
        static_cast<double>(bytes) * 8 / 1000 / static_cast<double>(units.size());
}

// items_per_second is frames per second of wall time (the decoder may use a second thread).
BENCHMARK_CAPTURE(decode_stream, sample_picture_1080p, std::string("sample"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(decode_stream, scrolling_text_1080p_cavlc, std::string("text-ultrafast"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(decode_stream, scrolling_text_1080p_cabac, std::string("text-veryfast"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void simulated_device_frame(benchmark::State& state) {
    auto encoder = encoder::H264Encoder::create({.width = 1280,
                                                 .height = 720,
                                                 .frames_per_second = 30,
                                                 .key_interval = 30,
                                                 .preset = "ultrafast",
                                                 .threads = 1});
    auto picture = encoder::YuvPicture::blank(1280, 720);
    const sample::InputOverlay overlay{
        .pointer = std::array<double, 2>{640, 500}, .buttons = 1, .keys = {30, 42}};
    std::uint64_t n = 0;
    for (auto _ : state) {
        sample::draw(picture, n++, overlay);
        auto unit = encoder->encode(picture);
        benchmark::DoNotOptimize(unit);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(simulated_device_frame)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
