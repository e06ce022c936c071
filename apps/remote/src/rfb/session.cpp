#include "rfb/session.h"

#include <pthread.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "rfb/handshake.h"
#include "rfb/messages.h"
#include "rfb/session_state.h"
#include "rfb/update.h"

namespace remote {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReadTimeout = std::chrono::milliseconds(100);
constexpr auto kRequestInterval = std::chrono::milliseconds(500);

RfbResult<void> send_input(ByteSource& out, const VncInput& input) {
    if (const auto* key = std::get_if<VncInput::Key>(&input.event)) {
        return out.write_all(encode_key_event(key->down, key->keysym));
    }
    const auto& p = std::get<VncInput::Pointer>(input.event);
    return out.write_all(encode_pointer_event(p.buttons, p.x, p.y));
}

RfbResult<void> handle_message(std::uint8_t type, RfbReader& in, ByteSource& out,
                               Framebuffer& fb, const ServerInit& init, VncShared& shared,
                               Clock::time_point& last_request) {
    switch (type) {
        case 0: {
            auto applied = apply_update(in, fb, init.format);
            if (!applied) return std::unexpected(applied.error());
            publish(fb, shared.slot);
            // Always incremental: a full request makes some servers send an extra empty update,
            // and answering each of those with another full request snowballs.
            auto r = out.write_all(encode_update_request(true, 0, 0, init.width, init.height));
            last_request = Clock::now();
            return r;
        }
        case 1: {  // SetColourMapEntries: meaningless with a true-colour format
            std::array<std::uint8_t, 5> head{};
            if (auto r = in.read_exact(head); !r) return r;
            std::uint64_t colours = (std::uint32_t{head[3]} << 8) | head[4];
            return in.skip(colours * 6);
        }
        case 2:  // Bell
            return {};
        case 3: {  // ServerCutText: the clipboard is not shared, so it is drained unread
            std::array<std::uint8_t, 7> head{};
            if (auto r = in.read_exact(head); !r) return r;
            std::uint32_t len = (std::uint32_t{head[3]} << 24) | (std::uint32_t{head[4]} << 16) |
                                (std::uint32_t{head[5]} << 8) | std::uint32_t{head[6]};
            return in.skip(len);
        }
        default:
            return std::unexpected(
                RfbError::other("unknown server message " + std::to_string(type)));
    }
}

struct ThreadArgs {
    std::shared_ptr<VncShared> shared;
    std::string host;
    std::uint16_t port;
    std::optional<std::string> password;
};

void* session_thread(void* raw) {
    std::unique_ptr<ThreadArgs> args(static_cast<ThreadArgs*>(raw));
    pthread_setname_np(pthread_self(), "remote-vnc");
    VncShared& shared = *args->shared;
    RfbResult<void> outcome;
    {
        auto socket = connect_tcp(args->host, args->port, &shared.cancel);
        if (socket) {
            outcome = run_vnc_protocol(**socket, args->password, shared);
        } else {
            outcome = std::unexpected(socket.error());
        }
    }  // the socket closes here, before the status says the session is over
    finish_vnc_session(shared, outcome);
    return nullptr;
}

}  // namespace

void VncShared::set_status(SessionStatus s) {
    std::lock_guard lock(status_mutex);
    status = std::move(s);
}

std::optional<VncInput> VncShared::pop_input(bool& closed) {
    std::lock_guard lock(input_mutex);
    closed = input_closed;
    if (input.empty()) return std::nullopt;
    VncInput e = input.front();
    input.pop_front();
    return e;
}

RfbResult<void> run_vnc_protocol(ByteSource& connection, const std::optional<std::string>& password,
                                 VncShared& shared) {
    RfbReader in(connection);
    auto init = run_handshake(in, connection, password);
    if (!init) return std::unexpected(init.error());

    // The request goes out first so that the server prepares the picture while the
    // framebuffer is set up.
    if (auto r = connection.write_all(encode_update_request(false, 0, 0, init->width,
                                                            init->height));
        !r) {
        return r;
    }
    Framebuffer fb(init->width, init->height);
    shared.set_status(SessionStatus::connected());
    publish(fb, shared.slot);
    auto last_request = Clock::now();

    for (;;) {
        bool closed = false;
        if (auto event = shared.pop_input(closed)) {
            if (auto r = send_input(connection, *event); !r) return r;
            continue;
        }
        if (closed) return {};

        auto type = in.poll_u8(kReadTimeout);
        if (!type) return std::unexpected(type.error());
        if (!*type) {
            if (Clock::now() - last_request >= kRequestInterval) {
                auto r = connection.write_all(
                    encode_update_request(true, 0, 0, init->width, init->height));
                if (!r) return r;
                last_request = Clock::now();
            }
            continue;
        }
        if (auto r = handle_message(**type, in, connection, fb, *init, shared, last_request); !r) {
            return r;
        }
    }
}

void finish_vnc_session(VncShared& shared, const RfbResult<void>& outcome) {
    {
        std::lock_guard lock(shared.input_mutex);
        shared.thread_ended = true;
        shared.input.clear();
    }
    if (outcome || outcome.error().kind == RfbError::Kind::Cancelled) return;
    const RfbError& e = outcome.error();
    std::lock_guard lock(shared.status_mutex);
    if (shared.status.kind == SessionStatus::Kind::Failed) return;
    if (e.kind == RfbError::Kind::EndOfStream &&
        shared.status.kind == SessionStatus::Kind::Connected) {
        shared.status = SessionStatus::closed();
        return;
    }
    switch (e.kind) {
        case RfbError::Kind::Refused:
            shared.status = SessionStatus::failed("Connection refused");
            break;
        case RfbError::Kind::TimedOut:
            shared.status = SessionStatus::failed("Connection timed out");
            break;
        default:
            shared.status = SessionStatus::failed(e.message);
    }
}

VncSession::VncSession(std::shared_ptr<VncShared> shared) : shared_(std::move(shared)) {}

VncSession::VncSession(VncSession&& other) noexcept = default;

VncSession& VncSession::operator=(VncSession&& other) noexcept {
    if (this != &other) {
        close();
        shared_ = std::move(other.shared_);
        last_taken_ = other.last_taken_;
    }
    return *this;
}

VncSession::~VncSession() { close(); }

void VncSession::close() {
    if (!shared_) return;
    {
        std::lock_guard lock(shared_->input_mutex);
        shared_->input_closed = true;
    }
    shared_->cancel.store(true);
}

std::optional<std::string> vnc_password_from_environment() {
    const char* value = std::getenv("REMOTE_VNC_PASSWORD");
    if (value == nullptr) return std::nullopt;
    std::string password(value);
    auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(password.data()), password.size());
    if (decode_utf8_lossy(bytes) != password) return std::nullopt;
    return password;
}

std::expected<VncSession, std::string> start_vnc_session(std::string host, std::uint16_t port,
                                                         std::optional<std::string> password) {
    auto shared = std::make_shared<VncShared>();
    auto args = std::make_unique<ThreadArgs>(ThreadArgs{shared, std::move(host), port,
                                                        std::move(password)});
    pthread_t thread;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    int rc = pthread_create(&thread, &attr, session_thread, args.get());
    pthread_attr_destroy(&attr);
    if (rc != 0) return std::unexpected(std::string(std::strerror(rc)));
    args.release();  // the thread owns it now
    return VncSession(std::move(shared));
}

std::expected<void, std::string> send_vnc_input(VncSession& session, VncInput event) {
    VncShared& shared = session.shared();
    std::lock_guard lock(shared.input_mutex);
    if (shared.thread_ended) return std::unexpected("VNC session input channel is closed");
    if (shared.input.size() >= kVncInputCapacity) {
        return std::unexpected("VNC input is busy; wait for the remote desktop to catch up");
    }
    shared.input.push_back(event);
    return {};
}

SessionStatus vnc_status(const VncSession& session) {
    VncShared& shared = session.shared();
    std::lock_guard lock(shared.status_mutex);
    return shared.status;
}

std::optional<FrameSnapshot> take_new_frame(VncSession& session) {
    return take_new_frame(session.shared().slot, session.last_taken_generation());
}

std::optional<std::pair<std::uint16_t, std::uint16_t>> frame_size(const VncSession& session) {
    return frame_size(session.shared().slot);
}

}  // namespace remote
