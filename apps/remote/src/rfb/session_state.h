#pragma once
// What a VNC session's handle shares with its thread, and the protocol run itself, separated from
// the thread and the socket so that tests and the fuzzer can drive it over any byte source.

#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "rfb/framebuffer.h"
#include "rfb/session.h"
#include "rfb/stream.h"
#include "session_status.h"

namespace remote {

struct VncShared {
    std::mutex status_mutex;
    SessionStatus status = SessionStatus::connecting();

    FrameSlot slot;

    std::mutex input_mutex;
    std::deque<VncInput> input;
    bool input_closed = false;   // the handle was dropped
    bool thread_ended = false;   // nobody will read the queue any more
    std::atomic<bool> cancel{false};  // mirrors input_closed for reads that block

    void set_status(SessionStatus s);
    // Takes the oldest queued event, or nothing; `closed` tells whether the handle is gone.
    std::optional<VncInput> pop_input(bool& closed);
};

// The handshake and the message loop over an open connection, until the server or the handle
// ends it. Sets `Connected` after the handshake and publishes every complete picture. Returns the
// error that ended it, or success when the handle was dropped.
[[nodiscard]] RfbResult<void> run_vnc_protocol(ByteSource& connection,
                                               const std::optional<std::string>& password,
                                               VncShared& shared);

// Turns the error that ended a session into its final status.
void finish_vnc_session(VncShared& shared, const RfbResult<void>& outcome);

}  // namespace remote
