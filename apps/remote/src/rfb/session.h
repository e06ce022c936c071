#pragma once
// A VNC session: one "remote-vnc" thread that owns the socket, runs the handshake and the message
// loop, and shares with the user interface only its status, a bounded input queue and the
// latest-picture slot. All functions here are called on the user-interface thread and never block.

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "rfb/framebuffer.h"
#include "session_status.h"

namespace remote {

struct VncInput {
    struct Key {
        bool down = false;
        std::uint32_t keysym = 0;
        friend bool operator==(const Key&, const Key&) = default;
    };
    struct Pointer {
        std::uint8_t buttons = 0;  // bit 0 left, bit 1 middle, bit 2 right
        std::uint16_t x = 0, y = 0;
        friend bool operator==(const Pointer&, const Pointer&) = default;
    };
    std::variant<Key, Pointer> event;
    friend bool operator==(const VncInput&, const VncInput&) = default;
};

inline constexpr std::size_t kVncInputCapacity = 256;

struct VncShared;  // the state the handle shares with its thread

// The handle. Dropping it closes the input queue; the thread notices within about 100 ms when
// idle (or when its current read or message ends) and stops by itself, leaving the status as is.
class VncSession {
public:
    explicit VncSession(std::shared_ptr<VncShared> shared);
    VncSession(VncSession&&) noexcept;
    VncSession& operator=(VncSession&&) noexcept;
    ~VncSession();

    // Not for a moved-from handle.
    VncShared& shared() const { return *shared_; }
    std::optional<std::uint64_t>& last_taken_generation() { return last_taken_; }

private:
    void close();
    std::shared_ptr<VncShared> shared_;
    std::optional<std::uint64_t> last_taken_;
};

// The VNC password from REMOTE_VNC_PASSWORD: absent when unset or not valid UTF-8.
std::optional<std::string> vnc_password_from_environment();

// Starts the session thread. `password` (from REMOTE_VNC_PASSWORD) absent means empty. Fails only
// when the thread cannot be created, with the system's text.
[[nodiscard]] std::expected<VncSession, std::string> start_vnc_session(
    std::string host, std::uint16_t port, std::optional<std::string> password);

// Queues one event without blocking; refused when 256 are waiting or the thread has ended.
[[nodiscard]] std::expected<void, std::string> send_vnc_input(VncSession& session, VncInput event);

SessionStatus vnc_status(const VncSession& session);

// The newest picture if the view has not taken it yet, and the size of the newest picture.
std::optional<FrameSnapshot> take_new_frame(VncSession& session);
std::optional<std::pair<std::uint16_t, std::uint16_t>> frame_size(const VncSession& session);

}  // namespace remote
