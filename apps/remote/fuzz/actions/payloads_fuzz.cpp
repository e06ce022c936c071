// Payloads arrive from other clients and other replicas. Every input must decode to a value or a
// text, and every decoded value must encode to a payload that decodes to the same value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "actions/remote_action.h"
#include "actions/remote_operation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view payload(reinterpret_cast<const char*>(data), size);

    if (auto action = remote::decode_action(payload)) {
        auto encoded = remote::encode_action(*action);
        auto again = remote::decode_action(encoded.payload);
        if (!again || *again != *action) std::abort();
    }

    auto decoded = remote::decode_operation(remote::kRemoteOperationType, payload);
    if (std::holds_alternative<remote::ForeignOperation>(decoded)) std::abort();
    if (const auto* operation = std::get_if<remote::RemoteOperation>(&decoded)) {
        auto encoded = remote::encode_operation(*operation);
        auto again = remote::decode_operation(encoded.action_type, encoded.payload);
        const auto* round = std::get_if<remote::RemoteOperation>(&again);
        if (round == nullptr || *round != *operation) std::abort();
    }
    return 0;
}
