#pragma once
// A Vorn device session: one workspace stream from a peer device. It turns fabric events into a
// SessionStatus, hands encoded frames to its decoder thread and takes decoded pictures back, maps
// pointer positions to device coordinates and queues input and close commands for the fabric.
// Thread notes: every member runs on the UI thread. The decoder thread ("remote-vorn-decode")
// shares only two latest-value slots, a capacity-1 notifier and an alive flag with it; the UI
// thread never waits for it. Dropping the session ends that thread without waiting for it.

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "session_status.h"
#include "vorn/callstream/decoder.h"
#include "vorn/ui/fabric.h"
#include "vorn/ui/geometry.h"
#include "vorn/ui/input.h"

namespace remote {

using DecodedFrame = vorn_callstream::decoder::DecodedFrame;
using DeviceOutbox = std::vector<vorn_ui::fabric::Command>;

// Decoding as the decoder thread sees it. An error means the decoder cannot go on: the thread
// ends and the session fails at its next frame. Runs on the decoder thread only.
class FrameDecoder {
  public:
    virtual ~FrameDecoder() = default;
    [[nodiscard]] virtual std::expected<std::optional<DecodedFrame>, std::string> decode(
        std::span<const std::uint8_t> data) = 0;
};

struct DeviceSessionOptions {
    // Called on the decoder thread; nullptr ends the thread at once. Default: the H.264 decoder.
    std::function<std::unique_ptr<FrameDecoder>()> make_decoder;
    // Runs `body` on a new thread, or gives the system's reason why not. Default: a detached
    // thread named after the decoder.
    std::function<std::expected<void, std::string>(std::function<void()> body)> start_thread;
};

// The next stream number: the current value, after which it grows by one (staying at the
// largest value once reached).
[[nodiscard]] std::uint64_t take_device_stream(std::uint64_t& next_device_stream);

// What a button change sends: a primary press is preceded by a focus request; buttons other
// than primary, secondary and middle send nothing.
[[nodiscard]] std::vector<vorn_ui::fabric::DeviceInput> button_inputs(vorn_ui::PointerButton button,
                                                                      bool pressed);
// A key change as device input, by its physical position; nothing for keys a device is not sent.
[[nodiscard]] std::optional<vorn_ui::fabric::DeviceInput> key_input(const vorn_ui::KeyEvent& key);

class DeviceSession {
  public:
    struct Size {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        friend bool operator==(const Size&, const Size&) = default;
    };

    // Parses `host` as the device's endpoint id, takes a stream number, queues the open command
    // and starts the decoder thread. The error is the session's start failure text; when the
    // thread could not be started the open command stays queued.
    [[nodiscard]] static std::expected<DeviceSession, std::string> open(
        std::string_view host, std::uint64_t& next_device_stream, DeviceOutbox& outbox,
        DeviceSessionOptions options = {});

    // A moved-from session may only be destroyed or assigned to.
    DeviceSession(DeviceSession&&) noexcept;
    DeviceSession& operator=(DeviceSession&&) noexcept;
    ~DeviceSession();

    std::uint64_t stream() const;
    const SessionStatus& status() const;
    // Known once the stream started or a picture was taken.
    std::optional<Size> surface_size() const;

    // Applies an event of this session's stream and returns true (a redraw is due); events of
    // other streams, and frames after the session failed, change nothing and return false.
    bool on_fabric_event(const vorn_ui::fabric::Event& event);

    // The newest decoded picture not yet taken, once; its size becomes the surface size.
    [[nodiscard]] std::optional<DecodedFrame> take_decoded_frame();

    // A view point inside `surface_rect` (right and bottom edges outside) in device coordinates,
    // while connected with a known size; nothing otherwise.
    [[nodiscard]] std::optional<vorn_ui::Point> map_pointer(
        vorn_ui::Point view, std::optional<vorn_ui::Rect> surface_rect) const;

    // Queues the input while the session is connected; false when it was dropped.
    bool send_device_input(vorn_ui::fabric::DeviceInput input, DeviceOutbox& outbox);
    // The session view's input: a move or button at a view point that maps (false when it does
    // not, so the view may treat it as its own click), and keys by their physical code.
    bool send_pointer_move(vorn_ui::Point view, std::optional<vorn_ui::Rect> surface_rect,
                           DeviceOutbox& outbox);
    bool send_pointer_button(vorn_ui::Point view, std::optional<vorn_ui::Rect> surface_rect,
                             vorn_ui::PointerButton button, bool pressed, DeviceOutbox& outbox);
    bool send_key(const vorn_ui::KeyEvent& key, DeviceOutbox& outbox);

    // Queues the close command (once) and stops the decoder thread; the owner then drops the
    // session. A session replaced by another one is simply dropped instead.
    void close(DeviceOutbox& outbox);

  private:
    struct State;
    explicit DeviceSession(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace remote
