#include "vorn/actions/registry.h"

namespace vorn_actions {

std::expected<void, std::string> ActionRegistry::register_handler(std::string action_type,
                                                                  ActionHandler handler) {
    if (!handler) {
        return std::unexpected("no handler given for action type `" + action_type + "`");
    }
    if (handlers_.contains(action_type)) {
        return std::unexpected("a handler for action type `" + action_type +
                               "` is already registered");
    }
    handlers_.emplace(std::move(action_type), std::move(handler));
    return {};
}

const ActionHandler* ActionRegistry::handler(std::string_view action_type) const {
    auto it = handlers_.find(action_type);
    return it == handlers_.end() ? nullptr : &it->second;
}

std::vector<std::string> ActionRegistry::action_types() const {
    std::vector<std::string> types;
    for (const auto& entry : handlers_) types.push_back(entry.first);
    return types;
}

}  // namespace vorn_actions
