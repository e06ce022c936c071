#pragma once
// Device-private SSH host-key pins: where the pin file lives, the permission rules guarding it,
// its JSON format, key fingerprints, and the check, pin and forget operations.
// Threads: no state is kept in memory; every call reads (and a mutation rewrites) the file afresh,
// so any thread may call any function. Writes are atomic whole-file replacements; no file lock.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace remote {

// A server key as pinned and shown: its SSH algorithm name and "SHA256:" fingerprint.
// Equal only when both texts are equal byte for byte.
struct HostKeyIdentity {
    std::string algorithm;
    std::string fingerprint;
    friend bool operator==(const HostKeyIdentity&, const HostKeyIdentity&) = default;
};

struct KnownHostEntry {
    std::string host;  // exactly as the profile stores it; compared without case folding
    std::uint16_t port = 0;
    HostKeyIdentity identity;
    friend bool operator==(const KnownHostEntry&, const KnownHostEntry&) = default;
};

struct KnownHosts {
    std::vector<KnownHostEntry> entries;  // insertion order; new pins are appended
    friend bool operator==(const KnownHosts&, const KnownHosts&) = default;
};

// How a presented server key relates to the pins.
struct HostKeyCheck {
    struct Trusted {
        friend bool operator==(const Trusted&, const Trusted&) = default;
    };
    struct Unpinned {
        HostKeyIdentity observed;
        friend bool operator==(const Unpinned&, const Unpinned&) = default;
    };
    struct Changed {
        HostKeyIdentity expected;
        HostKeyIdentity observed;
        friend bool operator==(const Changed&, const Changed&) = default;
    };
    struct StoreError {
        std::string message;
        friend bool operator==(const StoreError&, const StoreError&) = default;
    };
    std::variant<Trusted, Unpinned, Changed, StoreError> value;
    friend bool operator==(const HostKeyCheck&, const HostKeyCheck&) = default;
};

// The store file: $REMOTE_SSH_KNOWN_HOSTS, else known-hosts.json in
// ($XDG_STATE_HOME or $HOME/.local/state)/vorn/remote, creating that directory (0700) if missing.
[[nodiscard]] std::expected<std::filesystem::path, std::string> resolve_store_path();

// A missing file is an empty store. Any malformed content makes the whole file unreadable.
[[nodiscard]] std::expected<KnownHosts, std::string> load_known_hosts(
    const std::filesystem::path& path);
// Replaces the file atomically with mode 0600.
[[nodiscard]] std::expected<void, std::string> save_known_hosts(const std::filesystem::path& path,
                                                                const KnownHosts& hosts);

// The file's text form, without the path and permission rules (also fed by the fuzzer).
[[nodiscard]] std::expected<KnownHosts, std::string> parse_known_hosts(std::string_view text);
[[nodiscard]] std::expected<std::string, std::string> format_known_hosts(const KnownHosts& hosts);

// `key_blob` is the key's SSH wire encoding (the base64 part of an OpenSSH .pub line, decoded).
[[nodiscard]] HostKeyIdentity host_key_identity(std::string_view algorithm,
                                                std::span<const std::uint8_t> key_blob);

// Classifies by the first entry with this exact host and port; never returns StoreError
// (a failed load is wrapped by the caller).
[[nodiscard]] HostKeyCheck check_host_key(const KnownHosts& hosts, std::string_view host,
                                          std::uint16_t port, const HostKeyIdentity& observed);

// Pins `identity`; pinning the identity already pinned writes nothing, a different one is refused.
[[nodiscard]] std::expected<void, std::string> pin_host_key(const std::filesystem::path& path,
                                                            std::string_view host,
                                                            std::uint16_t port,
                                                            const HostKeyIdentity& identity);
// Removes every pin of this host and port; true when one was removed (nothing is written
// otherwise).
[[nodiscard]] std::expected<bool, std::string> forget_host_key(const std::filesystem::path& path,
                                                               std::string_view host,
                                                               std::uint16_t port);

}  // namespace remote
