#pragma once
// Turning the view's keyboard and pointer events into VNC input: the key-to-keysym table, the
// mapping of view positions onto the remote framebuffer and the button mask. Pure; any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "rfb/session.h"
#include "vorn/ui/input.h"

namespace remote {

// The X11 keysym a key sends, whatever modifiers are held: the table for Enter, Tab, Space,
// Backspace, Delete, Escape and the arrows, otherwise the first character of the key's text;
// nothing for keys without text (modifiers, Home, End, F1 …).
std::optional<std::uint32_t> keysym_for_key(const vorn_ui::KeyEvent& key);

// A key press is sent as a press immediately followed by its release, so no key stays down on
// the server; releases and keys without a keysym send nothing.
std::vector<VncInput> inputs_for_key(const vorn_ui::KeyEvent& key);

// Where the view last drew the picture, in view coordinates.
struct SurfaceRect {
    double left = 0, top = 0, right = 0, bottom = 0;
};

// The framebuffer position under view position (px, py), or nothing outside the picture.
std::optional<std::pair<std::uint16_t, std::uint16_t>> map_pointer(
    double px, double py, const SurfaceRect& surface,
    std::optional<std::pair<std::uint16_t, std::uint16_t>> frame);

// The mask after a press or release: primary bit 0, middle bit 1, secondary bit 2; other
// buttons change nothing.
std::uint8_t update_button_mask(std::uint8_t mask, vorn_ui::PointerButton button, bool pressed);

}  // namespace remote
