#pragma once
// Key presses as the bytes a remote shell expects from a terminal: named keys in their normal
// cursor-key form, Control with a letter as its control byte, everything else as its text.
// A pure function; safe on any thread.

#include <cstdint>
#include <optional>
#include <vector>

#include "vorn/ui/input.h"

namespace remote {

// The bytes for a key press, or nothing when the terminal has no use for the event (a release,
// or a key without bytes, which then belongs to the view).
[[nodiscard]] std::optional<std::vector<std::uint8_t>> encode_key(const vorn_ui::KeyEvent& event);

}  // namespace remote
