#include "vorn/doc/bound_dispatch.h"

#include <algorithm>

namespace vorn_ui::bound_dispatch {

std::optional<BeforeState> typed_action_before(doc::Document& document) {
    if (document.in_transaction()) return std::nullopt;
    return BeforeState{document.get_heads()};
}

TypedActionReport report_typed_action(doc::Document& document, const BeforeState& before,
                                      std::span<const doc::ChangeHash> heads_after) {
    TypedActionReport report;
    report.before = before.heads;
    report.after.assign(heads_after.begin(), heads_after.end());
    // Changes committed after `heads_after` was read (none in the usual flow) are not the
    // action's: keep only those that `heads_after` reaches.
    auto since_before = document.get_changes_since(before.heads);
    auto since_after = document.get_changes_since(heads_after);
    std::vector<doc::ChangeHash> later;
    for (const auto& c : since_after) later.push_back(doc::hash_of(doc::encode_change(c)));
    std::sort(later.begin(), later.end());
    for (const auto& c : since_before) {
        auto h = doc::hash_of(doc::encode_change(c));
        if (std::binary_search(later.begin(), later.end(), h)) continue;
        report.changes.push_back(h);
        report.operations += c.ops.size();
    }
    report.changed = !report.changes.empty();
    return report;
}

}  // namespace vorn_ui::bound_dispatch
