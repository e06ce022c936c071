#include "vorn/ui/endpoint_id.h"

#include <sodium.h>

#include <cstdio>
#include <cstdlib>

namespace vorn_ui::fabric {
namespace {

void ensure_sodium() {
    // sodium_init is idempotent and thread-safe; it only fails when no random source exists.
    static const bool ready = sodium_init() >= 0;
    if (!ready) {
        std::fputs("vorn: libsodium could not be initialised\n", stderr);
        std::abort();
    }
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::expected<EndpointId, std::string> EndpointId::parse(std::string_view text) {
    static_assert(crypto_core_ed25519_BYTES == 32);
    if (text.size() != 64) {
        return std::unexpected("an endpoint id is 64 hexadecimal digits");
    }
    Bytes bytes{};
    for (std::size_t i = 0; i < 64; i += 2) {
        const int hi = hex_value(text[i]);
        const int lo = hex_value(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return std::unexpected("an endpoint id is 64 hexadecimal digits");
        }
        bytes[i / 2] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    ensure_sodium();
    // Rejects non-canonical encodings, points off the curve and small-order points, none of
    // which can be a device's public key.
    if (crypto_core_ed25519_is_valid_point(bytes.data()) != 1) {
        return std::unexpected("the endpoint id is not a valid device public key");
    }
    return EndpointId(bytes);
}

EndpointId EndpointId::from_seed(const Bytes& seed) {
    static_assert(crypto_sign_SEEDBYTES == 32 && crypto_sign_PUBLICKEYBYTES == 32);
    ensure_sodium();
    Bytes public_key{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secret_key{};
    crypto_sign_seed_keypair(public_key.data(), secret_key.data(), seed.data());
    sodium_memzero(secret_key.data(), secret_key.size());
    return EndpointId(public_key);
}

std::string EndpointId::to_string() const {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(64);
    for (std::uint8_t b : bytes_) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

}  // namespace vorn_ui::fabric
