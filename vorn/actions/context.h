#pragma once
// What travels with a dispatched action besides its payload: a readable summary, the application
// that produced it, and who asked for it. Plain values and functions; any thread.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorn_actions::context {

struct ActionSource {
    std::string app_id;        // reverse-domain identifier of the producing application
    std::string display_name;  // e.g. "Remote"
    friend bool operator==(const ActionSource&, const ActionSource&) = default;
};

class ActionContext {
  public:
    std::optional<std::string> summary;  // e.g. "Rename connection"
    std::optional<ActionSource> source;
    std::optional<std::string> requested_by;  // the client that asked (an assistant, a script)
    std::optional<std::string> correlation_id;
    // Free-form facts in insertion order; keys are unique.
    std::vector<std::pair<std::string, std::string>> attributes;

    // This context with every gap filled from `other`: fields already set here win, attributes
    // of `other` whose keys are new here are appended.
    [[nodiscard]] ActionContext enriched_by(const ActionContext& other) const;

    friend bool operator==(const ActionContext&, const ActionContext&) = default;
};

// A readable phrase for a code identifier: "TrustSshHostKey" and "trust_ssh_host_key" both give
// "Trust ssh host key"; runs of capitals stay one word ("SSHKey" gives "Ssh key").
[[nodiscard]] std::string humanize_identifier(std::string_view identifier);

}  // namespace vorn_actions::context

namespace vorn_actions {
using context::ActionContext;
using context::ActionSource;
}  // namespace vorn_actions
