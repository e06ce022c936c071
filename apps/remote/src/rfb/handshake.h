#pragma once
// The RFB handshake from the version exchange to SetEncodings (versions 3.3, 3.7, 3.8; security
// None or VNC Authentication), plus the helpers it is made of. Runs on the session thread only.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "rfb/messages.h"
#include "rfb/stream.h"

namespace remote {

struct ServerInit {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    PixelFormat format;       // the client format now in force
    std::uint8_t minor = 0;   // negotiated version 3.<minor>: 3, 7 or 8
    std::string name;         // the desktop name, decoded (not used by the session)
};

// Runs the whole handshake over an open connection. `password` absent means the empty password.
[[nodiscard]] RfbResult<ServerInit> run_handshake(RfbReader& in, ByteSource& out,
                                                  const std::optional<std::string>& password);

// The 16-byte VNC Authentication response to `challenge` for `password`.
std::array<std::uint8_t, 16> vnc_auth_response(std::span<const std::uint8_t, 16> challenge,
                                               std::string_view password);

// UTF-8 with each invalid sequence replaced by U+FFFD.
std::string decode_utf8_lossy(std::span<const std::uint8_t> bytes);

// Longest server reason text kept; the rest of an over-long reason is never read into memory.
inline constexpr std::size_t kMaxReasonBytes = 4096;

}  // namespace remote
