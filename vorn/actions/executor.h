#pragma once
// The executor: applies an encoded action to the replicated document through its handler, as
// exactly one change that replicates, or not at all. UI thread only (the document's owner).

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "vorn/actions/context.h"
#include "vorn/actions/encoded.h"
#include "vorn/actions/registry.h"
#include "vorn/doc/document.h"

namespace vorn_actions::executor {

struct DispatchError {
    enum class Kind {
        NoHandler,      // nothing handles the action's type
        ActorMismatch,  // the caller named another writer than the document's own
        Rejected,       // the handler failed; the document is unchanged
    };
    Kind kind = Kind::Rejected;
    std::string action_type;
    std::string message;

    // One line for logs and notices, e.g. "remote.action was rejected: missing field `id`".
    [[nodiscard]] std::string display() const;
};

struct DispatchReceipt {
    std::string action_type;
    ActionContext context;
    bool changed = false;  // false when the handler left the document as it was
    std::vector<vorn_ui::doc::ChangeHash> heads;  // the document's heads afterwards
};

// `actor` must be the document's actor id; the change is attributed to it.
[[nodiscard]] std::expected<DispatchReceipt, DispatchError> dispatch_by(
    vorn_ui::doc::Document& document, const ActionHandler& handler, const EncodedAction& action,
    std::span<const std::uint8_t> actor);

[[nodiscard]] std::expected<DispatchReceipt, DispatchError> dispatch_by_with_context(
    vorn_ui::doc::Document& document, const ActionHandler& handler, const EncodedAction& action,
    std::span<const std::uint8_t> actor, const ActionContext& context);

// Looks the handler up by the action's type, then dispatches as above.
[[nodiscard]] std::expected<DispatchReceipt, DispatchError> dispatch(
    const ActionRegistry& registry, vorn_ui::doc::Document& document, const EncodedAction& action,
    std::span<const std::uint8_t> actor, const ActionContext& context = {});

}  // namespace vorn_actions::executor
