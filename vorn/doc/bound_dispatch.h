#pragma once
// Bracketing a typed action dispatched onto the replicated document: the state before it, and a
// report of the changes it made, so the platform can tie the action to its replicated change.
// UI thread only (the document's owner).

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "vorn/doc/document.h"

namespace vorn_ui::bound_dispatch {

struct BeforeState {
    std::vector<doc::ChangeHash> heads;
};

// The document's committed heads before an action runs; nothing while a transaction is open,
// since its half-made edits would otherwise be counted as the action's.
[[nodiscard]] std::optional<BeforeState> typed_action_before(doc::Document& document);

struct TypedActionReport {
    std::vector<doc::ChangeHash> before;
    std::vector<doc::ChangeHash> after;
    std::vector<doc::ChangeHash> changes;  // the changes between the two, in causal order
    std::size_t operations = 0;
    bool changed = false;
};

// What the action changed: the changes reachable from `heads_after` but not from the
// before-state.
TypedActionReport report_typed_action(doc::Document& document, const BeforeState& before,
                                      std::span<const doc::ChangeHash> heads_after);

}  // namespace vorn_ui::bound_dispatch
