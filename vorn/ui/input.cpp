#include "vorn/ui/input.h"

#include <array>

namespace vorn_ui {
namespace {

constexpr std::array<std::string_view, 38> kNames = {
    "Enter", "Tab", "Space", "Backspace", "Escape", "Delete", "Insert",
    "ArrowUp", "ArrowDown", "ArrowLeft", "ArrowRight", "Home", "End", "PageUp", "PageDown",
    "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12",
    "Shift", "Control", "Alt", "Meta", "CapsLock", "NumLock", "ScrollLock",
    "PrintScreen", "Pause", "ContextMenu", "Unidentified",
};
static_assert(kNames.size() == static_cast<std::size_t>(NamedKey::Unidentified) + 1);

}  // namespace

std::string_view named_key_name(NamedKey key) { return kNames[static_cast<std::size_t>(key)]; }

std::optional<NamedKey> named_key_from_name(std::string_view name) {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (kNames[i] == name) return static_cast<NamedKey>(i);
    }
    return std::nullopt;
}

}  // namespace vorn_ui
