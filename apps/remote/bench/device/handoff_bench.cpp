// Latency from a frame event on the UI thread to its decoded picture being ready to take,
// through the session's real decoder thread: once with the H.264 decoder on a 1080p stream,
// once with a decoder that costs nothing, which leaves the cost of the hand-off alone.
#include <benchmark/benchmark.h>

#include <thread>

#include "device/device_session.h"
#include "vorn/callstream/sample_picture.h"
#include "vorn/ui/endpoint_id.h"

namespace {

using namespace remote;
namespace vf = vorn_ui::fabric;

class InstantDecoder final : public FrameDecoder {
  public:
    std::expected<std::optional<DecodedFrame>, std::string> decode(
        std::span<const std::uint8_t> data) override {
        return DecodedFrame{1, 1, std::vector<std::uint8_t>(data.begin(), data.begin() + 4)};
    }
};

void frame_to_picture(benchmark::State& state, bool real_decoder) {
    std::vector<std::shared_ptr<const std::vector<std::uint8_t>>> units;
    if (real_decoder) {
        auto stream = vorn_callstream::sample::encode_stream({.width = 1920,
                                                              .height = 1080,
                                                              .frames_per_second = 60,
                                                              .key_interval = 60,
                                                              .preset = "veryfast",
                                                              .threads = 2},
                                                             120);
        for (auto& u : *stream) {
            units.push_back(std::make_shared<const std::vector<std::uint8_t>>(std::move(u)));
        }
    } else {
        units.push_back(std::make_shared<const std::vector<std::uint8_t>>(16, 1));
    }
    DeviceSessionOptions options;
    if (!real_decoder) {
        options.make_decoder = [] { return std::make_unique<InstantDecoder>(); };
    }
    std::uint64_t next = 1;
    DeviceOutbox outbox;
    vf::EndpointId::Bytes seed{};
    auto session =
        DeviceSession::open(vf::EndpointId::from_seed(seed).to_string(), next, outbox, options);
    if (!session) {
        state.SkipWithError(session.error().c_str());
        return;
    }
    session->on_fabric_event(vf::StreamStarted{session->stream(), 1920, 1080});
    std::size_t n = 0;
    for (auto _ : state) {
        session->on_fabric_event(vf::Frame{session->stream(), units[n]});
        // The UI thread polls (it never waits on the decoder); spin here to time the hand-off.
        std::optional<DecodedFrame> picture;
        while (!(picture = session->take_decoded_frame())) {
            std::this_thread::yield();
        }
        benchmark::DoNotOptimize(picture);
        n = (n + 1) % units.size();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

BENCHMARK_CAPTURE(frame_to_picture, h264_1080p, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(frame_to_picture, handoff_only, false)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
