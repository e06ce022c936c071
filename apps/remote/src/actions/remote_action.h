#pragma once
// Persisted edits of the saved connections ("remote.action"): the value, its compact JSON payload
// and the strict decoder every replica and client shares. Changing a name or a field order here
// changes the wire format. Pure values and functions; any thread.

#include <concepts>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include <nlohmann/json.hpp>

#include "profiles/profile.h"
#include "profiles/uuid.h"
#include "vorn/actions/encoded.h"

namespace remote {

inline constexpr std::string_view kRemoteActionType = "remote.action";

struct RemoteAction {
    // The editable fields of a profile; last use, presence and the favourite flag never travel.
    struct UpsertConnection {
        Uuid id;
        std::string name;
        std::string host;
        std::uint16_t port = 0;
        std::string user;
        ConnectionKind kind = ConnectionKind::Ssh;
        AuthMethod auth = AuthMethod::Password;
        std::string group;
        friend bool operator==(const UpsertConnection&, const UpsertConnection&) = default;
    };
    struct RenameConnection {
        Uuid id;
        std::string name;
        friend bool operator==(const RenameConnection&, const RenameConnection&) = default;
    };
    struct SetFavorite {
        Uuid id;
        bool favorite = false;
        friend bool operator==(const SetFavorite&, const SetFavorite&) = default;
    };
    struct DeleteConnection {
        Uuid id;
        friend bool operator==(const DeleteConnection&, const DeleteConnection&) = default;
    };
    using Value = std::variant<UpsertConnection, RenameConnection, SetFavorite, DeleteConnection>;

    Value value;

    RemoteAction() : value(UpsertConnection{}) {}
    template <class T>
    requires(!std::same_as<std::remove_cvref_t<T>, RemoteAction> &&
             std::constructible_from<Value, T&&>) RemoteAction(T&& v)
        : value(std::forward<T>(v)) {}  // NOLINT: implicit from each variant

    friend bool operator==(const RemoteAction&, const RemoteAction&) = default;
};

// Type "remote.action" with the compact JSON payload, e.g.
// {"SetFavorite":{"id":"…","favorite":true}}.
[[nodiscard]] vorn_actions::EncodedAction encode_action(const RemoteAction& action);
// The same JSON as a tree (members in wire order).
[[nodiscard]] nlohmann::ordered_json action_json_value(const RemoteAction& action);
// The action, or the decoder's complete failure text; nothing is ever partly decoded.
[[nodiscard]] std::expected<RemoteAction, std::string> decode_action(std::string_view payload);

}  // namespace remote
