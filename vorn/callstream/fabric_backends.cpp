#include "vorn/callstream/fabric_backends.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>

#include "vorn/callstream/encoder.h"
#include "vorn/callstream/sample_picture.h"

namespace vorn_callstream::fabric {

namespace {

using namespace vorn_ui::fabric;
using Clock = std::chrono::steady_clock;

// More held keys than this are not drawn; the oldest make room.
constexpr std::size_t kMaxKeysShown = 8;

int button_bit(std::uint32_t code) {
    switch (code) {
        case 0x110:
            return 0;
        case 0x111:
            return 1;
        case 0x112:
            return 2;
        default:
            return -1;
    }
}

}  // namespace

struct SimulatedDevice::Stream {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    sample::InputOverlay overlay;
    std::thread thread;

    void apply(const DeviceInput& input) {
        std::lock_guard lock(mutex);
        if (auto* m = std::get_if<PointerMotion>(&input)) {
            overlay.pointer = std::array<double, 2>{m->x, m->y};
        } else if (auto* b = std::get_if<PointerButton>(&input)) {
            if (int bit = button_bit(b->button); bit >= 0) {
                overlay.buttons =
                    b->pressed ? overlay.buttons | (1u << bit) : overlay.buttons & ~(1u << bit);
            }
        } else if (auto* k = std::get_if<KeyInput>(&input)) {
            auto& keys = overlay.keys;
            std::erase(keys, k->key);
            if (k->pressed) {
                if (keys.size() == kMaxKeysShown) {
                    keys.erase(keys.begin());
                }
                keys.push_back(k->key);
            }
        }
    }

    // False when the stream was stopped while waiting.
    bool wait_until(Clock::time_point when) {
        std::unique_lock lock(mutex);
        return !wake.wait_until(lock, when, [this] { return stop; });
    }

    void run(std::uint64_t stream, SimulatedDeviceSettings settings, const Backend::Post& post) {
        post(vorn_ui::fabric::Connecting{stream});
        if (!wait_until(Clock::now() + settings.consent_delay)) {
            return;
        }
        auto encoder =
            encoder::H264Encoder::create({.width = settings.width,
                                          .height = settings.height,
                                          .frames_per_second = settings.frames_per_second,
                                          .key_interval = settings.frames_per_second,
                                          .preset = "ultrafast",
                                          .threads = 1});
        if (!encoder) {
            post(Closed{
                stream, CloseReason::Other,
                "The simulated device could not start its video encoder: " + encoder.error()});
            return;
        }
        post(StreamStarted{stream, settings.width, settings.height});
        auto picture = encoder::YuvPicture::blank(settings.width, settings.height);
        const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) /
                            settings.frames_per_second;
        auto next = Clock::now();
        for (std::uint64_t n = 0;; ++n) {
            sample::InputOverlay seen;
            {
                std::lock_guard lock(mutex);
                seen = overlay;
            }
            sample::draw(picture, n, seen);
            auto unit = encoder->encode(picture);
            if (!unit) {
                post(Closed{stream, CloseReason::Other,
                            "The simulated device stopped sharing: " + unit.error()});
                return;
            }
            if (!unit->empty()) {
                post(Frame{stream,
                           std::make_shared<const std::vector<std::uint8_t>>(std::move(*unit))});
            }
            next += period;
            // A device that fell behind skips ahead rather than sending a burst.
            if (const auto now = Clock::now(); now > next + period) {
                next = now;
            }
            if (!wait_until(next)) {
                return;
            }
        }
    }
};

SimulatedDevice::SimulatedDevice(SimulatedDeviceSettings settings) : settings_(settings) {
    settings_.frames_per_second = std::clamp(settings_.frames_per_second, 1, 240);
}

SimulatedDevice::~SimulatedDevice() {
    for (auto& [number, stream] : streams_) {
        {
            std::lock_guard lock(stream->mutex);
            stream->stop = true;
        }
        stream->wake.notify_all();
    }
    for (auto& [number, stream] : streams_) {
        stream->thread.join();
    }
}

void SimulatedDevice::start(Post post) {
    post_ = std::move(post);
}

void SimulatedDevice::deliver(Command command) {
    if (auto* open = std::get_if<OpenStream>(&command)) {
        if (!post_ || streams_.contains(open->stream)) {
            return;
        }
        auto stream = std::make_unique<Stream>();
        Stream* s = stream.get();
        s->thread = std::thread([s, number = open->stream, settings = settings_, post = post_] {
            s->run(number, settings, post);
        });
        streams_.emplace(open->stream, std::move(stream));
    } else if (auto* input = std::get_if<SendInput>(&command)) {
        if (auto it = streams_.find(input->stream); it != streams_.end()) {
            it->second->apply(input->input);
        }
    } else if (auto* close = std::get_if<CloseStream>(&command)) {
        if (auto it = streams_.find(close->stream); it != streams_.end()) {
            {
                std::lock_guard lock(it->second->mutex);
                it->second->stop = true;
            }
            it->second->wake.notify_all();
            it->second->thread.join();
            streams_.erase(it);
        }
    }
}

void NoRouteBackend::start(Post post) {
    post_ = std::move(post);
}

void NoRouteBackend::deliver(Command command) {
    if (auto* open = std::get_if<OpenStream>(&command); open && post_) {
        post_(Closed{open->stream, CloseReason::Other, std::string(kNoRouteText)});
    }
}

void ScriptedBackend::start(Post post) {
    std::lock_guard lock(mutex_);
    post_ = std::move(post);
}

void ScriptedBackend::deliver(Command command) {
    std::lock_guard lock(mutex_);
    commands_.push_back(std::move(command));
}

std::vector<Command> ScriptedBackend::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

bool ScriptedBackend::emit(Event event) {
    Post post;
    {
        std::lock_guard lock(mutex_);
        post = post_;
    }
    if (!post) {
        return false;
    }
    post(std::move(event));
    return true;
}

}  // namespace vorn_callstream::fabric

namespace vorn_ui::fabric {

std::unique_ptr<Backend> make_default_backend() {
    const char* sample = std::getenv("VORN_REMOTE_SAMPLE");
    if (sample && std::string_view(sample) == "1") {
        return std::make_unique<vorn_callstream::fabric::SimulatedDevice>();
    }
    return std::make_unique<vorn_callstream::fabric::NoRouteBackend>();
}

}  // namespace vorn_ui::fabric
