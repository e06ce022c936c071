#pragma once
// The host-key check run during every SSH handshake: a server key is accepted only when it equals
// the pin for that host and port, and every refusal is worded for the user here.
// Threads: the check reads the store file and may run on any thread; the texts are pure.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "ssh/known_hosts.h"

namespace remote {

// Loads the store afresh and classifies `observed` for this host and port; a store that cannot be
// read gives StoreError with the load error, so nothing is ever trusted by accident.
[[nodiscard]] HostKeyCheck check_server_key(const std::filesystem::path& store_path,
                                            std::string_view host, std::uint16_t port,
                                            const HostKeyIdentity& observed);

// The text a refused key fails the session with; empty for Trusted, which is never refused.
[[nodiscard]] std::string host_key_failure_text(const HostKeyCheck& check, std::string_view host,
                                                std::uint16_t port);

}  // namespace remote
