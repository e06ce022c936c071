// Runs the whole client (handshake, then the message loop with every server message and all
// three encodings) over arbitrary server bytes. Byte 0 chooses the password: bit 0 set gives
// "password", otherwise none. A few input events are waiting in the queue, as if typed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "rfb/session_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::optional<std::string> password;
    if (data[0] & 1) password = "password";
    remote::MemoryStream stream(std::span(data + 1, size - 1));
    remote::VncShared shared;
    shared.input.push_back({remote::VncInput::Key{true, 0xFF0D}});
    shared.input.push_back({remote::VncInput::Pointer{1, 10, 20}});
    auto outcome = remote::run_vnc_protocol(stream, password, shared);
    remote::finish_vnc_session(shared, outcome);
    return 0;
}
