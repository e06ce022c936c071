#pragma once
// Connection ids: random version-4 UUIDs, printed in the canonical 8-4-4-4-12 lower-case form and
// read back from any of the usual textual forms. Plain value type; safe to use from any thread.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace remote {

class Uuid {
  public:
    using Bytes = std::array<std::uint8_t, 16>;

    // The nil UUID (all zero).
    constexpr Uuid() = default;
    constexpr explicit Uuid(const Bytes& bytes) : bytes_(bytes) {}

    // A fresh version-4 UUID from the kernel's random source.
    [[nodiscard]] static Uuid random();

    // Accepts "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in either case, 32 digits without hyphens,
    // either of those in braces, and the hyphenated form after "urn:uuid:". Nothing else.
    [[nodiscard]] static std::optional<Uuid> parse(std::string_view text);

    // 36 lower-case characters, 8-4-4-4-12.
    [[nodiscard]] std::string to_string() const;

    [[nodiscard]] constexpr const Bytes& bytes() const { return bytes_; }
    [[nodiscard]] constexpr bool is_nil() const { return bytes_ == Bytes{}; }

    friend constexpr auto operator<=>(const Uuid&, const Uuid&) = default;
    friend constexpr bool operator==(const Uuid&, const Uuid&) = default;

  private:
    Bytes bytes_{};
};

}  // namespace remote

template <>
struct std::hash<remote::Uuid> {
    std::size_t operator()(const remote::Uuid& id) const noexcept {
        // The bytes are random for every id we create, so folding them is a good hash.
        std::size_t h = 0;
        for (std::uint8_t b : id.bytes()) h = h * 131 + b;
        return h;
    }
};
