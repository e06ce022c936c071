#pragma once
// UTF-8 <-> Unicode scalar values for the document's text objects, which store code points.
// Pure functions; safe from any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn_ui::doc::utf8 {

// True for U+0000..U+10FFFF except the surrogate range.
[[nodiscard]] constexpr bool is_scalar(std::uint64_t cp) {
    return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

void append(std::string& out, char32_t cp);

// nullopt when the text is not well-formed UTF-8 (overlong forms and surrogates included).
[[nodiscard]] std::optional<std::vector<char32_t>> decode(std::string_view text);

}  // namespace vorn_ui::doc::utf8
