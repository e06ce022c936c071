#include "device/key_codes.h"

#include <array>
#include <utility>

namespace remote {

namespace {

// Linux codes follow the rows of a PC keyboard, not the alphabet.
constexpr std::array<std::uint8_t, 26> kLetters = {30, 48, 46, 32, 18, 33, 34, 35, 23,
                                                   36, 37, 38, 50, 49, 24, 25, 16, 19,
                                                   31, 20, 22, 47, 17, 45, 21, 44};

constexpr std::array<std::pair<std::string_view, std::uint32_t>, 16> kNamed = {{
    {"Escape", 1},
    {"AltLeft", 56},
    {"AltRight", 100},
    {"ControlLeft", 29},
    {"ControlRight", 97},
    {"ShiftLeft", 42},
    {"ShiftRight", 54},
    {"Backspace", 14},
    {"Enter", 28},
    {"Space", 57},
    {"Tab", 15},
    {"ArrowUp", 103},
    {"ArrowDown", 108},
    {"ArrowLeft", 105},
    {"ArrowRight", 106},
    {"Digit0", 11},
}};

}  // namespace

std::optional<std::uint32_t> linux_key_code(std::string_view code) {
    if (code.size() == 4 && code.starts_with("Key") && code[3] >= 'A' && code[3] <= 'Z') {
        return kLetters[code[3] - 'A'];
    }
    if (code.size() == 6 && code.starts_with("Digit") && code[5] >= '1' && code[5] <= '9') {
        return static_cast<std::uint32_t>(code[5] - '1' + 2);
    }
    for (const auto& [name, linux_code] : kNamed) {
        if (name == code) {
            return linux_code;
        }
    }
    return std::nullopt;
}

}  // namespace remote
