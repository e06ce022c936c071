// Decoding speed over generated server bytes (full-screen Raw, RRE with many subrectangles,
// CopyRect scrolls) against a plain memcpy of one 1920x1080 picture, and end-to-end figures
// against a real Xvnc on loopback for our client and for libvncclient.

#include <X11/Xlib.h>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "../../tests/rfb/rfb_test_util.h"
#include "../../tests/rfb/xvnc_fixture.h"
#include "libvnc_client.h"
#include "rfb/session.h"
#include "rfb/update.h"

namespace remote::bench {
namespace {

using test::Wire;
constexpr std::uint16_t W = 1920, H = 1080;
constexpr double kPixels = double(W) * H;

void BM_Memcpy1080p(benchmark::State& state) {
    std::vector<std::uint8_t> src(std::size_t{W} * H * 4, 1), dst(src.size(), 2);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.counters["Mpx/s"] = benchmark::Counter(kPixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Memcpy1080p)->Unit(benchmark::kMicrosecond);

// Applies `update` (without its type byte) over and over, publishing each picture; with
// `view_holds`, the reader keeps the newest picture as a painting view does.
void run_decode(benchmark::State& state, const test::Bytes& update, bool view_holds) {
    Framebuffer fb(W, H);
    FrameSlot slot;
    publish(fb, slot);
    MemoryStream stream(update);
    RfbReader in(stream);
    std::optional<FrameSnapshot> held;
    for (auto _ : state) {
        stream.rewind();
        auto r = apply_update(in, fb, kClientPixelFormat);
        if (!r) {
            state.SkipWithError(r.error().message.c_str());
            return;
        }
        publish(fb, slot);
        if (view_holds) held = slot.get();
    }
    state.counters["Mpx/s"] = benchmark::Counter(kPixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

test::Bytes raw_update() {
    Wire w = Wire{}.u8(0).u16(1).rect(0, 0, W, H, 0);
    for (std::uint32_t i = 0; i < std::uint32_t{W} * H; ++i) w.pixel(i * 7, i >> 5, i >> 11);
    return w.b;
}

test::Bytes rre_update() {
    // A full-screen background and 10,000 16x16 subrectangles, like a tiled desktop.
    Wire w = Wire{}.u8(0).u16(1).rect(0, 0, W, H, 2).u32(10000).pixel(30, 30, 30);
    for (int i = 0; i < 10000; ++i) {
        w.pixel(i, i * 3, 200).u16((i * 37) % (W - 16)).u16((i * 11) % (H - 16)).u16(16).u16(16);
    }
    return w.b;
}

test::Bytes scroll_update() {
    // Scroll up by 20 rows, then the newly exposed strip as Raw.
    Wire w = Wire{}.u8(0).u16(2).rect(0, 0, W, H - 20, 1).u16(0).u16(20);
    w.rect(0, H - 20, W, 20, 0);
    for (int i = 0; i < W * 20; ++i) w.pixel(i, 0, 0);
    return w.b;
}

void BM_RawFullScreen(benchmark::State& state) {
    static const auto bytes = raw_update();
    run_decode(state, bytes, state.range(0) != 0);
}
BENCHMARK(BM_RawFullScreen)->Arg(0)->Arg(1)->ArgName("view_holds")->Unit(benchmark::kMicrosecond);

void BM_RreManySubrects(benchmark::State& state) {
    static const auto bytes = rre_update();
    run_decode(state, bytes, true);
    state.counters["subrects/s"] = benchmark::Counter(10000, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RreManySubrects)->Unit(benchmark::kMicrosecond);

void BM_CopyRectScroll(benchmark::State& state) {
    static const auto bytes = scroll_update();
    run_decode(state, bytes, true);
}
BENCHMARK(BM_CopyRectScroll)->Unit(benchmark::kMicrosecond);

// ---- end to end against Xvnc ----

constexpr double kMeasureSeconds = 3.0;

// Keeps the whole screen changing: the root window is filled with alternating colours at a
// steady pace, leaving the server CPU to encode and the clients CPU to decode (two cores here).
class Painter {
public:
    explicit Painter(const std::string& display, int fills_per_second = 250) {
        thread_ = std::thread([this, display, fills_per_second] {
            Display* d = XOpenDisplay(display.c_str());
            if (!d) return;
            Window root = DefaultRootWindow(d);
            GC gc = XCreateGC(d, root, 0, nullptr);
            auto next = std::chrono::steady_clock::now();
            const auto period = std::chrono::microseconds(1'000'000 / fills_per_second);
            for (unsigned long i = 0; !stop_; ++i) {
                XSetForeground(d, gc, (i & 1) ? 0x3070b0 : 0xc08020);
                XFillRectangle(d, root, gc, 0, 0, W, H);
                XSync(d, False);
                fills_ = i + 1;
                next += period;
                std::this_thread::sleep_until(next);
            }
            XFreeGC(d, gc);
            XCloseDisplay(d);
        });
    }
    ~Painter() {
        stop_ = true;
        thread_.join();
    }
    std::uint64_t fills() const { return fills_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> fills_{0};
    std::thread thread_;
};

EndToEnd our_run(std::uint16_t port, double seconds) {
    using Clock = std::chrono::steady_clock;
    EndToEnd out;
    auto start = Clock::now();
    auto session = start_vnc_session("127.0.0.1", port, std::nullopt);
    if (!session) return out;
    std::optional<FrameSnapshot> frame;
    while (!(frame = take_new_frame(*session)) || frame->generation == 0) {
        if (!vnc_status(*session).is_live()) return out;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    out.connect_to_first_picture_ms =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::uint64_t first = frame->generation;
    auto measure = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    auto last = take_new_frame(*session);
    double elapsed = std::chrono::duration<double>(Clock::now() - measure).count();
    std::uint64_t gen = last ? last->generation : first;
    out.updates_per_second = double(gen - first) / elapsed;
    out.ok = vnc_status(*session) == SessionStatus::connected();
    return out;
}

test::XvncServer* shared_server(std::string& why) {
    static std::optional<test::XvncServer> server = [&] {
        test::XvncServer::Options o;
        o.width = W;
        o.height = H;
        o.extra_args = {"-FrameRate", "1000"};
        auto started = test::XvncServer::start(o, why);
        if (started) {
            // The server's first clients pay for its own warm-up; neither measured client should.
            our_run(started->port(), 0.2);
            libvncclient_run(started->port(), 0.2);
        }
        return started;
    }();
    return server ? &*server : nullptr;
}

void report(benchmark::State& state, EndToEnd (*run)(std::uint16_t, double)) {
    std::string why;
    auto* server = shared_server(why);
    if (!server) {
        state.SkipWithError((std::string("Xvnc: ") + why).c_str());
        return;
    }
    EndToEnd r;
    std::uint64_t fills = 0;
    for (auto _ : state) {
        Painter painter(server->display());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::uint64_t before = painter.fills();
        r = run(server->port(), kMeasureSeconds);
        fills = painter.fills() - before;
    }
    if (!r.ok) {
        state.SkipWithError("the client did not stay connected");
        return;
    }
    state.counters["connect_to_first_picture_ms"] = r.connect_to_first_picture_ms;
    state.counters["updates_per_s"] = r.updates_per_second;
    state.counters["screen_fills"] = double(fills);
}

void BM_EndToEnd_Ours(benchmark::State& state) { report(state, our_run); }
void BM_EndToEnd_Libvncclient(benchmark::State& state) { report(state, libvncclient_run); }
BENCHMARK(BM_EndToEnd_Ours)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EndToEnd_Libvncclient)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EndToEnd_Ours)->Name("BM_EndToEnd_Ours/again")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EndToEnd_Libvncclient)->Name("BM_EndToEnd_Libvncclient/again")->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace remote::bench

BENCHMARK_MAIN();
