#include "vorn/actions/resource.h"

#include <algorithm>
#include <utility>

namespace vorn_actions {
namespace {

std::string_view schema_type(params::ParamKind kind) {
    switch (kind) {
        case params::ParamKind::Text:
            return "string";
        case params::ParamKind::Integer:
            return "integer";
        case params::ParamKind::Boolean:
            return "boolean";
    }
    return "string";
}

}  // namespace

ActionSpec::ActionSpec(std::string id, std::string label, EncodedAction encoded)
    : id_(std::move(id)),
      label_(std::move(label)),
      action_type_(encoded.action_type),
      encoded_(std::move(encoded)) {}

ActionSpec::ActionSpec(std::string id, std::string label, std::string action_type, Builder builder)
    : id_(std::move(id)),
      label_(std::move(label)),
      action_type_(std::move(action_type)),
      builder_(std::move(builder)) {}

ActionSpec ActionSpec::with_description(std::string text) && {
    description_ = std::move(text);
    return std::move(*this);
}

ActionSpec ActionSpec::with_class(ActionClass cls) && {
    class_ = cls;
    return std::move(*this);
}

ActionSpec ActionSpec::with_param(params::ParamSpec param) && {
    params_.push_back(std::move(param));
    return std::move(*this);
}

ActionSpec ActionSpec::with_contract(std::initializer_list<std::string_view> tags) && {
    for (std::string_view tag : tags) {
        if (std::ranges::find(contract_, tag) == contract_.end()) contract_.emplace_back(tag);
    }
    return std::move(*this);
}

ActionSpec ActionSpec::destructive() && {
    destructive_ = true;
    return std::move(*this);
}

ActionSpec ActionSpec::unavailable(std::string reason_code, std::string message) && {
    unavailable_ = Unavailability{std::move(reason_code), std::move(message)};
    return std::move(*this);
}

std::expected<EncodedAction, std::string> ActionSpec::invoke(const params::ActionArgs& args) const {
    if (auto checked = params::check_args(params_, args); !checked) {
        return std::unexpected(checked.error());
    }
    if (encoded_) return *encoded_;
    if (!builder_) return std::unexpected("action `" + id_ + "` has nothing to run");
    auto built = builder_(args);
    if (!built) return built;
    if (auto r = enforce_operation_type(*built, action_type_); !r)
        return std::unexpected(r.error());
    return built;
}

Resource::Resource(std::string id, std::string kind, std::string label)
    : id_(std::move(id)), kind_(std::move(kind)), label_(std::move(label)) {}

Resource Resource::with_action(ActionSpec action) && {
    actions_.push_back(std::move(action));
    return std::move(*this);
}

Resource Resource::with_child(Resource child) && {
    children_.push_back(std::move(child));
    return std::move(*this);
}

Resource Resource::with_children(std::vector<Resource> children) && {
    for (Resource& child : children) children_.push_back(std::move(child));
    return std::move(*this);
}

const ActionSpec* Resource::find_action(std::string_view action_id) const {
    auto it = std::ranges::find(actions_, action_id, &ActionSpec::id);
    return it == actions_.end() ? nullptr : &*it;
}

const Resource* find_resource(std::span<const Resource> roots, std::string_view id) {
    // An explicit stack: trees come from applications and may be deep.
    std::vector<const Resource*> pending;
    for (auto it = roots.rbegin(); it != roots.rend(); ++it) pending.push_back(&*it);
    while (!pending.empty()) {
        const Resource* r = pending.back();
        pending.pop_back();
        if (r->id() == id) return r;
        const auto& children = r->children();
        for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back(&*it);
    }
    return nullptr;
}

nlohmann::ordered_json derive_input(std::span<const params::ParamSpec> params) {
    nlohmann::ordered_json schema;
    schema["type"] = "object";
    nlohmann::ordered_json properties = nlohmann::ordered_json::object();
    nlohmann::ordered_json required = nlohmann::ordered_json::array();
    for (const params::ParamSpec& p : params) {
        nlohmann::ordered_json property;
        property["type"] = schema_type(p.kind);
        if (!p.label.empty()) property["title"] = p.label;
        if (!p.description.empty()) property["description"] = p.description;
        if (!p.hint.empty()) property["examples"] = nlohmann::ordered_json::array({p.hint});
        properties[p.name] = std::move(property);
        if (p.required) required.push_back(p.name);
    }
    schema["properties"] = std::move(properties);
    schema["required"] = std::move(required);
    schema["additionalProperties"] = false;
    return schema;
}

std::expected<void, std::string> enforce_operation_type(const EncodedAction& encoded,
                                                        std::string_view declared) {
    if (encoded.action_type == declared) return {};
    return std::unexpected("action produced type `" + encoded.action_type + "` but declares `" +
                           std::string(declared) + "`");
}

}  // namespace vorn_actions
