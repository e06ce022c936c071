#pragma once
// SSH credentials, taken from the environment when a session starts and never stored:
// a password, or a private key file with an optional passphrase.
// Threads: reads process-wide environment variables; call from the UI thread.

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>

#include "profiles/profile.h"

namespace remote {

struct SshPasswordCredentials {
    std::string password;  // may be empty: an empty password is still sent
    friend bool operator==(const SshPasswordCredentials&, const SshPasswordCredentials&) = default;
};

struct SshKeyCredentials {
    std::filesystem::path key_file;         // not checked here; read when the session authenticates
    std::optional<std::string> passphrase;  // absent when the key is used without one
    friend bool operator==(const SshKeyCredentials&, const SshKeyCredentials&) = default;
};

using SshCredentials = std::variant<SshPasswordCredentials, SshKeyCredentials>;

// Password: REMOTE_SSH_PASSWORD. Public key: REMOTE_SSH_KEY, else the first existing of
// $HOME/.ssh/id_ed25519 and $HOME/.ssh/id_ecdsa (relative to the working directory without HOME),
// with REMOTE_SSH_KEY_PASSPHRASE when set.
[[nodiscard]] std::expected<SshCredentials, std::string> load_ssh_credentials(AuthMethod method);

}  // namespace remote
