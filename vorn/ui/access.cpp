#include "vorn/ui/access.h"

namespace vorn_ui {
namespace {

void collect(const AccessNode& node, std::vector<ActionBinding>& out) {
    if (!node.id.empty() && !node.disabled) {
        switch (node.role) {
            case Role::Button:
            case Role::ToggleButton:
            case Role::CheckBox:
            case Role::RadioButton:
            case Role::ListItem:
                out.push_back({node.id, SemanticEvent::Kind::Click, node.label});
                break;
            case Role::TextInput:
                out.push_back({node.id, SemanticEvent::Kind::SetText, node.label});
                out.push_back({node.id, SemanticEvent::Kind::Focus, node.label});
                break;
            default:
                break;
        }
    }
    for (const auto& child : node.children) collect(child, out);
}

}  // namespace

std::vector<ActionBinding> semantic_action_bindings(const AccessNode& root) {
    std::vector<ActionBinding> out;
    collect(root, out);
    return out;
}

const AccessNode* find_node(const AccessNode& root, std::string_view id) {
    if (root.id == id) return &root;
    for (const auto& child : root.children) {
        if (const auto* found = find_node(child, id)) return found;
    }
    return nullptr;
}

}  // namespace vorn_ui
