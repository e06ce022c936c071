#pragma once
// Device endpoint ids on the peer-to-peer fabric: a device's 32-byte Ed25519 public key, written
// as 64 hex digits. Plain value type; parsing and derivation are safe from any thread.

#include <array>
#include <compare>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace vorn_ui::fabric {

class EndpointId {
  public:
    using Bytes = std::array<std::uint8_t, 32>;

    // Exactly 64 hex digits (either case) whose bytes are a valid Ed25519 point; the error is a
    // user-facing sentence.
    [[nodiscard]] static std::expected<EndpointId, std::string> parse(std::string_view text);
    // The public key of a 32-byte Ed25519 secret seed.
    [[nodiscard]] static EndpointId from_seed(const Bytes& seed);

    // 64 lower-case hex digits.
    [[nodiscard]] std::string to_string() const;
    [[nodiscard]] const Bytes& bytes() const { return bytes_; }

    friend auto operator<=>(const EndpointId&, const EndpointId&) = default;
    friend bool operator==(const EndpointId&, const EndpointId&) = default;

  private:
    explicit EndpointId(const Bytes& bytes) : bytes_(bytes) {}
    Bytes bytes_{};
};

[[nodiscard]] inline std::expected<EndpointId, std::string> parse_endpoint_id(
    std::string_view text) {
    return EndpointId::parse(text);
}
[[nodiscard]] inline EndpointId endpoint_from_seed(const EndpointId::Bytes& seed) {
    return EndpointId::from_seed(seed);
}

}  // namespace vorn_ui::fabric
