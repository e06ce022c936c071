#include "ssh/known_hosts.h"

#include "json/strict_json.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <system_error>
#include <utility>

namespace remote {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kStoreLabel = "SSH host-key store";
constexpr std::string_view kParentLabel = "SSH host-key store parent";
constexpr std::string_view kFileName = "known-hosts.json";

std::string os_error(int err) {
    return std::error_code(err, std::generic_category()).message();
}

using json::Json;
using json::invalid_type;

std::expected<std::string, std::string> as_string(const Json& v) {
    if (v.kind != Json::Kind::String) return std::unexpected(invalid_type(v, "a string"));
    return v.text;
}

std::expected<std::uint16_t, std::string> as_port(const Json& v) {
    if (v.kind == Json::Kind::Unsigned) {
        if (v.unsigned_integer > 65535) {
            return std::unexpected(json::invalid_value(v, "u16"));
        }
        return static_cast<std::uint16_t>(v.unsigned_integer);
    }
    if (v.kind == Json::Kind::Integer) {
        // The parser reports "-0" as a signed integer; it is still the number 0.
        if (v.integer == 0) return std::uint16_t{0};
        return std::unexpected(json::invalid_value(v, "u16"));
    }
    return std::unexpected(invalid_type(v, "u16"));
}

// Reads the named members of an object in document order; members not named are skipped, a
// named one given twice or missing is refused.
template <std::size_t N>
std::expected<void, std::string> read_fields(
    const Json& object, std::string_view what, const std::array<std::string_view, N>& names,
    const std::function<std::expected<void, std::string>(std::size_t, const Json&)>& field) {
    if (object.kind != Json::Kind::Object) {
        return std::unexpected(invalid_type(object, what));
    }
    std::array<bool, N> seen{};
    for (const auto& [name, value] : object.members) {
        auto it = std::ranges::find(names, name);
        if (it == names.end()) continue;
        auto index = static_cast<std::size_t>(it - names.begin());
        if (seen[index]) return std::unexpected("duplicate field `" + name + "`");
        seen[index] = true;
        if (auto r = field(index, value); !r) return r;
    }
    for (std::size_t i = 0; i < N; ++i) {
        if (!seen[i]) return std::unexpected("missing field `" + std::string(names[i]) + "`");
    }
    return {};
}

std::expected<HostKeyIdentity, std::string> read_identity(const Json& v) {
    HostKeyIdentity identity;
    auto r =
        read_fields<2>(v, "struct HostKeyIdentity", {"algorithm", "fingerprint"},
                       [&](std::size_t i, const Json& value) -> std::expected<void, std::string> {
                           auto text = as_string(value);
                           if (!text) return std::unexpected(text.error());
                           (i == 0 ? identity.algorithm : identity.fingerprint) = *text;
                           return {};
                       });
    if (!r) return std::unexpected(r.error());
    return identity;
}

std::expected<KnownHostEntry, std::string> read_entry(const Json& v) {
    KnownHostEntry entry;
    auto r =
        read_fields<3>(v, "struct KnownHostEntry", {"host", "port", "identity"},
                       [&](std::size_t i, const Json& value) -> std::expected<void, std::string> {
                           if (i == 0) {
                               auto host = as_string(value);
                               if (!host) return std::unexpected(host.error());
                               entry.host = *host;
                           } else if (i == 1) {
                               auto port = as_port(value);
                               if (!port) return std::unexpected(port.error());
                               entry.port = *port;
                           } else {
                               auto identity = read_identity(value);
                               if (!identity) return std::unexpected(identity.error());
                               entry.identity = *identity;
                           }
                           return {};
                       });
    if (!r) return std::unexpected(r.error());
    return entry;
}

// ---------------------------------------------------------------------------------------------
// Path rules. Every look is an lstat, so a symbolic link is judged as a link, never followed.

std::expected<void, std::string> privacy_rule(const struct stat& st, std::string_view label) {
    if ((st.st_mode & 077) != 0) {
        return std::unexpected(std::string(label) +
                               " must not be accessible to group or other users");
    }
    return {};
}

std::expected<void, std::string> directory_rule(const fs::path& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return std::unexpected(os_error(errno));
    if (!S_ISDIR(st.st_mode)) {
        return std::unexpected(std::string(kParentLabel) + " must be a real directory");
    }
    return privacy_rule(st, kParentLabel);
}

std::expected<void, std::string> file_rule(const fs::path& file) {
    fs::path parent = file.parent_path();
    if (parent.empty()) {
        return std::unexpected(std::string(kStoreLabel) + " has no private parent directory");
    }
    if (auto r = directory_rule(parent); !r) return r;
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0) {
        if (errno == ENOENT) return {};
        return std::unexpected(os_error(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        return std::unexpected(std::string(kStoreLabel) + " must be a regular file");
    }
    return privacy_rule(st, kStoreLabel);
}

std::string env_or_empty(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// Writes `bytes` to a fresh file beside `target` and renames it over `target`, syncing the file
// before the rename and the directory after it, so a reader (or a crash) sees the old content
// or the new, never a mix.
std::expected<void, std::string> replace_file_atomically(const fs::path& target,
                                                         std::string_view bytes) {
    const fs::path dir = target.parent_path();
    std::string temp_name(".");
    temp_name.append(target.filename().string()).append(".XXXXXX");
    std::string temp = (dir / temp_name).string();
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return std::unexpected(os_error(errno));
    auto abandon = [&](int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        return std::unexpected(os_error(err));
    };
    if (::fchmod(fd, 0600) != 0) return abandon(errno);
    for (std::size_t written = 0; written < bytes.size();) {
        ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return abandon(errno);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) return abandon(errno);
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return std::unexpected(os_error(err));
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return std::unexpected(os_error(err));
    }
    int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) return std::unexpected(os_error(errno));
    int sync_result = ::fsync(dir_fd);
    int err = errno;
    ::close(dir_fd);
    if (sync_result != 0) return std::unexpected(os_error(err));
    return {};
}

std::expected<std::string, std::string> read_file(const fs::path& path, bool& missing) {
    missing = false;
    // The file was checked just before, but may have been swapped since: never follow a link
    // and never wait on a FIFO, and look again at what was actually opened.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            missing = true;
            return std::string();
        }
        if (errno == ELOOP) {
            return std::unexpected(std::string(kStoreLabel) + " must be a regular file");
        }
        return std::unexpected(os_error(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::unexpected(std::string(kStoreLabel) + " must be a regular file");
    }
    std::string content;
    std::array<char, 8192> buffer{};
    for (;;) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            return std::unexpected(os_error(err));
        }
        if (n == 0) break;
        content.append(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    return content;
}

}  // namespace

std::expected<fs::path, std::string> resolve_store_path() {
    if (const char* explicit_path = std::getenv("REMOTE_SSH_KNOWN_HOSTS")) {
        fs::path file(explicit_path);
        if (auto r = file_rule(file); !r) return std::unexpected(r.error());
        return file;
    }
    fs::path state = env_or_empty("XDG_STATE_HOME");
    if (state.empty()) {
        // An empty HOME would put the store under the working directory; treat it as absent.
        std::string home = env_or_empty("HOME");
        if (home.empty()) {
            return std::unexpected(
                std::string("no private state directory is available for SSH host trust"));
        }
        state = fs::path(home) / ".local" / "state";
    }
    const fs::path dir = state / "vorn" / "remote";
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        if (errno != ENOENT) return std::unexpected(os_error(errno));
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (ec) return std::unexpected(ec.message());
        if (::chmod(dir.c_str(), 0700) != 0) return std::unexpected(os_error(errno));
    }
    if (auto r = directory_rule(dir); !r) return std::unexpected(r.error());
    fs::path file = dir / kFileName;
    if (auto r = file_rule(file); !r) return std::unexpected(r.error());
    return file;
}

std::expected<KnownHosts, std::string> parse_known_hosts(std::string_view text) {
    auto tree = json::parse(text);
    if (!tree) return std::unexpected(tree.error());
    KnownHosts hosts;
    auto r =
        read_fields<1>(*tree, "struct KnownHosts", {"entries"},
                       [&](std::size_t, const Json& value) -> std::expected<void, std::string> {
                           if (value.kind != Json::Kind::Array) {
                               return std::unexpected(invalid_type(value, "a sequence"));
                           }
                           for (const Json& item : value.items) {
                               auto entry = read_entry(item);
                               if (!entry) return std::unexpected(entry.error());
                               hosts.entries.push_back(std::move(*entry));
                           }
                           return {};
                       });
    if (!r) return std::unexpected(r.error());
    return hosts;
}

std::expected<std::string, std::string> format_known_hosts(const KnownHosts& hosts) {
    nlohmann::ordered_json entries = nlohmann::ordered_json::array();
    for (const KnownHostEntry& entry : hosts.entries) {
        nlohmann::ordered_json identity;
        identity["algorithm"] = entry.identity.algorithm;
        identity["fingerprint"] = entry.identity.fingerprint;
        nlohmann::ordered_json item;
        item["host"] = entry.host;
        item["port"] = entry.port;
        item["identity"] = std::move(identity);
        entries.push_back(std::move(item));
    }
    nlohmann::ordered_json root;
    root["entries"] = std::move(entries);
    try {
        return root.dump(2);
    } catch (const nlohmann::json::exception&) {
        // Only text that is not UTF-8 gets here; storing it altered would pin a different host.
        return std::unexpected(std::string("SSH host-key store entries must be valid UTF-8 text"));
    }
}

std::expected<KnownHosts, std::string> load_known_hosts(const fs::path& path) {
    if (auto r = file_rule(path); !r) return std::unexpected(r.error());
    bool missing = false;
    auto content = read_file(path, missing);
    if (!content) return std::unexpected(content.error());
    if (missing) return KnownHosts{};
    return parse_known_hosts(*content);
}

std::expected<void, std::string> save_known_hosts(const fs::path& path, const KnownHosts& hosts) {
    if (auto r = file_rule(path); !r) return r;
    auto text = format_known_hosts(hosts);
    if (!text) return std::unexpected(text.error());
    if (auto r = replace_file_atomically(path, *text); !r) return r;
    return file_rule(path);
}

HostKeyIdentity host_key_identity(std::string_view algorithm,
                                  std::span<const std::uint8_t> key_blob) {
    std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
    ::SHA256(key_blob.data(), key_blob.size(), digest.data());
    // 32 bytes encode to 44 base64 characters plus the terminating NUL.
    std::array<unsigned char, 45> encoded{};
    int length = ::EVP_EncodeBlock(encoded.data(), digest.data(), static_cast<int>(digest.size()));
    std::string base64(reinterpret_cast<const char*>(encoded.data()),
                       static_cast<std::size_t>(length));
    while (!base64.empty() && base64.back() == '=') base64.pop_back();
    return HostKeyIdentity{std::string(algorithm), "SHA256:" + base64};
}

HostKeyCheck check_host_key(const KnownHosts& hosts, std::string_view host, std::uint16_t port,
                            const HostKeyIdentity& observed) {
    auto it = std::ranges::find_if(
        hosts.entries, [&](const KnownHostEntry& e) { return e.host == host && e.port == port; });
    if (it == hosts.entries.end()) return HostKeyCheck{HostKeyCheck::Unpinned{observed}};
    if (it->identity == observed) return HostKeyCheck{HostKeyCheck::Trusted{}};
    return HostKeyCheck{HostKeyCheck::Changed{it->identity, observed}};
}

std::expected<void, std::string> pin_host_key(const fs::path& path, std::string_view host,
                                              std::uint16_t port, const HostKeyIdentity& identity) {
    auto hosts = load_known_hosts(path);
    if (!hosts) return std::unexpected(hosts.error());
    auto it = std::ranges::find_if(
        hosts->entries, [&](const KnownHostEntry& e) { return e.host == host && e.port == port; });
    if (it != hosts->entries.end()) {
        if (it->identity == identity) return {};
        return std::unexpected(std::string(
            "a different trusted host key already exists; forget it before retrusting"));
    }
    hosts->entries.push_back(KnownHostEntry{std::string(host), port, identity});
    return save_known_hosts(path, *hosts);
}

std::expected<bool, std::string> forget_host_key(const fs::path& path, std::string_view host,
                                                 std::uint16_t port) {
    auto hosts = load_known_hosts(path);
    if (!hosts) return std::unexpected(hosts.error());
    auto removed = std::erase_if(
        hosts->entries, [&](const KnownHostEntry& e) { return e.host == host && e.port == port; });
    if (removed == 0) return false;
    if (auto r = save_known_hosts(path, *hosts); !r) return std::unexpected(r.error());
    return true;
}

}  // namespace remote
