#pragma once
// Reading an SSH private key file for public-key sign-in, with texts that say what went wrong.
// Threads: no shared state; called on the session's worker thread.

#include <libssh/libssh.h>

#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace remote {

struct SshKeyDeleter {
    void operator()(ssh_key key) const { ssh_key_free(key); }
};
using SshKeyHandle = std::unique_ptr<std::remove_pointer_t<ssh_key>, SshKeyDeleter>;

// Never prompts: an encrypted key without a passphrase is an error. The error is the reason
// alone, without the path.
[[nodiscard]] std::expected<SshKeyHandle, std::string> load_private_key(
    const std::filesystem::path& path, const std::optional<std::string>& passphrase);

}  // namespace remote
