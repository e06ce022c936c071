#include "ssh/session.h"

#include <fmt/format.h>
#include <libssh/libssh.h>
#include <openssl/evp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "ssh/host_key_check.h"
#include "ssh/ssh_key_file.h"

namespace remote {
namespace detail {

// A value reachable only while its mutex is held: nobody can touch it without the lock.
template <class T>
class Locked {
  public:
    template <class F>
    decltype(auto) with_locked(F&& fn) {
        std::lock_guard lock(mutex_);
        return std::forward<F>(fn)(value_);
    }
    template <class F>
    decltype(auto) with_locked(F&& fn) const {
        std::lock_guard lock(mutex_);
        return std::forward<F>(fn)(value_);
    }

  private:
    mutable std::mutex mutex_;
    T value_{};
};

struct SshAckSlot {
    Locked<SshAck> ack;
};

// Sending end of an acknowledgement. Dropped unanswered, it tells the receiver so.
class SshAckSender {
  public:
    SshAckSender() = default;
    explicit SshAckSender(std::shared_ptr<SshAckSlot> slot) : slot_(std::move(slot)) {}
    SshAckSender(SshAckSender&&) noexcept = default;
    SshAckSender& operator=(SshAckSender&& other) noexcept {
        if (this != &other) {
            answer(SshAckState::Dropped, {});
            slot_ = std::move(other.slot_);
        }
        return *this;
    }
    ~SshAckSender() { answer(SshAckState::Dropped, {}); }

    void answer(SshAckState state, std::string error) {
        if (!slot_) return;
        slot_->ack.with_locked([&](SshAck& ack) {
            if (ack.state == SshAckState::Pending) ack = SshAck{state, std::move(error)};
        });
        slot_.reset();
    }

  private:
    std::shared_ptr<SshAckSlot> slot_;
};

struct SshInput {
    std::vector<std::uint8_t> bytes;  // 1 to 65,536 of them
    SshAckSender ack;                 // empty when nobody waits for an answer
};

struct SharedState {
    SessionStatus status = SessionStatus::connecting();
    std::optional<HostKeyCheck> observation;
    std::deque<std::vector<std::uint8_t>> output;
    std::deque<SshInput> input;
    bool handle_dropped = false;  // both queue ends held by the handle are closed
    bool worker_ended = false;    // the worker's end of both queues is closed
};

struct SshShared {
    Locked<SharedState> state;
    int wake_fd = -1;  // eventfd bumped by the UI side; lives as long as any owner

    SshShared() = default;
    SshShared(const SshShared&) = delete;
    SshShared& operator=(const SshShared&) = delete;
    ~SshShared() {
        if (wake_fd >= 0) ::close(wake_fd);
    }

    void wake() const {
        if (wake_fd < 0) return;
        const std::uint64_t one = 1;
        // A full counter already means "wake up"; nothing else can go wrong here.
        [[maybe_unused]] const auto written = ::write(wake_fd, &one, sizeof one);
    }
};

}  // namespace detail

using detail::SharedState;
using detail::SshShared;

struct SshSessionAccess {
    static SshShared& shared(const SshSession& session) { return *session.shared_; }
    static Terminal& terminal(SshSession& session) { return session.terminal_; }
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kRekeyBytes = std::uint64_t{1} << 30;
constexpr std::uint32_t kRekeySeconds = 3600;
// While connecting, libssh may wait for things it does not tell us about; look again this often.
constexpr int kConnectTickMs = 1000;
// Bound on the final flush of end-of-file and disconnect to a peer that stopped reading.
constexpr int kFinalFlushMs = 2000;
constexpr std::size_t kReadChunk = 32768;
// Rounds of input/output work between two looks at the clock and the wake-up counter.
constexpr int kRoundsPerWake = 64;

void set_failed(SshShared& shared, std::string text) {
    shared.state.with_locked([&](SharedState& s) {
        if (s.status.kind != SessionStatus::Kind::Failed) s.status = SessionStatus::failed(text);
    });
}

std::string library_error(ssh_session session) {
    const char* text = ssh_get_error(session);
    return (text && *text) ? text : "unknown SSH error";
}

// The name a server key carries in its own wire form; libssh's name only if the blob is odd.
std::string key_algorithm_name(std::span<const std::uint8_t> blob, ssh_key key) {
    if (blob.size() >= 4) {
        const std::size_t len = (std::size_t{blob[0]} << 24) | (std::size_t{blob[1]} << 16) |
                                (std::size_t{blob[2]} << 8) | std::size_t{blob[3]};
        if (len > 0 && len <= blob.size() - 4) {
            return std::string(reinterpret_cast<const char*>(blob.data() + 4), len);
        }
    }
    const char* name = ssh_key_type_to_char(ssh_key_type(key));
    return name ? name : "unknown";
}

std::optional<std::vector<std::uint8_t>> decode_base64(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes(text.size() / 4 * 3);
    const int decoded =
        EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
    if (decoded < 0) return std::nullopt;
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::size_t size = static_cast<std::size_t>(decoded);
    for (auto it = text.rbegin(); it != text.rend() && *it == '=' && size > 0; ++it) --size;
    bytes.resize(size);
    return bytes;
}

class Worker {
  public:
    Worker(std::shared_ptr<SshShared> shared, SshStartParams params)
        : shared_(std::move(shared)), params_(std::move(params)), wake_fd_(shared_->wake_fd) {}

    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // ssh_free also frees the channel (ssh_disconnect already did, when it ran).
    ~Worker() {
        if (session_) ssh_free(session_);
    }

    void run() {
        session_ = ssh_new();
        if (!session_) {
            set_failed(*shared_, "runtime: cannot create an SSH session");
        } else if (auto established = establish(); !established) {
            if (!abandoned_) set_failed(*shared_, std::move(established.error()));
        } else if (auto served = serve(); !served) {
            set_failed(*shared_, std::move(served.error()));
        }
        // A failed or abandoned attempt still says goodbye to a server it reached.
        if (session_ && ssh_is_connected(session_)) disconnect();
        close_queues();
    }

  private:
    // ---- connecting -------------------------------------------------------------------------

    std::expected<void, std::string> establish() {
        if (auto configured = configure(); !configured) return configured;
        ssh_set_blocking(session_, 0);

        const int connected = drive([&] { return ssh_connect(session_); }, SSH_AGAIN);
        if (abandoned_) return std::unexpected(std::string());
        if (connected != SSH_OK) return std::unexpected("connect: " + library_error(session_));

        if (auto trusted = check_host_key(); !trusted) return trusted;
        if (auto signed_in = authenticate(); !signed_in) return signed_in;
        if (abandoned_) return std::unexpected(std::string());
        if (auto opened = open_shell(); !opened) return opened;

        shared_->state.with_locked([](SharedState& s) { s.status = SessionStatus::connected(); });
        return {};
    }

    std::expected<void, std::string> configure() {
        const unsigned int port = params_.port;
        const int nodelay = 1;  // a delayed ACK otherwise stalls the channel open by ~45 ms
        const int verbosity = SSH_LOG_NOLOG;
        const bool process_config = false;
        const std::uint64_t rekey_bytes = kRekeyBytes;
        const std::uint32_t rekey_seconds = kRekeySeconds;
        // Trust comes from our own pin store only; OpenSSH's files must not steer the
        // negotiation either (libssh prefers key types it finds there).
        const char* no_known_hosts = "/dev/null";
        const struct {
            ssh_options_e option;
            const void* value;
        } options[] = {
            {SSH_OPTIONS_HOST, params_.host.c_str()},
            {SSH_OPTIONS_PORT, &port},
            {SSH_OPTIONS_USER, params_.login.c_str()},
            {SSH_OPTIONS_PROCESS_CONFIG, &process_config},
            {SSH_OPTIONS_LOG_VERBOSITY, &verbosity},
            {SSH_OPTIONS_NODELAY, &nodelay},
            {SSH_OPTIONS_REKEY_DATA, &rekey_bytes},
            {SSH_OPTIONS_REKEY_TIME, &rekey_seconds},
            {SSH_OPTIONS_KNOWNHOSTS, no_known_hosts},
            {SSH_OPTIONS_GLOBAL_KNOWNHOSTS, no_known_hosts},
        };
        for (const auto& [option, value] : options) {
            if (ssh_options_set(session_, option, value) != SSH_OK) {
                return std::unexpected("connect: " + library_error(session_));
            }
        }
        return {};
    }

    // Accepts the server only when its key equals the pin for this host and port; anything else
    // leaves the observation for the trust flow and ends the connection before signing in.
    std::expected<void, std::string> check_host_key() {
        ssh_key key = nullptr;
        if (ssh_get_server_publickey(session_, &key) != SSH_OK || key == nullptr) {
            return std::unexpected("connect: " + library_error(session_));
        }
        // libssh hands out the key's wire form only as base64.
        char* base64 = nullptr;
        const int exported = ssh_pki_export_pubkey_base64(key, &base64);
        std::optional<std::vector<std::uint8_t>> blob;
        if (exported == SSH_OK && base64 != nullptr) blob = decode_base64(base64);
        ssh_string_free_char(base64);
        if (!blob) {
            ssh_key_free(key);
            return std::unexpected(std::string("connect: cannot read the server's host key"));
        }
        const HostKeyIdentity identity = host_key_identity(key_algorithm_name(*blob, key), *blob);
        ssh_key_free(key);

        HostKeyCheck check =
            check_server_key(params_.store_path, params_.host, params_.port, identity);
        if (std::holds_alternative<HostKeyCheck::Trusted>(check.value)) return {};
        std::string text = host_key_failure_text(check, params_.host, params_.port);
        shared_->state.with_locked([&](SharedState& s) { s.observation = std::move(check); });
        disconnect();
        return std::unexpected(std::move(text));
    }

    std::expected<void, std::string> authenticate() {
        int answer = SSH_AUTH_ERROR;
        if (const auto* password = std::get_if<SshPasswordCredentials>(&params_.credentials)) {
            answer = drive(
                [&] {
                    return ssh_userauth_password(session_, nullptr, password->password.c_str());
                },
                SSH_AUTH_AGAIN);
        } else {
            const auto& creds = std::get<SshKeyCredentials>(params_.credentials);
            auto key = load_private_key(creds.key_file, creds.passphrase);
            if (!key) {
                return std::unexpected(
                    fmt::format("load key {}: {}", creds.key_file.string(), key.error()));
            }
            // libssh picks rsa-sha2-512 or rsa-sha2-256 for an RSA key from the server's
            // server-sig-algs extension, so servers that refuse SHA-1 signatures still accept it.
            answer = drive([&] { return ssh_userauth_publickey(session_, nullptr, key->get()); },
                           SSH_AUTH_AGAIN);
        }
        if (abandoned_) return {};
        if (answer != SSH_AUTH_SUCCESS)
            return std::unexpected(std::string("Authentication failed"));
        return {};
    }

    std::expected<void, std::string> open_shell() {
        channel_ = ssh_channel_new(session_);
        if (!channel_) return std::unexpected("open session channel: " + library_error(session_));
        if (drive([&] { return ssh_channel_open_session(channel_); }, SSH_AGAIN) != SSH_OK) {
            return std::unexpected(abandoned_ ? std::string()
                                              : "open session channel: " + library_error(session_));
        }
        // libssh always asks for a reply to these two requests and waits for it; the pty carries
        // no terminal modes.
        if (drive(
                [&] {
                    return ssh_channel_request_pty_size(channel_, "xterm-256color",
                                                        kSshTerminalCols, kSshTerminalRows);
                },
                SSH_AGAIN) != SSH_OK) {
            return std::unexpected(
                abandoned_ ? std::string() : "request pseudo-terminal: " + library_error(session_));
        }
        if (drive([&] { return ssh_channel_request_shell(channel_); }, SSH_AGAIN) != SSH_OK) {
            return std::unexpected(abandoned_ ? std::string()
                                              : "request shell: " + library_error(session_));
        }
        return {};
    }

    // Repeats a non-blocking libssh step until it stops asking to be called again, sleeping on
    // the socket in between. A dropped handle abandons the attempt: nobody waits for it any more,
    // and a silent server must not keep this thread alive.
    template <class Step>
    int drive(Step&& step, int again) {
        for (;;) {
            const int rc = step();
            if (rc != again) return rc;
            if (handle_dropped()) {
                abandoned_ = true;
                return rc;
            }
            short events = POLLIN;
            if (ssh_get_poll_flags(session_) & SSH_WRITE_PENDING) events |= POLLOUT;
            wait(events, kConnectTickMs);
        }
    }

    // ---- the connected loop ------------------------------------------------------------------

    enum class Step { Idle, Progress, End };

    std::expected<void, std::string> serve() {
        last_activity_ = Clock::now();
        std::string failure;
        bool input_first = true;
        for (;;) {
            bool ended = false;
            for (int round = 0; round < kRoundsPerWake && !ended; ++round) {
                // Alternate which side goes first so neither starves the other.
                input_first = !input_first;
                Step steps[2];
                for (int k = 0; k < 2 && !ended; ++k) {
                    steps[k] = (k == 0) == input_first ? step_input(failure) : step_output();
                    ended = steps[k] == Step::End;
                }
                if (!ended && steps[0] == Step::Idle && steps[1] == Step::Idle) break;
                last_activity_ = Clock::now();
            }
            if (!failure.empty()) return std::unexpected(std::move(failure));
            if (ended || channel_finished()) break;
            if (handle_dropped() && !pending_input_ && input_empty()) {
                ssh_channel_send_eof(channel_);
                break;
            }
            const auto idle = Clock::now() - last_activity_;
            if (idle >= params_.inactivity_limit) break;
            if (output_has_room() && channel_buffered() > 0) continue;

            short events = 0;
            if (output_has_room() || pending_input_) events |= POLLIN;
            if (ssh_get_poll_flags(session_) & SSH_WRITE_PENDING) events |= POLLOUT;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                params_.inactivity_limit - idle);
            const short ready = wait(events, static_cast<int>(left.count()) + 1);
            if (ready & POLLOUT) ssh_blocking_flush(session_, 0);
            if (ready) last_activity_ = Clock::now();
        }
        finish();
        return {};
    }

    // Writes (more of) the oldest queued input to the channel.
    Step step_input(std::string& failure) {
        if (!pending_input_) {
            pending_input_ = shared_->state.with_locked([](SharedState& s) {
                std::optional<detail::SshInput> next;
                if (!s.input.empty()) {
                    next = std::move(s.input.front());
                    s.input.pop_front();
                }
                return next;
            });
            pending_offset_ = 0;
            if (!pending_input_) return Step::Idle;
        }
        if (ssh_channel_is_closed(channel_)) return Step::End;
        auto& bytes = pending_input_->bytes;
        const int written =
            ssh_channel_write(channel_, bytes.data() + pending_offset_,
                              static_cast<std::uint32_t>(bytes.size() - pending_offset_));
        if (written == SSH_ERROR) {
            failure = library_error(session_);
            if (failure.empty()) failure = "write to the SSH channel failed";
            pending_input_->ack.answer(SshAckState::Failed, failure);
            pending_input_.reset();
            return Step::End;
        }
        pending_offset_ += static_cast<std::size_t>(written);
        if (pending_offset_ == bytes.size()) {
            pending_input_->ack.answer(SshAckState::Delivered, {});
            pending_input_.reset();
            return Step::Progress;
        }
        // The peer's window is shut; the socket tells us when it reopens.
        return written > 0 ? Step::Progress : Step::Idle;
    }

    // Moves one chunk of channel data (ordinary, then standard error) into the output queue,
    // unless the queue is full: then the channel is left unread and its window holds the peer.
    Step step_output() {
        if (!output_has_room()) return Step::Idle;
        for (int stream : {0, 1}) {
            const int got = ssh_channel_read_nonblocking(
                channel_, read_buffer_.data(), static_cast<std::uint32_t>(read_buffer_.size()),
                stream);
            if (got == SSH_ERROR) return Step::End;
            if (got > 0) {
                std::vector<std::uint8_t> chunk(read_buffer_.begin(), read_buffer_.begin() + got);
                shared_->state.with_locked(
                    [&](SharedState& s) { s.output.push_back(std::move(chunk)); });
                return Step::Progress;
            }
        }
        return Step::Idle;
    }

    int channel_buffered() {
        int total = 0;
        for (int stream : {0, 1}) {
            const int n = ssh_channel_poll(channel_, stream);
            if (n > 0) total += n;
        }
        return total;
    }

    // The peer sent end-of-file or closed the channel and everything it sent has been queued,
    // or the connection itself is gone.
    bool channel_finished() {
        if (!ssh_is_connected(session_)) return true;
        if (!ssh_channel_is_eof(channel_) && !ssh_channel_is_closed(channel_)) return false;
        return channel_buffered() == 0 || handle_dropped();
    }

    void finish() {
        disconnect();
        shared_->state.with_locked([](SharedState& s) {
            if (s.status.kind == SessionStatus::Kind::Connected) s.status = SessionStatus::closed();
        });
    }

    // Sends SSH_MSG_DISCONNECT (reason 11, by application) and closes the connection. libssh
    // writes a packet at once only if it saw the socket writable after its previous write;
    // otherwise it buffers it, and ssh_disconnect would close the socket with the message still
    // in the buffer. So flush what is pending, wait (bounded) until the socket takes data, and
    // tell libssh so. Errors are of no interest any more.
    void disconnect() {
        if (ssh_is_connected(session_)) {
            ssh_blocking_flush(session_, kFinalFlushMs);
            pollfd out{ssh_get_fd(session_), POLLOUT, 0};
            if (out.fd >= 0 && ::poll(&out, 1, kFinalFlushMs) > 0 && (out.revents & POLLOUT)) {
                ssh_set_fd_towrite(session_);
            }
        }
        ssh_disconnect(session_);
        channel_ = nullptr;  // freed with the connection
    }

    // ---- shared state and waiting --------------------------------------------------------------

    bool handle_dropped() const {
        return shared_->state.with_locked([](const SharedState& s) { return s.handle_dropped; });
    }
    bool input_empty() const {
        return shared_->state.with_locked([](const SharedState& s) { return s.input.empty(); });
    }
    bool output_has_room() const {
        return shared_->state.with_locked([](const SharedState& s) {
            return !s.handle_dropped && s.output.size() < kSshOutputChunks;
        });
    }

    // Sleeps until the socket is ready for `socket_events`, the UI side bumps the wake-up
    // counter, or the timeout passes. Returns the socket's ready events.
    short wait(short socket_events, int timeout_ms) {
        const int fd = ssh_get_fd(session_);
        std::array<pollfd, 2> fds{
            {{wake_fd_, POLLIN, 0}, {socket_events && fd >= 0 ? fd : -1, socket_events, 0}}};
        if (::poll(fds.data(), fds.size(), timeout_ms) <= 0) return 0;
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto got = ::read(wake_fd_, &count, sizeof count);
        }
        return fds[1].revents;
    }

    // The worker's ends of both queues close: undelivered input is dropped unanswered.
    void close_queues() {
        std::deque<detail::SshInput> undelivered = shared_->state.with_locked([](SharedState& s) {
            s.worker_ended = true;
            return std::exchange(s.input, {});
        });
        pending_input_.reset();
        // `undelivered` answers its acknowledgements as dropped here, outside the state lock.
    }

    std::shared_ptr<SshShared> shared_;
    SshStartParams params_;
    int wake_fd_;
    ssh_session session_ = nullptr;
    ssh_channel channel_ = nullptr;
    bool abandoned_ = false;
    std::optional<detail::SshInput> pending_input_;
    std::size_t pending_offset_ = 0;
    Clock::time_point last_activity_;
    std::array<std::uint8_t, kReadChunk> read_buffer_{};
};

std::expected<void, std::string> check_input(SshShared& shared, std::span<const std::uint8_t> bytes,
                                             detail::SshAckSender ack) {
    if (bytes.empty()) return std::unexpected(std::string("SSH input cannot be empty"));
    if (bytes.size() > kSshMaxInputBytes) {
        return std::unexpected(std::string("SSH input exceeds the 64 KiB per-operation limit"));
    }
    auto refusal = shared.state.with_locked([&](SharedState& s) -> std::optional<std::string> {
        if (s.input.size() >= kSshInputItems) {
            return "SSH input is busy; wait for the remote session to catch up";
        }
        if (s.worker_ended) return "SSH session input channel is closed";
        s.input.push_back({std::vector<std::uint8_t>(bytes.begin(), bytes.end()), std::move(ack)});
        return std::nullopt;
    });
    if (refusal) return std::unexpected(std::move(*refusal));
    shared.wake();
    return {};
}

}  // namespace

SshAck SshAckReceiver::poll() const {
    return slot_->ack.with_locked([](const SshAck& ack) { return ack; });
}

SshSession::SshSession(std::shared_ptr<detail::SshShared> shared) : shared_(std::move(shared)) {}

SshSession::~SshSession() {
    shared_->state.with_locked([](SharedState& s) {
        s.handle_dropped = true;
        s.output.clear();
    });
    shared_->wake();
}

std::expected<std::unique_ptr<SshSession>, std::string> start_ssh_session(SshStartParams params) {
    auto shared = std::make_shared<SshShared>();
    auto session = std::make_unique<SshSession>(shared);
    shared->wake_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (shared->wake_fd < 0) {
        const std::string text = std::strerror(errno);
        shared->state.with_locked([&](SharedState& s) {
            s.status = SessionStatus::failed("runtime: " + text);
            s.worker_ended = true;
        });
        return session;
    }
    try {
        std::thread([shared, params = std::move(params)]() mutable {
            pthread_setname_np(pthread_self(), "remote-ssh");
            Worker(std::move(shared), std::move(params)).run();
        }).detach();
    } catch (const std::system_error& error) {
        return std::unexpected(error.code().message());
    }
    return session;
}

std::expected<void, std::string> send_ssh_input(SshSession& session,
                                                std::span<const std::uint8_t> bytes) {
    return check_input(SshSessionAccess::shared(session), bytes, {});
}

std::expected<SshAckReceiver, std::string> send_ssh_input_acknowledged(
    SshSession& session, std::span<const std::uint8_t> bytes) {
    auto slot = std::make_shared<detail::SshAckSlot>();
    if (auto queued =
            check_input(SshSessionAccess::shared(session), bytes, detail::SshAckSender(slot));
        !queued) {
        return std::unexpected(std::move(queued.error()));
    }
    return SshAckReceiver(std::move(slot));
}

std::vector<std::vector<std::uint8_t>> take_ssh_output(SshSession& session) {
    SshShared& shared = SshSessionAccess::shared(session);
    auto chunks =
        shared.state.with_locked([](SharedState& s) { return std::exchange(s.output, {}); });
    if (!chunks.empty()) shared.wake();  // room again: the worker may read the channel
    return {std::make_move_iterator(chunks.begin()), std::make_move_iterator(chunks.end())};
}

bool pump_ssh_output(SshSession& session) {
    const auto chunks = take_ssh_output(session);
    Terminal& terminal = SshSessionAccess::terminal(session);
    for (const auto& chunk : chunks) terminal.feed(chunk);
    return !chunks.empty();
}

SessionStatus ssh_status(const SshSession& session) {
    return SshSessionAccess::shared(session).state.with_locked(
        [](const SharedState& s) { return s.status; });
}

bool ssh_accepts_input(const SshSession& session) {
    return SshSessionAccess::shared(session).state.with_locked([](const SharedState& s) {
        return s.status.kind == SessionStatus::Kind::Connected && !s.worker_ended;
    });
}

std::optional<HostKeyCheck> ssh_observation(const SshSession& session) {
    return SshSessionAccess::shared(session).state.with_locked(
        [](const SharedState& s) { return s.observation; });
}

std::size_t ssh_output_waiting(const SshSession& session) {
    return SshSessionAccess::shared(session).state.with_locked(
        [](const SharedState& s) { return s.output.size(); });
}

}  // namespace remote
