#include <algorithm>
#include <array>
#include <functional>
#include <initializer_list>
#include <span>
#include <utility>
#include <vector>

#include "actions/remote_action.h"
#include "actions/remote_operation.h"
#include "json/strict_json.h"

namespace remote {
namespace {

using Ordered = nlohmann::ordered_json;
using Result = std::expected<void, std::string>;

using json::Json;

// ---------------------------------------------------------------------------------------------
// Decoding helpers. Texts follow one pattern: "invalid type: {what was found}, expected {what}".

std::unexpected<std::string> bad_type(const Json& v, std::string_view expected) {
    return std::unexpected(json::invalid_type(v, expected));
}

std::unexpected<std::string> bad_value(const Json& v, std::string_view expected) {
    return std::unexpected(json::invalid_value(v, expected));
}

// "`A`", "`A` or `B`", "one of `A`, `B`, `C`".
std::string expected_list(std::span<const std::string_view> names) {
    auto quoted = [](std::string_view n) {
        std::string text;
        text.reserve(n.size() + 2);
        text.append("`").append(n).append("`");
        return text;
    };
    if (names.size() == 1) return quoted(names[0]);
    if (names.size() == 2) return quoted(names[0]) + " or " + quoted(names[1]);
    std::string list = "one of ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) list += ", ";
        list += quoted(names[i]);
    }
    return list;
}

using Reader = std::function<Result(const Json&)>;

struct Field {
    std::string_view name;
    Reader read;
};

Reader text_into(std::string& out) {
    return [&out](const Json& v) -> Result {
        if (v.kind != Json::Kind::String) return bad_type(v, "a string");
        out = v.text;
        return {};
    };
}

Reader bool_into(bool& out) {
    return [&out](const Json& v) -> Result {
        if (v.kind != Json::Kind::Bool) return bad_type(v, "a boolean");
        out = v.boolean;
        return {};
    };
}

Reader port_into(std::uint16_t& out) {
    return [&out](const Json& v) -> Result {
        // The parser reports "-0" as a signed integer; it is still the number 0.
        if (v.kind == Json::Kind::Integer && v.integer == 0) {
            out = 0;
            return {};
        }
        if (v.kind == Json::Kind::Integer) return bad_value(v, "u16");
        if (v.kind != Json::Kind::Unsigned) return bad_type(v, "u16");
        if (v.unsigned_integer > 65535) return bad_value(v, "u16");
        out = static_cast<std::uint16_t>(v.unsigned_integer);
        return {};
    };
}

Reader uuid_into(Uuid& out) {
    return [&out](const Json& v) -> Result {
        if (v.kind != Json::Kind::String) return bad_type(v, "a UUID string");
        auto id = Uuid::parse(v.text);
        if (!id) return bad_value(v, "a UUID");
        out = *id;
        return {};
    };
}

// The fields of a struct, as an object keyed by field name (unknown keys skipped, each field
// exactly once) or as an array holding exactly the values in field order.
Result read_struct(const Json& v, std::string_view what, std::initializer_list<Field> fields) {
    const std::span<const Field> list(fields.begin(), fields.size());
    if (v.kind == Json::Kind::Array) {
        if (v.items.size() != list.size()) {
            return std::unexpected("invalid length " + std::to_string(v.items.size()) +
                                   ", expected " + std::string(what) + " with " +
                                   std::to_string(list.size()) +
                                   (list.size() == 1 ? " element" : " elements"));
        }
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (auto r = list[i].read(v.items[i]); !r) return r;
        }
        return {};
    }
    if (v.kind != Json::Kind::Object) return bad_type(v, what);
    std::vector<bool> seen(list.size(), false);
    for (const auto& [name, value] : v.members) {
        auto it = std::ranges::find(list, std::string_view(name), &Field::name);
        if (it == list.end()) continue;
        auto index = static_cast<std::size_t>(it - list.begin());
        if (seen[index]) return std::unexpected("duplicate field `" + name + "`");
        seen[index] = true;
        if (auto r = it->read(value); !r) return r;
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!seen[i]) return std::unexpected("missing field `" + std::string(list[i].name) + "`");
    }
    return {};
}

// Which variant a value names: a bare string, or the single key of an object (whose value then
// holds the fields; `fields` is null for the bare string).
struct VariantRef {
    std::size_t index = 0;
    const Json* fields = nullptr;
};

std::expected<VariantRef, std::string> read_variant(const Json& v, std::string_view enum_name,
                                                    std::span<const std::string_view> names) {
    std::string_view name;
    const Json* fields = nullptr;
    if (v.kind == Json::Kind::String) {
        name = v.text;
    } else if (v.kind == Json::Kind::Object) {
        if (v.members.size() != 1) {
            return std::unexpected("invalid type: map with " + std::to_string(v.members.size()) +
                                   " keys, expected enum " + std::string(enum_name) +
                                   " as a map with a single key");
        }
        name = v.members[0].key;
        fields = &v.members[0].value;
    } else {
        return bad_type(v, "enum " + std::string(enum_name));
    }
    auto it = std::ranges::find(names, name);
    if (it == names.end()) {
        return std::unexpected("unknown variant `" + std::string(name) + "`, expected " +
                               expected_list(names));
    }
    return VariantRef{static_cast<std::size_t>(it - names.begin()), fields};
}

// A variant without fields: the bare string, or an object whose single value is null.
Result unit_variant(const VariantRef& ref) {
    if (ref.fields != nullptr && ref.fields->kind != Json::Kind::Null) {
        return bad_type(*ref.fields, "unit variant");
    }
    return {};
}

Result struct_variant(const VariantRef& ref, std::string_view what,
                      std::initializer_list<Field> fields) {
    if (ref.fields == nullptr) {
        return std::unexpected("invalid type: unit variant, expected " + std::string(what));
    }
    return read_struct(*ref.fields, what, fields);
}

constexpr std::array<std::string_view, 4> kKindNames = {"Ssh", "Vnc", "Rdp", "Vorn"};
constexpr std::array<std::string_view, 3> kAuthNames = {"Password", "PublicKey", "DeviceIdentity"};

Reader kind_into(ConnectionKind& out) {
    return [&out](const Json& v) -> Result {
        auto ref = read_variant(v, "ConnectionKind", kKindNames);
        if (!ref) return std::unexpected(ref.error());
        if (auto r = unit_variant(*ref); !r) return r;
        out = *kind_from_variant_name(kKindNames[ref->index]);
        return {};
    };
}

Reader auth_into(AuthMethod& out) {
    return [&out](const Json& v) -> Result {
        auto ref = read_variant(v, "AuthMethod", kAuthNames);
        if (!ref) return std::unexpected(ref.error());
        if (auto r = unit_variant(*ref); !r) return r;
        out = *auth_from_variant_name(kAuthNames[ref->index]);
        return {};
    };
}

Reader identity_into(HostKeyIdentity& out) {
    return [&out](const Json& v) -> Result {
        return read_struct(
            v, "struct HostKeyIdentity",
            {{"algorithm", text_into(out.algorithm)}, {"fingerprint", text_into(out.fingerprint)}});
    };
}

// ---------------------------------------------------------------------------------------------
// Encoding.

constexpr std::array<std::string_view, 4> kActionNames = {"UpsertConnection", "RenameConnection",
                                                          "SetFavorite", "DeleteConnection"};
constexpr std::array<std::string_view, 8> kOperationNames = {
    "ShowConnections", "NewConnectionForm", "EditConnection",  "Connect",
    "Disconnect",      "SendText",          "TrustSshHostKey", "ForgetSshHostKey"};

Ordered tagged(std::string_view name, Ordered fields) {
    Ordered value = Ordered::object();
    value[std::string(name)] = std::move(fields);
    return value;
}

Ordered id_fields(std::string_view key, const Uuid& id) {
    Ordered fields = Ordered::object();
    fields[std::string(key)] = id.to_string();
    return fields;
}

// Compact, and never failing: text that is not UTF-8 (which no producer should hand us) has its
// bad bytes replaced by U+FFFD instead of stopping the program.
std::string compact(const Ordered& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

struct OperationJson {
    Ordered operator()(const RemoteOperation::ShowConnections&) const { return kOperationNames[0]; }
    Ordered operator()(const RemoteOperation::NewConnectionForm&) const {
        return kOperationNames[1];
    }
    Ordered operator()(const RemoteOperation::EditConnection& op) const {
        return tagged(kOperationNames[2], id_fields("connection_id", op.connection_id));
    }
    Ordered operator()(const RemoteOperation::Connect& op) const {
        return tagged(kOperationNames[3], id_fields("connection_id", op.connection_id));
    }
    Ordered operator()(const RemoteOperation::Disconnect& op) const {
        return tagged(kOperationNames[4], id_fields("connection_id", op.connection_id));
    }
    Ordered operator()(const RemoteOperation::SendText& op) const {
        Ordered fields = id_fields("connection_id", op.connection_id);
        fields["text"] = op.text;
        return tagged(kOperationNames[5], std::move(fields));
    }
    Ordered operator()(const RemoteOperation::TrustSshHostKey& op) const {
        Ordered fields = id_fields("connection_id", op.connection_id);
        Ordered observed = Ordered::object();
        observed["algorithm"] = op.observed.algorithm;
        observed["fingerprint"] = op.observed.fingerprint;
        fields["observed"] = std::move(observed);
        return tagged(kOperationNames[6], std::move(fields));
    }
    Ordered operator()(const RemoteOperation::ForgetSshHostKey& op) const {
        return tagged(kOperationNames[7], id_fields("connection_id", op.connection_id));
    }
};

std::expected<RemoteOperation, std::string> decode_operation_value(std::string_view payload) {
    auto tree = json::parse(payload);
    if (!tree) return std::unexpected(tree.error());
    auto ref = read_variant(*tree, "RemoteOperation", kOperationNames);
    if (!ref) return std::unexpected(ref.error());

    auto with_id =
        [&]<class Op>(std::string_view what) -> std::expected<RemoteOperation, std::string> {
        Op op;
        if (auto r = struct_variant(*ref, what, {{"connection_id", uuid_into(op.connection_id)}});
            !r) {
            return std::unexpected(r.error());
        }
        return op;
    };
    switch (ref->index) {
        case 0:
        case 1: {
            if (auto r = unit_variant(*ref); !r) return std::unexpected(r.error());
            if (ref->index == 0) return RemoteOperation::ShowConnections{};
            return RemoteOperation::NewConnectionForm{};
        }
        case 2:
            return with_id.operator()<RemoteOperation::EditConnection>(
                "struct variant RemoteOperation::EditConnection");
        case 3:
            return with_id.operator()<RemoteOperation::Connect>(
                "struct variant RemoteOperation::Connect");
        case 4:
            return with_id.operator()<RemoteOperation::Disconnect>(
                "struct variant RemoteOperation::Disconnect");
        case 5: {
            RemoteOperation::SendText op;
            if (auto r = struct_variant(
                    *ref, "struct variant RemoteOperation::SendText",
                    {{"connection_id", uuid_into(op.connection_id)}, {"text", text_into(op.text)}});
                !r) {
                return std::unexpected(r.error());
            }
            return op;
        }
        case 6: {
            RemoteOperation::TrustSshHostKey op;
            if (auto r = struct_variant(*ref, "struct variant RemoteOperation::TrustSshHostKey",
                                        {{"connection_id", uuid_into(op.connection_id)},
                                         {"observed", identity_into(op.observed)}});
                !r) {
                return std::unexpected(r.error());
            }
            return op;
        }
        default:
            return with_id.operator()<RemoteOperation::ForgetSshHostKey>(
                "struct variant RemoteOperation::ForgetSshHostKey");
    }
}

}  // namespace

nlohmann::ordered_json action_json_value(const RemoteAction& action) {
    return std::visit(
        [](const auto& a) -> Ordered {
            using T = std::decay_t<decltype(a)>;
            Ordered fields = id_fields("id", a.id);
            if constexpr (std::is_same_v<T, RemoteAction::UpsertConnection>) {
                fields["name"] = a.name;
                fields["host"] = a.host;
                fields["port"] = a.port;
                fields["user"] = a.user;
                fields["kind"] = std::string(kind_variant_name(a.kind));
                fields["auth"] = std::string(auth_variant_name(a.auth));
                fields["group"] = a.group;
                return tagged(kActionNames[0], std::move(fields));
            } else if constexpr (std::is_same_v<T, RemoteAction::RenameConnection>) {
                fields["name"] = a.name;
                return tagged(kActionNames[1], std::move(fields));
            } else if constexpr (std::is_same_v<T, RemoteAction::SetFavorite>) {
                fields["favorite"] = a.favorite;
                return tagged(kActionNames[2], std::move(fields));
            } else {
                return tagged(kActionNames[3], std::move(fields));
            }
        },
        action.value);
}

vorn_actions::EncodedAction encode_action(const RemoteAction& action) {
    return {std::string(kRemoteActionType), compact(action_json_value(action))};
}

std::expected<RemoteAction, std::string> decode_action(std::string_view payload) {
    auto tree = json::parse(payload);
    if (!tree) return std::unexpected(tree.error());
    auto ref = read_variant(*tree, "RemoteAction", kActionNames);
    if (!ref) return std::unexpected(ref.error());
    switch (ref->index) {
        case 0: {
            RemoteAction::UpsertConnection a;
            if (auto r = struct_variant(*ref, "struct variant RemoteAction::UpsertConnection",
                                        {{"id", uuid_into(a.id)},
                                         {"name", text_into(a.name)},
                                         {"host", text_into(a.host)},
                                         {"port", port_into(a.port)},
                                         {"user", text_into(a.user)},
                                         {"kind", kind_into(a.kind)},
                                         {"auth", auth_into(a.auth)},
                                         {"group", text_into(a.group)}});
                !r) {
                return std::unexpected(r.error());
            }
            return a;
        }
        case 1: {
            RemoteAction::RenameConnection a;
            if (auto r = struct_variant(*ref, "struct variant RemoteAction::RenameConnection",
                                        {{"id", uuid_into(a.id)}, {"name", text_into(a.name)}});
                !r) {
                return std::unexpected(r.error());
            }
            return a;
        }
        case 2: {
            RemoteAction::SetFavorite a;
            if (auto r =
                    struct_variant(*ref, "struct variant RemoteAction::SetFavorite",
                                   {{"id", uuid_into(a.id)}, {"favorite", bool_into(a.favorite)}});
                !r) {
                return std::unexpected(r.error());
            }
            return a;
        }
        default: {
            RemoteAction::DeleteConnection a;
            if (auto r = struct_variant(*ref, "struct variant RemoteAction::DeleteConnection",
                                        {{"id", uuid_into(a.id)}});
                !r) {
                return std::unexpected(r.error());
            }
            return a;
        }
    }
}

vorn_actions::ActionClass operation_class(const RemoteOperation& operation) {
    return operation.value.index() <= 2 ? vorn_actions::ActionClass::View
                                        : vorn_actions::ActionClass::Effect;
}

vorn_actions::EncodedAction encode_operation(const RemoteOperation& operation) {
    return {std::string(kRemoteOperationType),
            compact(std::visit(OperationJson{}, operation.value))};
}

DecodedOperation decode_operation(std::string_view action_type, std::string_view payload) {
    if (action_type != kRemoteOperationType) return ForeignOperation{};
    auto decoded = decode_operation_value(payload);
    if (!decoded) return OperationDecodeFailure{decoded.error()};
    return std::move(*decoded);
}

}  // namespace remote
