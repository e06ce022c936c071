#pragma once
// The saved connection profile, its three small enumerations with every text form they take
// (label, document value, element-id suffix, serialised variant name) and the editable form.
// Pure values and functions; safe to use from any thread.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "profiles/uuid.h"

namespace remote {

enum class ConnectionKind : std::uint8_t { Ssh = 0, Vnc = 1, Rdp = 2, Vorn = 3 };
enum class AuthMethod : std::uint8_t { Password = 0, PublicKey = 1, DeviceIdentity = 2 };
enum class Presence : std::uint8_t { Online = 0, Offline = 1, Unknown = 2 };

inline constexpr ConnectionKind kAllKinds[] = {ConnectionKind::Ssh, ConnectionKind::Vnc,
                                               ConnectionKind::Rdp, ConnectionKind::Vorn};
// The kinds the form's chooser offers, in its order; Rdp only survives in stored profiles.
inline constexpr ConnectionKind kChooserKinds[] = {ConnectionKind::Ssh, ConnectionKind::Vnc,
                                                   ConnectionKind::Vorn};
inline constexpr AuthMethod kAllAuthMethods[] = {AuthMethod::Password, AuthMethod::PublicKey,
                                                 AuthMethod::DeviceIdentity};
inline constexpr Presence kAllPresences[] = {Presence::Online, Presence::Offline,
                                             Presence::Unknown};

struct ConnectionProfile {
    Uuid id;
    std::string name;
    std::string host;  // for Vorn profiles: the device's certified endpoint id
    std::uint16_t port = 0;
    std::string user;  // always empty for Vnc and Vorn profiles we create
    ConnectionKind kind = ConnectionKind::Ssh;
    AuthMethod auth = AuthMethod::Password;
    std::string group;
    std::string last_used = "Never";
    Presence presence = Presence::Unknown;
    bool favorite = false;

    friend bool operator==(const ConnectionProfile&, const ConnectionProfile&) = default;
};

// The editable state behind the connection form: texts exactly as typed.
struct ConnectionForm {
    std::string name;
    std::string host;
    std::string port;
    std::string user;
    std::string group;
    AuthMethod auth = AuthMethod::Password;
    ConnectionKind kind = ConnectionKind::Ssh;

    friend bool operator==(const ConnectionForm&, const ConnectionForm&) = default;
};

// ConnectionKind texts: "SSH"/"VNC"/"RDP"/"Vorn device"; short name (document value, search
// token, chooser id suffix) "SSH"/"VNC"/"RDP"/"Vorn"; serialised variant "Ssh"/"Vnc"/"Rdp"/"Vorn".
[[nodiscard]] std::string_view kind_label(ConnectionKind kind);
[[nodiscard]] std::string_view kind_short_name(ConnectionKind kind);
[[nodiscard]] std::string_view kind_variant_name(ConnectionKind kind);
// Exact, case-sensitive matches; anything else is nullopt (callers choose the default).
[[nodiscard]] std::optional<ConnectionKind> kind_from_short_name(std::string_view text);
[[nodiscard]] std::optional<ConnectionKind> kind_from_variant_name(std::string_view text);

// AuthMethod texts: label (also the document value) "Password"/"Public key"/"Device identity";
// key (chooser id suffix) "password"/"public-key"/"device-identity"; serialised variant
// "Password"/"PublicKey"/"DeviceIdentity".
[[nodiscard]] std::string_view auth_label(AuthMethod auth);
[[nodiscard]] std::string_view auth_key(AuthMethod auth);
[[nodiscard]] std::string_view auth_variant_name(AuthMethod auth);
[[nodiscard]] std::optional<AuthMethod> auth_from_label(std::string_view text);
[[nodiscard]] std::optional<AuthMethod> auth_from_key(std::string_view text);
[[nodiscard]] std::optional<AuthMethod> auth_from_variant_name(std::string_view text);

// Presence document texts "online"/"offline"/"unknown".
[[nodiscard]] std::string_view presence_text(Presence presence);
[[nodiscard]] std::optional<Presence> presence_from_text(std::string_view text);

// 22, 5900, 3389, and 0 for Vorn (no port).
[[nodiscard]] std::uint16_t default_port(ConnectionKind kind);
// The methods a kind supports, in order; the first is the kind's default.
[[nodiscard]] std::span<const AuthMethod> allowed_auth(ConnectionKind kind);
[[nodiscard]] bool auth_allowed(ConnectionKind kind, AuthMethod auth);

}  // namespace remote
