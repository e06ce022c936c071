#include "vorn/actions/params.h"

#include <algorithm>

namespace vorn_actions::params {
namespace {

bool has_kind(const nlohmann::json& value, ParamKind kind) {
    switch (kind) {
        case ParamKind::Text:
            return value.is_string();
        case ParamKind::Integer:
            return value.is_number_integer();
        case ParamKind::Boolean:
            return value.is_boolean();
    }
    return false;
}

std::string_view kind_name(ParamKind kind) {
    switch (kind) {
        case ParamKind::Text:
            return "text";
        case ParamKind::Integer:
            return "an integer";
        case ParamKind::Boolean:
            return "true or false";
    }
    return "a value";
}

}  // namespace

std::expected<ActionArgs, std::string> ActionArgs::from_json(const nlohmann::json& value) {
    ActionArgs args;
    if (value.is_null()) return args;
    if (!value.is_object())
        return std::unexpected(std::string("action arguments must be an object"));
    args.values_ = value;
    return args;
}

ActionArgs& ActionArgs::set(std::string name, nlohmann::json value) {
    values_[std::move(name)] = std::move(value);
    return *this;
}

const nlohmann::json* ActionArgs::find(std::string_view name) const {
    auto it = values_.find(name);
    return it == values_.end() ? nullptr : &*it;
}

std::optional<std::string> ActionArgs::text(std::string_view name) const {
    const nlohmann::json* value = find(name);
    if (value == nullptr || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

std::expected<void, std::string> check_args(std::span<const ParamSpec> params,
                                            const ActionArgs& args) {
    for (const auto& [name, value] : args.json().items()) {
        auto param = std::ranges::find(params, name, &ParamSpec::name);
        if (param == params.end()) {
            return std::unexpected("unknown parameter `" + name + "`");
        }
        if (!has_kind(value, param->kind)) {
            return std::unexpected("parameter `" + name + "` must be " +
                                   std::string(kind_name(param->kind)));
        }
    }
    for (const ParamSpec& param : params) {
        if (param.required && args.find(param.name) == nullptr) {
            return std::unexpected("missing parameter `" + param.name + "`");
        }
    }
    return {};
}

}  // namespace vorn_actions::params
