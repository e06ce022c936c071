#pragma once
// The two text operations profiles need: trimming Unicode white space and a locale-independent
// lower-casing (Unicode simple case mapping). Work on UTF-8; invalid bytes pass through unchanged.

#include <cstddef>
#include <string>
#include <string_view>

namespace remote {

[[nodiscard]] std::string_view trim_unicode(std::string_view text);
[[nodiscard]] std::string lower_unicode(std::string_view text);
[[nodiscard]] char32_t simple_lowercase(char32_t code_point);
[[nodiscard]] bool is_unicode_white_space(char32_t code_point);
// Bytes taken by the first `characters` code points of `text` (an invalid byte counts as one).
[[nodiscard]] std::size_t utf8_prefix_bytes(std::string_view text, std::size_t characters);

}  // namespace remote
