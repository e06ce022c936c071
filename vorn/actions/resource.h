#pragma once
// The tree an application publishes to other clients: resources (something the user has, such as
// a saved connection) carrying actions, each of which yields an encoded action when invoked.
// Plain values, rebuilt by the application whenever asked; any thread.

#include <cstdint>
#include <expected>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "vorn/actions/encoded.h"
#include "vorn/actions/params.h"

namespace vorn_actions {

// How an action may be run: a query only reads, an effect changes something, a view operation
// changes only what the application shows. Operations are refused under another class.
enum class ActionClass : std::uint8_t { Query = 0, Effect = 1, View = 2 };

struct Unavailability {
    std::string reason_code;  // stable, e.g. "terminal_not_connected"
    std::string message;      // shown to people
    friend bool operator==(const Unavailability&, const Unavailability&) = default;
};

class ActionSpec {
  public:
    // Builds an action's encoded action from the invocation's arguments.
    using Builder =
        std::function<std::expected<EncodedAction, std::string>(const params::ActionArgs&)>;

    // An action whose encoded action is fixed when the tree is built; its type is that action's.
    ActionSpec(std::string id, std::string label, EncodedAction encoded);
    // An action built when invoked; every built action must have `action_type`.
    ActionSpec(std::string id, std::string label, std::string action_type, Builder builder);

    [[nodiscard]] ActionSpec with_description(std::string text) &&;
    [[nodiscard]] ActionSpec with_class(ActionClass cls) &&;
    [[nodiscard]] ActionSpec with_param(params::ParamSpec param) &&;
    [[nodiscard]] ActionSpec with_contract(std::initializer_list<std::string_view> tags) &&;
    [[nodiscard]] ActionSpec destructive() &&;
    [[nodiscard]] ActionSpec unavailable(std::string reason_code, std::string message) &&;

    [[nodiscard]] const std::string& id() const { return id_; }
    [[nodiscard]] const std::string& label() const { return label_; }
    [[nodiscard]] const std::optional<std::string>& description() const { return description_; }
    [[nodiscard]] const std::string& action_type() const { return action_type_; }
    [[nodiscard]] ActionClass action_class() const { return class_; }
    [[nodiscard]] const std::vector<params::ParamSpec>& params() const { return params_; }
    [[nodiscard]] const std::vector<std::string>& contract_tags() const { return contract_; }
    [[nodiscard]] bool is_destructive() const { return destructive_; }
    [[nodiscard]] const std::optional<Unavailability>& unavailability() const {
        return unavailable_;
    }
    // The fixed encoded action, when the action has one.
    [[nodiscard]] const std::optional<EncodedAction>& encoded() const { return encoded_; }

    // Checks the arguments, builds the encoded action and checks its type. An unavailable action
    // still builds: whether to offer it is the caller's decision.
    [[nodiscard]] std::expected<EncodedAction, std::string> invoke(
        const params::ActionArgs& args) const;

  private:
    std::string id_;
    std::string label_;
    std::optional<std::string> description_;
    std::string action_type_;
    ActionClass class_ = ActionClass::Effect;
    std::vector<params::ParamSpec> params_;
    std::vector<std::string> contract_;
    bool destructive_ = false;
    std::optional<Unavailability> unavailable_;
    std::optional<EncodedAction> encoded_;
    Builder builder_;
};

class Resource {
  public:
    Resource(std::string id, std::string kind, std::string label);

    [[nodiscard]] Resource with_action(ActionSpec action) &&;
    [[nodiscard]] Resource with_child(Resource child) &&;
    [[nodiscard]] Resource with_children(std::vector<Resource> children) &&;

    [[nodiscard]] const std::string& id() const { return id_; }
    [[nodiscard]] const std::string& kind() const { return kind_; }
    [[nodiscard]] const std::string& label() const { return label_; }
    [[nodiscard]] const std::vector<ActionSpec>& actions() const { return actions_; }
    [[nodiscard]] const std::vector<Resource>& children() const { return children_; }
    [[nodiscard]] const ActionSpec* find_action(std::string_view action_id) const;

  private:
    std::string id_;
    std::string kind_;
    std::string label_;
    std::vector<ActionSpec> actions_;
    std::vector<Resource> children_;
};

// Depth-first search of a tree by resource id.
[[nodiscard]] const Resource* find_resource(std::span<const Resource> roots, std::string_view id);

// A JSON-schema object describing the parameters, for clients that build invocations.
[[nodiscard]] nlohmann::ordered_json derive_input(std::span<const params::ParamSpec> params);

// Refuses an encoded action whose type is not the declared one.
[[nodiscard]] std::expected<void, std::string> enforce_operation_type(const EncodedAction& encoded,
                                                                      std::string_view declared);

}  // namespace vorn_actions

namespace vorn_actions::resource {
using vorn_actions::ActionClass;
using vorn_actions::ActionSpec;
using vorn_actions::derive_input;
using vorn_actions::enforce_operation_type;
using vorn_actions::find_resource;
using vorn_actions::Resource;
using vorn_actions::Unavailability;
}  // namespace vorn_actions::resource
