#pragma once
// The registry of action handlers: which function applies an encoded action of a given type to
// the replicated document. Owned by the framework's application; used on the UI thread only.

#include <expected>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/actions/encoded.h"

namespace vorn_ui::doc {
class Document;
}

namespace vorn_actions {

// Applies one encoded action to the document. Runs inside the executor's change: a failure rolls
// every edit back, so a handler may stop half-way.
using ActionHandler =
    std::function<std::expected<void, std::string>(vorn_ui::doc::Document&, const EncodedAction&)>;

class ActionRegistry {
  public:
    // One handler per type; registering a type twice is refused.
    [[nodiscard]] std::expected<void, std::string> register_handler(std::string action_type,
                                                                    ActionHandler handler);
    // nullptr when no handler is registered for the type.
    [[nodiscard]] const ActionHandler* handler(std::string_view action_type) const;
    [[nodiscard]] std::vector<std::string> action_types() const;

  private:
    std::map<std::string, ActionHandler, std::less<>> handlers_;
};

}  // namespace vorn_actions
