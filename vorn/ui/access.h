#pragma once
// The accessibility and semantic tree an application publishes: element ids,
// roles, labels, values and states, and the actions a reader may invoke.
// The Qt backend bridges it to the desktop's accessibility bus.

#include <optional>
#include <string>
#include <vector>

#include "vorn/ui/geometry.h"

namespace vorn_ui {

enum class Role : std::uint8_t {
    Window, Group, List, ListItem, Button, ToggleButton, CheckBox, RadioButton, TextInput,
    Label, Heading, Image, Dialog, Alert, Toolbar, Terminal, Navigation, Unknown,
};

struct AccessNode {
    std::string id;  // stable element id, e.g. "remote.connection:<uuid>:connect"
    Role role = Role::Group;
    std::string label;
    std::string description;
    std::string value;
    std::optional<Rect> bounds;
    bool selected = false;
    std::optional<bool> checked;  // set for toggles and check boxes
    bool focused = false;
    bool disabled = false;
    std::vector<AccessNode> children;

    AccessNode with_children(std::vector<AccessNode> c) && {
        children = std::move(c);
        return std::move(*this);
    }
};

// What a reader (or automation) did to an element.
struct SemanticEvent {
    enum class Kind : std::uint8_t { Click, SetText, Focus, Increment, Decrement } kind = Kind::Click;
    std::string text;  // for SetText
};

// One invocable action of the tree: the element and the event it accepts.
struct ActionBinding {
    std::string element_id;
    SemanticEvent::Kind kind = SemanticEvent::Kind::Click;
    std::string label;
};

// Every invocable element of `root` in tree order: buttons and toggles take
// Click, text inputs take SetText and Focus.
std::vector<ActionBinding> semantic_action_bindings(const AccessNode& root);

// Finds a node by id (depth-first), or nullptr.
const AccessNode* find_node(const AccessNode& root, std::string_view id);

}  // namespace vorn_ui
