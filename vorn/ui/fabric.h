#pragma once
// The device fabric contract: commands an application queues for a peer
// device (open a workspace stream, send input, close) and the stream events
// the fabric reports back. Backends carry them; events reach the application
// only on the UI thread, through its on_fabric_event hook.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace vorn_ui::fabric {

using EndpointKey = std::array<std::uint8_t, 32>;  // Ed25519 public key

// Input sent to a device; codes are Linux input event codes.
struct PointerMotion {
    double x = 0;
    double y = 0;
};
struct PointerButton {
    bool pressed = false;
    std::uint32_t button = 0;  // 0x110 left, 0x111 right, 0x112 middle
};
struct KeyInput {
    bool pressed = false;
    std::uint32_t key = 0;
    std::uint32_t reserved = 0;  // always 0
};
// Sent right before every left-button press: tells the device to take focus.
struct FocusRequest {
    std::uint8_t value = 1;
};
using DeviceInput = std::variant<PointerMotion, PointerButton, KeyInput, FocusRequest>;

struct OpenStream {
    EndpointKey endpoint{};
    std::uint64_t stream = 0;
};
struct SendInput {
    DeviceInput input;
    std::uint64_t stream = 0;
};
struct CloseStream {
    std::uint64_t stream = 0;
};
using Command = std::variant<OpenStream, SendInput, CloseStream>;

enum class CloseReason : std::uint8_t {
    TargetRevoked,
    TargetDisconnected,
    EncryptedRelayDisconnected,
    WorkspaceControlClosed,
    Other,  // see `text`
};

struct Connecting {
    std::uint64_t stream = 0;
};
struct StreamStarted {
    std::uint64_t stream = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};
struct Frame {
    std::uint64_t stream = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> data;  // H.264 Annex B access unit(s)
};
struct Closed {
    std::uint64_t stream = 0;
    CloseReason reason = CloseReason::Other;
    std::string text;  // only for CloseReason::Other
};
using Event = std::variant<Connecting, StreamStarted, Frame, Closed>;

// A route to devices. `deliver` is called by the platform on the UI thread;
// a backend may produce events on any thread and hands them to `post`, which
// the platform marshals to the UI thread before calling the application.
class Backend {
public:
    using Post = std::function<void(Event)>;
    virtual ~Backend() = default;
    virtual void start(Post post) = 0;
    virtual void deliver(Command command) = 0;
};

// The backend this process uses: the simulated device in sample mode
// (VORN_REMOTE_SAMPLE=1), otherwise the one that has no route to devices yet.
std::unique_ptr<Backend> make_default_backend();

}  // namespace vorn_ui::fabric
