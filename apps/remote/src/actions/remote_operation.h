#pragma once
// Operations other clients ask of this device ("remote.operation"): view and session requests
// that never touch the shared document. The value, its compact JSON payload and the strict
// decoder. Pure values and functions; any thread.

#include <concepts>
#include <expected>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "profiles/uuid.h"
#include "ssh/known_hosts.h"
#include "vorn/actions/encoded.h"
#include "vorn/actions/resource.h"

namespace remote {

inline constexpr std::string_view kRemoteOperationType = "remote.operation";

struct RemoteOperation {
    struct ShowConnections {
        friend bool operator==(const ShowConnections&, const ShowConnections&) = default;
    };
    struct NewConnectionForm {
        friend bool operator==(const NewConnectionForm&, const NewConnectionForm&) = default;
    };
    struct EditConnection {
        Uuid connection_id;
        friend bool operator==(const EditConnection&, const EditConnection&) = default;
    };
    struct Connect {
        Uuid connection_id;
        friend bool operator==(const Connect&, const Connect&) = default;
    };
    struct Disconnect {
        Uuid connection_id;
        friend bool operator==(const Disconnect&, const Disconnect&) = default;
    };
    struct SendText {
        Uuid connection_id;
        std::string text;
        friend bool operator==(const SendText&, const SendText&) = default;
    };
    struct TrustSshHostKey {
        Uuid connection_id;
        HostKeyIdentity observed;
        friend bool operator==(const TrustSshHostKey&, const TrustSshHostKey&) = default;
    };
    struct ForgetSshHostKey {
        Uuid connection_id;
        friend bool operator==(const ForgetSshHostKey&, const ForgetSshHostKey&) = default;
    };
    using Value = std::variant<ShowConnections, NewConnectionForm, EditConnection, Connect,
                               Disconnect, SendText, TrustSshHostKey, ForgetSshHostKey>;

    Value value;

    RemoteOperation() : value(ShowConnections{}) {}
    template <class T>
    requires(!std::same_as<std::remove_cvref_t<T>, RemoteOperation> &&
             std::constructible_from<Value, T&&>) RemoteOperation(T&& v)
        : value(std::forward<T>(v)) {}  // NOLINT: implicit from each variant

    friend bool operator==(const RemoteOperation&, const RemoteOperation&) = default;
};

// View operations (show list, new form, edit) are class View; the session ones class Effect.
[[nodiscard]] vorn_actions::ActionClass operation_class(const RemoteOperation& operation);

// Type "remote.operation" with the compact JSON payload; ShowConnections is "\"ShowConnections\"".
[[nodiscard]] vorn_actions::EncodedAction encode_operation(const RemoteOperation& operation);

struct ForeignOperation {
    friend bool operator==(const ForeignOperation&, const ForeignOperation&) = default;
};
struct OperationDecodeFailure {
    std::string message;  // the decoder's text, returned to the caller unchanged
    friend bool operator==(const OperationDecodeFailure&, const OperationDecodeFailure&) = default;
};
// Foreign when `action_type` is not exactly "remote.operation", so other handlers may take it.
using DecodedOperation = std::variant<ForeignOperation, OperationDecodeFailure, RemoteOperation>;
[[nodiscard]] DecodedOperation decode_operation(std::string_view action_type,
                                                std::string_view payload);

}  // namespace remote
