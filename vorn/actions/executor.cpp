#include "vorn/actions/executor.h"

#include <algorithm>
#include <exception>

namespace vorn_actions::executor {

std::string DispatchError::display() const {
    switch (kind) {
        case Kind::NoHandler:
            return "no handler is registered for action type `" + action_type + "`";
        case Kind::ActorMismatch:
            return action_type + " was not dispatched: " + message;
        case Kind::Rejected:
            return action_type + " was rejected: " + message;
    }
    return message;
}

std::expected<DispatchReceipt, DispatchError> dispatch_by_with_context(
    vorn_ui::doc::Document& document, const ActionHandler& handler, const EncodedAction& action,
    std::span<const std::uint8_t> actor, const ActionContext& context) {
    if (!handler) {
        return std::unexpected(
            DispatchError{DispatchError::Kind::NoHandler, action.action_type, {}});
    }
    const auto& own = document.actor_id();
    if (!std::ranges::equal(actor, own)) {
        return std::unexpected(DispatchError{DispatchError::Kind::ActorMismatch, action.action_type,
                                             "the actor is not this document's writer"});
    }
    const auto before = document.get_heads();
    auto applied =
        document.transact([&](vorn_ui::doc::Document& doc) -> std::expected<void, std::string> {
            // A throwing handler must not leave half an edit behind: turn it into a failure so the
            // transaction rolls back.
            try {
                return handler(doc, action);
            } catch (const std::exception& ex) {
                return std::unexpected(std::string("handler failed: ") + ex.what());
            } catch (...) {
                return std::unexpected(std::string("handler failed"));
            }
        });
    if (!applied) {
        return std::unexpected(
            DispatchError{DispatchError::Kind::Rejected, action.action_type, applied.error()});
    }
    DispatchReceipt receipt{action.action_type, context, false, document.get_heads()};
    receipt.changed = receipt.heads != before;
    return receipt;
}

std::expected<DispatchReceipt, DispatchError> dispatch_by(vorn_ui::doc::Document& document,
                                                          const ActionHandler& handler,
                                                          const EncodedAction& action,
                                                          std::span<const std::uint8_t> actor) {
    return dispatch_by_with_context(document, handler, action, actor, ActionContext{});
}

std::expected<DispatchReceipt, DispatchError> dispatch(const ActionRegistry& registry,
                                                       vorn_ui::doc::Document& document,
                                                       const EncodedAction& action,
                                                       std::span<const std::uint8_t> actor,
                                                       const ActionContext& context) {
    const ActionHandler* handler = registry.handler(action.action_type);
    if (handler == nullptr) {
        return std::unexpected(
            DispatchError{DispatchError::Kind::NoHandler, action.action_type, {}});
    }
    return dispatch_by_with_context(document, *handler, action, actor, context);
}

}  // namespace vorn_actions::executor
