#pragma once
// Action parameters: how an action declares its inputs, and the arguments a client passes when
// it invokes one. Plain values; any thread.

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vorn_actions::params {

enum class ParamKind { Text, Integer, Boolean };

struct ParamSpec {
    std::string name;
    ParamKind kind = ParamKind::Text;
    std::string label;        // shown to people; empty when the name says enough
    std::string description;  // may be empty
    std::string hint;         // placeholder-like example of a value; may be empty
    bool required = false;    // absent arguments are left to the action (e.g. taken as empty)

    [[nodiscard]] static ParamSpec text(std::string name) {
        ParamSpec param;
        param.name = std::move(name);
        return param;
    }
    [[nodiscard]] ParamSpec labelled(std::string value) && {
        label = std::move(value);
        return std::move(*this);
    }
    [[nodiscard]] ParamSpec described(std::string value) && {
        description = std::move(value);
        return std::move(*this);
    }
    [[nodiscard]] ParamSpec with_hint(std::string value) && {
        hint = std::move(value);
        return std::move(*this);
    }
    friend bool operator==(const ParamSpec&, const ParamSpec&) = default;
};

// The arguments of one invocation: a JSON object keyed by parameter name.
class ActionArgs {
  public:
    ActionArgs() = default;
    // Refuses anything but an object (JSON null counts as no arguments).
    [[nodiscard]] static std::expected<ActionArgs, std::string> from_json(
        const nlohmann::json& value);

    ActionArgs& set(std::string name, nlohmann::json value);
    // The argument's text; nothing when it is absent or not a string.
    [[nodiscard]] std::optional<std::string> text(std::string_view name) const;
    [[nodiscard]] const nlohmann::json* find(std::string_view name) const;
    [[nodiscard]] const nlohmann::json& json() const { return values_; }

  private:
    nlohmann::json values_ = nlohmann::json::object();
};

// Checks arguments against the declared parameters: required ones present, every given one
// declared and of its kind.
[[nodiscard]] std::expected<void, std::string> check_args(std::span<const ParamSpec> params,
                                                          const ActionArgs& args);

}  // namespace vorn_actions::params

namespace vorn_actions {
using params::ActionArgs;
using params::ParamSpec;
}  // namespace vorn_actions
