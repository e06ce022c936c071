#include "ssh/credentials.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string_view>

namespace remote {
namespace {

std::optional<std::string> env_value(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, cp = lead & 0x1F, min = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, cp = lead & 0x0F, min = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, cp = lead & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i <= extra) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

bool metadata_readable(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::filesystem::path default_key_dir() {
    // Without HOME the keys are looked up relative to the working directory.
    const auto home = env_value("HOME");
    return home ? std::filesystem::path(*home) / ".ssh" : std::filesystem::path(".ssh");
}

}  // namespace

std::expected<SshCredentials, std::string> load_ssh_credentials(AuthMethod method) {
    switch (method) {
        case AuthMethod::Password: {
            auto password = env_value("REMOTE_SSH_PASSWORD");
            if (!password || !is_valid_utf8(*password)) {
                return std::unexpected("no SSH password: set REMOTE_SSH_PASSWORD");
            }
            return SshPasswordCredentials{std::move(*password)};
        }
        case AuthMethod::PublicKey: {
            SshKeyCredentials key;
            if (auto explicit_key = env_value("REMOTE_SSH_KEY")) {
                key.key_file = std::move(*explicit_key);
            } else {
                const auto dir = default_key_dir();
                for (const char* name : {"id_ed25519", "id_ecdsa"}) {
                    if (metadata_readable(dir / name)) {
                        key.key_file = dir / name;
                        break;
                    }
                }
                if (key.key_file.empty()) {
                    return std::unexpected(
                        "no SSH key: set REMOTE_SSH_KEY or add ~/.ssh/id_ed25519");
                }
            }
            key.passphrase = env_value("REMOTE_SSH_KEY_PASSPHRASE");
            return key;
        }
        case AuthMethod::DeviceIdentity:
            break;
    }
    return std::unexpected("SSH sign-in needs a password or a key, not a device identity");
}

}  // namespace remote
