#pragma once
// Physical keys a device session forwards: the W3C "code" of a key position
// mapped to the Linux input event code of the same key. Pure function.

#include <cstdint>
#include <optional>
#include <string_view>

namespace remote {

// The Linux code for letters, digits, Escape, the left and right Alt, Control
// and Shift, Backspace, Enter, Space, Tab and the arrows; nothing for any
// other key (punctuation, function keys, Delete, Home, End, Super …), which
// is therefore never sent to a device.
[[nodiscard]] std::optional<std::uint32_t> linux_key_code(std::string_view code);

}  // namespace remote
