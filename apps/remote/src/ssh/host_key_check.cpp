#include "ssh/host_key_check.h"

#include <fmt/format.h>

#include <type_traits>

namespace remote {

HostKeyCheck check_server_key(const std::filesystem::path& store_path, std::string_view host,
                              std::uint16_t port, const HostKeyIdentity& observed) {
    auto hosts = load_known_hosts(store_path);
    if (!hosts) return HostKeyCheck{HostKeyCheck::StoreError{std::move(hosts.error())}};
    return check_host_key(*hosts, host, port, observed);
}

std::string host_key_failure_text(const HostKeyCheck& check, std::string_view host,
                                  std::uint16_t port) {
    return std::visit(
        [&](const auto& result) -> std::string {
            using T = std::decay_t<decltype(result)>;
            if constexpr (std::is_same_v<T, HostKeyCheck::Unpinned>) {
                return fmt::format("SSH host key for {}:{} needs explicit trust: {} {}", host, port,
                                   result.observed.algorithm, result.observed.fingerprint);
            } else if constexpr (std::is_same_v<T, HostKeyCheck::Changed>) {
                return fmt::format(
                    "SSH host key changed for {}:{}. Expected {} {}; received {} {}. Connection "
                    "blocked.",
                    host, port, result.expected.algorithm, result.expected.fingerprint,
                    result.observed.algorithm, result.observed.fingerprint);
            } else if constexpr (std::is_same_v<T, HostKeyCheck::StoreError>) {
                return fmt::format("SSH host-key store is unavailable: {}", result.message);
            } else {
                return std::string();
            }
        },
        check.value);
}

}  // namespace remote
