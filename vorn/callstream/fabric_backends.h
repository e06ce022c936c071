#pragma once
// Routes to devices behind the fabric contract: a simulated device that shares
// a moving test picture as H.264 (sample mode), a backend with no route at all
// (normal mode, until a real route exists) and a scripted one for tests.
// `deliver` runs on the UI thread; `post` may be called from backend threads.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "vorn/ui/fabric.h"

namespace vorn_callstream::fabric {

using vorn_ui::fabric::Backend;
using vorn_ui::fabric::Command;
using vorn_ui::fabric::Event;

struct SimulatedDeviceSettings {
    std::uint32_t width = 1280;  // even
    std::uint32_t height = 720;  // even
    int frames_per_second = 30;
    std::chrono::milliseconds consent_delay{300};
};

// Answers every open command like a consenting device: Connecting, then after
// the consent delay StreamStarted and frames (a key frame every second) until
// the stream is closed. It draws the input it receives into its picture, so a
// viewer sees its pointer and held keys come back. Each open stream has its own
// thread; closing a stream or destroying the backend joins it (at most one
// frame's encoding), so `post` must not wait for the UI thread.
class SimulatedDevice final : public Backend {
  public:
    explicit SimulatedDevice(SimulatedDeviceSettings settings = {});
    ~SimulatedDevice() override;
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    void start(Post post) override;
    void deliver(Command command) override;

  private:
    struct Stream;
    SimulatedDeviceSettings settings_;
    Post post_;
    std::map<std::uint64_t, std::unique_ptr<Stream>> streams_;
};

// What the no-route backend says when asked to open a stream.
inline constexpr std::string_view kNoRouteText = "This build has no route to Vorn devices yet.";

// Closes every stream it is asked to open, with kNoRouteText; ignores the rest.
class NoRouteBackend final : public Backend {
  public:
    void start(Post post) override;
    void deliver(Command command) override;

  private:
    Post post_;
};

// Records the commands it is given; a test plays the device by emitting events.
// Safe from any thread.
class ScriptedBackend final : public Backend {
  public:
    void start(Post post) override;
    void deliver(Command command) override;

    // Every command delivered so far, oldest first.
    std::vector<Command> commands() const;
    // Hands the event to the platform as a device would; false before start.
    bool emit(Event event);

  private:
    mutable std::mutex mutex_;
    Post post_;
    std::vector<Command> commands_;
};

}  // namespace vorn_callstream::fabric
