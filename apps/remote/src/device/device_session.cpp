#include "device/device_session.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "device/key_codes.h"
#include "vorn/ui/endpoint_id.h"

namespace remote {

namespace {

namespace fabric = vorn_ui::fabric;
using EncodedBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

constexpr std::uint32_t kButtonLeft = 0x110;
constexpr std::uint32_t kButtonRight = 0x111;
constexpr std::uint32_t kButtonMiddle = 0x112;

// A bounded channel of capacity 1 that carries no data: a pending wake-up or none.
struct Channel {
    std::mutex mutex;
    std::condition_variable changed;
    bool pending = false;
    bool sender_open = true;
    bool receiver_open = true;
};

enum class Notified { Sent, Full, Closed };

class NotifySender {
  public:
    explicit NotifySender(std::shared_ptr<Channel> channel) : channel_(std::move(channel)) {}
    NotifySender(NotifySender&&) noexcept = default;
    NotifySender& operator=(NotifySender&& other) noexcept {
        close();
        channel_ = std::move(other.channel_);
        return *this;
    }
    ~NotifySender() { close(); }

    // Never blocks.
    Notified try_send() {
        {
            std::lock_guard lock(channel_->mutex);
            if (!channel_->receiver_open) {
                return Notified::Closed;
            }
            if (channel_->pending) {
                return Notified::Full;
            }
            channel_->pending = true;
        }
        channel_->changed.notify_one();
        return Notified::Sent;
    }

    void close() {
        if (!channel_) {
            return;
        }
        {
            std::lock_guard lock(channel_->mutex);
            channel_->sender_open = false;
        }
        channel_->changed.notify_one();
        channel_.reset();
    }

  private:
    std::shared_ptr<Channel> channel_;
};

class NotifyReceiver {
  public:
    explicit NotifyReceiver(std::shared_ptr<Channel> channel) : channel_(std::move(channel)) {}
    NotifyReceiver(NotifyReceiver&&) noexcept = default;
    NotifyReceiver& operator=(NotifyReceiver&&) = delete;
    ~NotifyReceiver() { close(); }

    // Waits for a wake-up; false once the sender is gone.
    bool wait() {
        std::unique_lock lock(channel_->mutex);
        channel_->changed.wait(lock,
                               [this] { return channel_->pending || !channel_->sender_open; });
        if (!channel_->sender_open) {
            return false;
        }
        channel_->pending = false;
        return true;
    }

    void close() {
        if (!channel_) {
            return;
        }
        std::lock_guard lock(channel_->mutex);
        channel_->receiver_open = false;
        channel_->pending = false;
    }

  private:
    std::shared_ptr<Channel> channel_;
};

// What the two threads share besides the channel.
struct Shared {
    std::mutex encoded_mutex;
    EncodedBytes encoded;  // newest frame the decoder has not taken
    std::mutex decoded_mutex;
    std::optional<DecodedFrame> decoded;  // newest picture the screen has not taken
    std::atomic<bool> decoder_alive{true};
};

class H264FrameDecoder final : public FrameDecoder {
  public:
    explicit H264FrameDecoder(vorn_callstream::decoder::H264Decoder decoder)
        : decoder_(std::move(decoder)) {}
    std::expected<std::optional<DecodedFrame>, std::string> decode(
        std::span<const std::uint8_t> data) override {
        return decoder_.decode(data);
    }

  private:
    vorn_callstream::decoder::H264Decoder decoder_;
};

std::unique_ptr<FrameDecoder> make_h264_decoder() {
    auto decoder = vorn_callstream::decoder::H264Decoder::create();
    if (!decoder) {
        return nullptr;
    }
    return std::make_unique<H264FrameDecoder>(std::move(*decoder));
}

std::expected<void, std::string> start_named_detached(std::function<void()> body) {
    try {
        std::thread thread([body = std::move(body)] {
            // Linux keeps 15 bytes of a thread name, so tools show "remote-vorn-dec".
            pthread_setname_np(pthread_self(), "remote-vorn-dec");
            body();
        });
        thread.detach();
        return {};
    } catch (const std::system_error& e) {
        return std::unexpected(e.code().message());
    }
}

void decoder_loop(NotifyReceiver receiver, const std::shared_ptr<Shared>& shared,
                  const std::function<std::unique_ptr<FrameDecoder>()>& make_decoder) {
    {
        std::unique_ptr<FrameDecoder> decoder = make_decoder();
        while (decoder && receiver.wait()) {
            EncodedBytes bytes;
            {
                std::lock_guard lock(shared->encoded_mutex);
                bytes = std::exchange(shared->encoded, nullptr);
            }
            if (!bytes) {
                continue;
            }
            auto picture = decoder->decode(*bytes);
            if (!picture) {
                break;
            }
            if (*picture) {
                std::lock_guard lock(shared->decoded_mutex);
                shared->decoded = std::move(**picture);
            }
        }
        // From here a frame event finds the channel closed, even before the flag drops.
        receiver.close();
    }
    shared->decoder_alive.store(false, std::memory_order_release);
}

std::string closed_text(const fabric::Closed& closed) {
    switch (closed.reason) {
        case fabric::CloseReason::TargetRevoked:
            return "Target revoked workspace control";
        case fabric::CloseReason::TargetDisconnected:
            return "Target disconnected";
        case fabric::CloseReason::EncryptedRelayDisconnected:
            return "Encrypted relay disconnected";
        case fabric::CloseReason::WorkspaceControlClosed:
            return "Workspace control closed";
        case fabric::CloseReason::Other:
            break;
    }
    // A reason without words would leave the failure card saying nothing.
    return closed.text.empty() ? "The device closed the workspace stream" : closed.text;
}

std::uint64_t stream_of(const fabric::Event& event) {
    return std::visit([](const auto& e) { return e.stream; }, event);
}

double to_device(double offset, double extent, std::uint32_t size) {
    const double upper = size == 0 ? 0.0 : static_cast<double>(size) - 1.0;
    return std::clamp(offset / extent * static_cast<double>(size), 0.0, upper);
}

}  // namespace

struct DeviceSession::State {
    std::uint64_t stream = 0;
    SessionStatus status = SessionStatus::connecting();
    std::optional<Size> size;
    std::shared_ptr<Shared> shared;
    NotifySender notifier;
    bool closed = false;

    State(std::uint64_t s, std::shared_ptr<Shared> sh, NotifySender n)
        : stream(s), shared(std::move(sh)), notifier(std::move(n)) {}

    void on_frame(const fabric::Frame& frame) {
        if (!shared->decoder_alive.load(std::memory_order_acquire)) {
            status = SessionStatus::failed("Vorn frame decoder is unavailable");
            return;
        }
        if (!frame.data) {
            return;
        }
        {
            std::lock_guard lock(shared->encoded_mutex);
            shared->encoded = frame.data;
        }
        if (notifier.try_send() == Notified::Closed) {
            shared->decoder_alive.store(false, std::memory_order_release);
            status = SessionStatus::failed("Vorn frame decoder stopped");
        }
    }
};

std::uint64_t take_device_stream(std::uint64_t& next_device_stream) {
    const std::uint64_t taken = next_device_stream;
    if (next_device_stream != std::numeric_limits<std::uint64_t>::max()) {
        ++next_device_stream;
    }
    return taken;
}

std::vector<fabric::DeviceInput> button_inputs(vorn_ui::PointerButton button, bool pressed) {
    switch (button) {
        case vorn_ui::PointerButton::Primary:
            if (pressed) {
                return {fabric::FocusRequest{1}, fabric::PointerButton{true, kButtonLeft}};
            }
            return {fabric::PointerButton{false, kButtonLeft}};
        case vorn_ui::PointerButton::Secondary:
            return {fabric::PointerButton{pressed, kButtonRight}};
        case vorn_ui::PointerButton::Middle:
            return {fabric::PointerButton{pressed, kButtonMiddle}};
        case vorn_ui::PointerButton::Other:
            break;
    }
    return {};
}

std::optional<fabric::DeviceInput> key_input(const vorn_ui::KeyEvent& key) {
    const auto code = linux_key_code(key.code);
    if (!code) {
        return std::nullopt;
    }
    return fabric::KeyInput{key.pressed, *code, 0};
}

DeviceSession::DeviceSession(std::unique_ptr<State> state) : state_(std::move(state)) {}
DeviceSession::DeviceSession(DeviceSession&&) noexcept = default;
DeviceSession& DeviceSession::operator=(DeviceSession&&) noexcept = default;
DeviceSession::~DeviceSession() = default;

std::expected<DeviceSession, std::string> DeviceSession::open(std::string_view host,
                                                              std::uint64_t& next_device_stream,
                                                              DeviceOutbox& outbox,
                                                              DeviceSessionOptions options) {
    auto endpoint = fabric::EndpointId::parse(host);
    if (!endpoint) {
        return std::unexpected("Vorn host must be an exact certified device endpoint id");
    }
    const std::uint64_t stream = take_device_stream(next_device_stream);
    outbox.push_back(fabric::OpenStream{endpoint->bytes(), stream});

    auto channel = std::make_shared<Channel>();
    auto shared = std::make_shared<Shared>();
    auto make_decoder = options.make_decoder ? std::move(options.make_decoder) : make_h264_decoder;
    auto start_thread =
        options.start_thread ? std::move(options.start_thread) : start_named_detached;
    // The body owns the receiving end, so a body that never runs closes the channel too.
    auto receiver = std::make_shared<NotifyReceiver>(channel);
    auto started = start_thread(
        [receiver = std::move(receiver), shared, make_decoder = std::move(make_decoder)] {
            decoder_loop(std::move(*receiver), shared, make_decoder);
        });
    if (!started) {
        return std::unexpected("could not start Vorn frame decoder: " + started.error());
    }
    return DeviceSession(
        std::make_unique<State>(stream, std::move(shared), NotifySender(std::move(channel))));
}

std::uint64_t DeviceSession::stream() const {
    return state_->stream;
}
const SessionStatus& DeviceSession::status() const {
    return state_->status;
}
std::optional<DeviceSession::Size> DeviceSession::surface_size() const {
    return state_->size;
}

bool DeviceSession::on_fabric_event(const fabric::Event& event) {
    State& s = *state_;
    if (s.closed || stream_of(event) != s.stream) {
        return false;
    }
    if (const auto* started = std::get_if<fabric::StreamStarted>(&event)) {
        s.size = Size{started->width, started->height};
        s.status = SessionStatus::connected();
    } else if (const auto* frame = std::get_if<fabric::Frame>(&event)) {
        // A late frame must not replace the reason the session already failed with.
        if (s.status.kind == SessionStatus::Kind::Failed) {
            return false;
        }
        s.on_frame(*frame);
    } else if (const auto* closed = std::get_if<fabric::Closed>(&event)) {
        s.status = SessionStatus::failed(closed_text(*closed));
    } else {
        s.status = SessionStatus::connecting();
    }
    return true;
}

std::optional<DecodedFrame> DeviceSession::take_decoded_frame() {
    State& s = *state_;
    if (s.closed) {
        return std::nullopt;
    }
    std::optional<DecodedFrame> picture;
    {
        std::lock_guard lock(s.shared->decoded_mutex);
        picture = std::exchange(s.shared->decoded, std::nullopt);
    }
    if (picture) {
        s.size = Size{picture->width, picture->height};
    }
    return picture;
}

std::optional<vorn_ui::Point> DeviceSession::map_pointer(
    vorn_ui::Point view, std::optional<vorn_ui::Rect> surface_rect) const {
    const State& s = *state_;
    if (s.closed || s.status.kind != SessionStatus::Kind::Connected || !s.size || !surface_rect) {
        return std::nullopt;
    }
    const vorn_ui::Rect& r = *surface_rect;
    if (!(r.width() > 0 && r.height() > 0) || !r.contains(view)) {
        return std::nullopt;
    }
    return vorn_ui::Point{to_device(view.x - r.x0, r.width(), s.size->width),
                          to_device(view.y - r.y0, r.height(), s.size->height)};
}

bool DeviceSession::send_device_input(fabric::DeviceInput input, DeviceOutbox& outbox) {
    const State& s = *state_;
    if (s.closed || s.status.kind != SessionStatus::Kind::Connected) {
        return false;
    }
    outbox.push_back(fabric::SendInput{std::move(input), s.stream});
    return true;
}

bool DeviceSession::send_pointer_move(vorn_ui::Point view,
                                      std::optional<vorn_ui::Rect> surface_rect,
                                      DeviceOutbox& outbox) {
    const auto device = map_pointer(view, surface_rect);
    return device && send_device_input(fabric::PointerMotion{device->x, device->y}, outbox);
}

bool DeviceSession::send_pointer_button(vorn_ui::Point view,
                                        std::optional<vorn_ui::Rect> surface_rect,
                                        vorn_ui::PointerButton button, bool pressed,
                                        DeviceOutbox& outbox) {
    if (!map_pointer(view, surface_rect)) {
        return false;
    }
    for (auto& input : button_inputs(button, pressed)) {
        send_device_input(std::move(input), outbox);
    }
    return true;
}

bool DeviceSession::send_key(const vorn_ui::KeyEvent& key, DeviceOutbox& outbox) {
    auto input = key_input(key);
    return input && send_device_input(std::move(*input), outbox);
}

void DeviceSession::close(DeviceOutbox& outbox) {
    State& s = *state_;
    if (s.closed) {
        return;
    }
    s.closed = true;
    outbox.push_back(fabric::CloseStream{s.stream});
    s.notifier.close();
}

}  // namespace remote
