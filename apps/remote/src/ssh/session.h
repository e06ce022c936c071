#pragma once
// One interactive SSH shell: a "remote-ssh" worker thread connects, checks the host key, signs in,
// opens an 80 x 24 pty with a shell and then moves bytes through two bounded queues.
// Threads: every function here runs on the UI thread and never blocks. The worker shares with it
// only the status, the queues and the host-key observation, each touched under a short lock.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "session_status.h"
#include "ssh/credentials.h"
#include "ssh/known_hosts.h"
#include "vt/terminal.h"

namespace remote {

inline constexpr std::uint16_t kSshTerminalCols = 80;
inline constexpr std::uint16_t kSshTerminalRows = 24;
inline constexpr std::size_t kSshOutputChunks = 128;  // chunks waiting before reading stops
inline constexpr std::size_t kSshInputItems = 256;    // queued inputs before refusing more
inline constexpr std::size_t kSshMaxInputBytes = 65536;

struct SshStartParams {
    std::string host;  // the profile's host exactly as stored; also the pin's key
    std::uint16_t port = 22;
    std::string login;
    SshCredentials credentials;
    std::filesystem::path store_path;  // the host-key store, already resolved
    // The session closes after this long without any byte sent or received.
    std::chrono::milliseconds inactivity_limit = std::chrono::hours(1);
};

namespace detail {
struct SshShared;
struct SshAckSlot;
}  // namespace detail

// What became of one acknowledged input.
enum class SshAckState {
    Pending,    // not written yet
    Delivered,  // written to the SSH channel
    Failed,     // the write failed; `error` says why (the session fails with the same text)
    Dropped,    // the session ended before the input was written; no answer will come
};

struct SshAck {
    SshAckState state = SshAckState::Pending;
    std::string error;
};

// Receiving end of a one-shot acknowledgement; polled, never waited on.
class SshAckReceiver {
  public:
    explicit SshAckReceiver(std::shared_ptr<detail::SshAckSlot> slot) : slot_(std::move(slot)) {}
    [[nodiscard]] SshAck poll() const;

  private:
    std::shared_ptr<detail::SshAckSlot> slot_;
};

// The handle owned by the session coordinator. Dropping it closes both queues; the worker then
// sends end-of-file and a disconnect and ends by itself (it is never joined).
class SshSession {
  public:
    SshSession(std::shared_ptr<detail::SshShared> shared);
    ~SshSession();
    SshSession(const SshSession&) = delete;
    SshSession& operator=(const SshSession&) = delete;

    [[nodiscard]] const Terminal& terminal() const { return terminal_; }

  private:
    friend struct SshSessionAccess;
    std::shared_ptr<detail::SshShared> shared_;
    Terminal terminal_{kSshTerminalCols, kSshTerminalRows};
};

// Starts the worker thread; fails only when the thread cannot be started.
[[nodiscard]] std::expected<std::unique_ptr<SshSession>, std::string> start_ssh_session(
    SshStartParams params);

// Queue 1 to 65,536 bytes without waiting; refusals leave the session untouched.
[[nodiscard]] std::expected<void, std::string> send_ssh_input(SshSession& session,
                                                              std::span<const std::uint8_t> bytes);
[[nodiscard]] std::expected<SshAckReceiver, std::string> send_ssh_input_acknowledged(
    SshSession& session, std::span<const std::uint8_t> bytes);

// Feeds every waiting output chunk, in order, to the session's terminal; true when any was taken.
bool pump_ssh_output(SshSession& session);

[[nodiscard]] SessionStatus ssh_status(const SshSession& session);
// True while the shell is up and the worker still takes input.
[[nodiscard]] bool ssh_accepts_input(const SshSession& session);
// The last refused host key of this session's handshake, if any.
[[nodiscard]] std::optional<HostKeyCheck> ssh_observation(const SshSession& session);

// The raw side of the output queue, for measurements and tests that need the bytes themselves.
[[nodiscard]] std::size_t ssh_output_waiting(const SshSession& session);
[[nodiscard]] std::vector<std::vector<std::uint8_t>> take_ssh_output(SshSession& session);

}  // namespace remote
