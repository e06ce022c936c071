#include "profiles/profile.h"

#include <array>

namespace remote {
namespace {

struct KindTexts {
    std::string_view label;
    std::string_view short_name;
    std::string_view variant;
};

// Indexed by the kind's ordinal.
constexpr std::array<KindTexts, 4> kKindTexts{{
    {"SSH", "SSH", "Ssh"},
    {"VNC", "VNC", "Vnc"},
    {"RDP", "RDP", "Rdp"},
    {"Vorn device", "Vorn", "Vorn"},
}};

struct AuthTexts {
    std::string_view label;
    std::string_view key;
    std::string_view variant;
};

constexpr std::array<AuthTexts, 3> kAuthTexts{{
    {"Password", "password", "Password"},
    {"Public key", "public-key", "PublicKey"},
    {"Device identity", "device-identity", "DeviceIdentity"},
}};

constexpr std::array<std::string_view, 3> kPresenceTexts{"online", "offline", "unknown"};

// Four 16-bit lanes, lane number = kind ordinal: 22, 5900, 3389, 0.
constexpr std::uint64_t kDefaultPorts = 22ull | 5900ull << 16 | 3389ull << 32 | 0ull << 48;

constexpr AuthMethod kSshAuth[] = {AuthMethod::Password, AuthMethod::PublicKey};
constexpr AuthMethod kPasswordOnly[] = {AuthMethod::Password};
constexpr AuthMethod kDeviceOnly[] = {AuthMethod::DeviceIdentity};

std::size_t index_of(ConnectionKind kind) {
    return static_cast<std::size_t>(kind) & 3;
}
std::size_t index_of(AuthMethod auth) {
    const auto i = static_cast<std::size_t>(auth);
    return i < kAuthTexts.size() ? i : 0;
}

template <typename Enum, typename Table, typename Field>
std::optional<Enum> find_by(const Table& table, Field field, std::string_view text) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].*field == text) return static_cast<Enum>(i);
    }
    return std::nullopt;
}

}  // namespace

std::string_view kind_label(ConnectionKind kind) {
    return kKindTexts[index_of(kind)].label;
}
std::string_view kind_short_name(ConnectionKind kind) {
    return kKindTexts[index_of(kind)].short_name;
}
std::string_view kind_variant_name(ConnectionKind kind) {
    return kKindTexts[index_of(kind)].variant;
}
std::optional<ConnectionKind> kind_from_short_name(std::string_view text) {
    return find_by<ConnectionKind>(kKindTexts, &KindTexts::short_name, text);
}
std::optional<ConnectionKind> kind_from_variant_name(std::string_view text) {
    return find_by<ConnectionKind>(kKindTexts, &KindTexts::variant, text);
}

std::string_view auth_label(AuthMethod auth) {
    return kAuthTexts[index_of(auth)].label;
}
std::string_view auth_key(AuthMethod auth) {
    return kAuthTexts[index_of(auth)].key;
}
std::string_view auth_variant_name(AuthMethod auth) {
    return kAuthTexts[index_of(auth)].variant;
}
std::optional<AuthMethod> auth_from_label(std::string_view text) {
    return find_by<AuthMethod>(kAuthTexts, &AuthTexts::label, text);
}
std::optional<AuthMethod> auth_from_key(std::string_view text) {
    return find_by<AuthMethod>(kAuthTexts, &AuthTexts::key, text);
}
std::optional<AuthMethod> auth_from_variant_name(std::string_view text) {
    return find_by<AuthMethod>(kAuthTexts, &AuthTexts::variant, text);
}

std::string_view presence_text(Presence presence) {
    const auto i = static_cast<std::size_t>(presence);
    return kPresenceTexts[i < kPresenceTexts.size() ? i : 2];
}
std::optional<Presence> presence_from_text(std::string_view text) {
    for (std::size_t i = 0; i < kPresenceTexts.size(); ++i) {
        if (kPresenceTexts[i] == text) return static_cast<Presence>(i);
    }
    return std::nullopt;
}

std::uint16_t default_port(ConnectionKind kind) {
    return static_cast<std::uint16_t>(kDefaultPorts >> (16 * index_of(kind)));
}

std::span<const AuthMethod> allowed_auth(ConnectionKind kind) {
    switch (kind) {
        case ConnectionKind::Ssh:
            return kSshAuth;
        case ConnectionKind::Vnc:
        case ConnectionKind::Rdp:
            return kPasswordOnly;
        case ConnectionKind::Vorn:
            return kDeviceOnly;
    }
    return kPasswordOnly;
}

bool auth_allowed(ConnectionKind kind, AuthMethod auth) {
    for (AuthMethod allowed : allowed_auth(kind)) {
        if (allowed == auth) return true;
    }
    return false;
}

}  // namespace remote
