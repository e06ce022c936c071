#pragma once
// An encoded action: the unit in which applications hand work to the action framework, an action
// type naming who handles it plus that handler's JSON payload. Plain value; any thread.

#include <string>

namespace vorn_actions {

struct EncodedAction {
    std::string action_type;  // e.g. "remote.action"
    std::string payload;      // the handler's JSON text
    friend bool operator==(const EncodedAction&, const EncodedAction&) = default;
};

}  // namespace vorn_actions
