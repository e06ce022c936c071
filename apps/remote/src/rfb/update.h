#pragma once
// Applying one FramebufferUpdate message to the framebuffer: the rectangle framing, the limits and
// the dispatch to the decoder of each encoding. Session thread only.

#include <cstdint>

#include "rfb/framebuffer.h"
#include "rfb/messages.h"
#include "rfb/stream.h"

namespace remote {

inline constexpr std::uint16_t kMaxRectsPerUpdate = 4096;

// Reads the rest of a FramebufferUpdate (its type byte already read) and applies it. Returns the
// number of rectangles; on failure the generation is unchanged and nothing must be published.
[[nodiscard]] RfbResult<std::uint16_t> apply_update(RfbReader& in, Framebuffer& fb,
                                                    const PixelFormat& format);

}  // namespace remote
