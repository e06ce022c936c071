#include "profiles/uuid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fatal.h"

namespace remote {
namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != prefix[i]) return false;
    }
    return true;
}

// Reads 32 hex digits, with hyphens required exactly at the 8-4-4-4-12 places when `hyphenated`.
std::optional<Uuid> parse_digits(std::string_view text, bool hyphenated) {
    if (text.size() != (hyphenated ? 36u : 32u)) return std::nullopt;
    Uuid::Bytes bytes{};
    std::size_t digit = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (hyphenated && (i == 8 || i == 13 || i == 18 || i == 23)) {
            if (text[i] != '-') return std::nullopt;
            continue;
        }
        const int v = hex_value(text[i]);
        if (v < 0) return std::nullopt;
        bytes[digit / 2] = static_cast<std::uint8_t>(bytes[digit / 2] | (digit % 2 ? v : v << 4));
        ++digit;
    }
    return Uuid(bytes);
}

}  // namespace

Uuid Uuid::random() {
    Bytes bytes{};
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            fatal("the kernel's random source is unavailable");
        }
        filled += static_cast<std::size_t>(n);
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (starts_with_ignoring_case(text, "urn:uuid:")) return parse_digits(text.substr(9), true);
    if (text.size() >= 2 && text.front() == '{' && text.back() == '}') {
        text = text.substr(1, text.size() - 2);
    }
    return parse_digits(text, text.size() == 36);
}

std::string Uuid::to_string() const {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        out.push_back(kDigits[bytes_[i] >> 4]);
        out.push_back(kDigits[bytes_[i] & 0x0F]);
    }
    return out;
}

}  // namespace remote
