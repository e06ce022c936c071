#pragma once
// Turning the view's keyboard and pointer events into VNC input: the key-to-keysym table, the
// mapping of view positions onto the remote framebuffer and the button mask. Pure; any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "rfb/session.h"

namespace remote {

// What the view knows about a pressed key: the toolkit's name for a named key ("Enter",
// "ArrowLeft", "Home" …; empty for character keys) and the text the key produced.
struct KeyDescription {
    std::string_view named;
    std::string_view text;
};

// The X11 keysym a key press sends, whatever modifiers are held; nothing for keys that send
// nothing (modifiers, named keys outside the table, keys without text).
std::optional<std::uint32_t> keysym_for_key(const KeyDescription& key);

// A key press is sent as a press immediately followed by its release: no key stays down.
std::array<VncInput, 2> key_press_inputs(std::uint32_t keysym);

// Where the view last drew the picture, in view coordinates.
struct SurfaceRect {
    double left = 0, top = 0, right = 0, bottom = 0;
};

// The framebuffer position under view position (px, py), or nothing outside the picture.
std::optional<std::pair<std::uint16_t, std::uint16_t>> map_pointer(
    double px, double py, const SurfaceRect& surface,
    std::optional<std::pair<std::uint16_t, std::uint16_t>> frame);

enum class PointerButton { Primary, Middle, Secondary, Other };

// The mask after a press or release: primary bit 0, middle bit 1, secondary bit 2.
std::uint8_t update_button_mask(std::uint8_t mask, PointerButton button, bool pressed);

}  // namespace remote
