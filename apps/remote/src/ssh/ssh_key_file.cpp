#include "ssh/ssh_key_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace remote {
namespace {

// Far above any real private key; keeps a mistaken path (a disk image, a device) from being
// read whole.
constexpr std::size_t kMaxKeyFileBytes = 1 << 20;

std::expected<std::string, std::string> read_key_file(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::unexpected(std::string(std::strerror(errno)));
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return std::unexpected(std::string(std::strerror(error)));
        }
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > kMaxKeyFileBytes) {
            ::close(fd);
            return std::unexpected(std::string("the file is too large to be a private key"));
        }
    }
    ::close(fd);
    return text;
}

// Asked for a passphrase that was not given: refuse instead of prompting on a terminal.
int refuse_passphrase(const char*, char* buf, std::size_t len, int, int, void*) {
    if (len > 0) buf[0] = '\0';
    return -1;
}

}  // namespace

std::expected<SshKeyHandle, std::string> load_private_key(
    const std::filesystem::path& path, const std::optional<std::string>& passphrase) {
    auto text = read_key_file(path);
    if (!text) return std::unexpected(std::move(text.error()));
    if (text->find('\0') != std::string::npos) {
        return std::unexpected(std::string("the file is not a private key"));
    }
    ssh_key key = nullptr;
    const int rc =
        ssh_pki_import_privkey_base64(text->c_str(), passphrase ? passphrase->c_str() : nullptr,
                                      passphrase ? nullptr : refuse_passphrase, nullptr, &key);
    if (rc != SSH_OK || key == nullptr) {
        return std::unexpected(std::string(
            passphrase ? "cannot decode the private key: wrong passphrase or unsupported format"
                       : "cannot decode the private key: unsupported format, or it is encrypted "
                         "and REMOTE_SSH_KEY_PASSPHRASE is not set"));
    }
    return SshKeyHandle(key);
}

}  // namespace remote
