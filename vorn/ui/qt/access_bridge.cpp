#include "vorn/ui/qt/access_bridge.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include <QAccessible>
#include <QWindow>

namespace vorn_ui::qt {
namespace {

QAccessible::Role qt_role(Role role) {
    switch (role) {
        case Role::Window:
            return QAccessible::Window;
        case Role::Group:
            return QAccessible::Grouping;
        case Role::List:
            return QAccessible::List;
        case Role::ListItem:
            return QAccessible::ListItem;
        case Role::Button:
        case Role::ToggleButton:
            return QAccessible::Button;
        case Role::CheckBox:
            return QAccessible::CheckBox;
        case Role::RadioButton:
            return QAccessible::RadioButton;
        case Role::TextInput:
            return QAccessible::EditableText;
        case Role::Label:
            return QAccessible::StaticText;
        case Role::Heading:
            return QAccessible::Heading;
        case Role::Image:
            return QAccessible::Graphic;
        case Role::Dialog:
            return QAccessible::Dialog;
        case Role::Alert:
            return QAccessible::AlertMessage;
        case Role::Toolbar:
            return QAccessible::ToolBar;
        case Role::Terminal:
            return QAccessible::Terminal;
        case Role::Navigation:
            return QAccessible::Pane;
        case Role::Unknown:
            break;
    }
    return QAccessible::Client;
}

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// What a node shows to readers; children are kept apart as interfaces.
struct NodeData {
    std::string id;
    Role role = Role::Group;
    std::string label;
    std::string description;
    std::string value;
    std::optional<Rect> bounds;
    bool selected = false;
    std::optional<bool> checked;
    bool focused = false;
    bool disabled = false;

    static NodeData of(const AccessNode& n) {
        return {n.id,     n.role,     n.label,   n.description, n.value,
                n.bounds, n.selected, n.checked, n.focused,     n.disabled};
    }
};

}  // namespace

class NodeInterface final : public QAccessibleInterface,
                            public QAccessibleActionInterface,
                            public QAccessibleTextInterface,
                            public QAccessibleEditableTextInterface {
  public:
    explicit NodeInterface(AccessBridge& bridge) : bridge_(bridge) {}

    NodeData data;
    QAccessibleInterface* parent_iface = nullptr;
    std::vector<NodeInterface*> children;
    std::vector<SemanticEvent::Kind> actions;
    QAccessible::Id id = 0;

    // QAccessibleInterface
    bool isValid() const override { return true; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return bridge_.window().windowHandle(); }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            if ((*it)->rect().contains(x, y)) return *it;
        }
        return nullptr;
    }
    QAccessibleInterface* parent() const override { return parent_iface; }
    QAccessibleInterface* child(int index) const override {
        return index >= 0 && index < int(children.size()) ? children[std::size_t(index)] : nullptr;
    }
    int childCount() const override { return int(children.size()); }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (children[i] == child) return int(i);
        }
        return -1;
    }
    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name:
                return q(data.label);
            case QAccessible::Description:
                return q(data.description);
            case QAccessible::Value:
                return q(data.value);
            case QAccessible::UserText:
                return q(data.id);  // the element id, for automation and tests
            default:
                return {};
        }
    }
    void setText(QAccessible::Text t, const QString& text) override {
        if (t == QAccessible::Value && data.role == Role::TextInput) set_value(text);
    }
    QRect rect() const override {
        if (!data.bounds) return {};
        const Rect& b = *data.bounds;
        QPoint origin =
            bridge_.window().mapToGlobal(QPoint(int(std::floor(b.x0)), int(std::floor(b.y0))));
        return QRect(origin, QSize(int(std::ceil(b.width())), int(std::ceil(b.height()))));
    }
    QAccessible::Role role() const override { return qt_role(data.role); }
    QAccessible::State state() const override {
        QAccessible::State s;
        bool interactive = !actions.empty();
        s.focusable = interactive;
        s.focused = data.focused;
        s.selectable = data.role == Role::ListItem;
        s.selected = data.selected;
        s.checkable = data.checked.has_value();
        s.checked = data.checked.value_or(false);
        s.disabled = data.disabled;
        s.editable = data.role == Role::TextInput;
        s.invisible = !data.bounds;
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        if (data.role == Role::TextInput) {
            if (t == QAccessible::TextInterface)
                return static_cast<QAccessibleTextInterface*>(this);
            if (t == QAccessible::EditableTextInterface)
                return static_cast<QAccessibleEditableTextInterface*>(this);
        }
        return nullptr;
    }

    // QAccessibleActionInterface
    QStringList actionNames() const override {
        QStringList names;
        for (auto kind : actions) {
            switch (kind) {
                case SemanticEvent::Kind::Click:
                    names << (data.checked ? toggleAction() : pressAction());
                    break;
                case SemanticEvent::Kind::Focus:
                    names << setFocusAction();
                    break;
                case SemanticEvent::Kind::Increment:
                    names << increaseAction();
                    break;
                case SemanticEvent::Kind::Decrement:
                    names << decreaseAction();
                    break;
                case SemanticEvent::Kind::SetText:
                    break;
            }
        }
        names.removeDuplicates();
        return names;
    }
    void doAction(const QString& name) override {
        std::optional<SemanticEvent::Kind> kind;
        if (name == pressAction() || name == toggleAction()) kind = SemanticEvent::Kind::Click;
        if (name == setFocusAction()) kind = SemanticEvent::Kind::Focus;
        if (name == increaseAction()) kind = SemanticEvent::Kind::Increment;
        if (name == decreaseAction()) kind = SemanticEvent::Kind::Decrement;
        if (!kind || std::find(actions.begin(), actions.end(), *kind) == actions.end()) return;
        bridge_.window().semantic_action(data.id, SemanticEvent{*kind, {}});
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    // QAccessibleTextInterface: the value as one line, caret at its end.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return characterCount(); }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override {
        QString v = q(data.value);
        start = std::clamp(start, 0, int(v.size()));
        end = end < 0 ? int(v.size()) : std::clamp(end, start, int(v.size()));
        return v.mid(start, end - start);
    }
    int characterCount() const override { return int(q(data.value).size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return {};
    }

    // QAccessibleEditableTextInterface: every edit becomes one SetText.
    void deleteText(int start, int end) override { replaceText(start, end, {}); }
    void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }
    void replaceText(int start, int end, const QString& text) override {
        QString v = q(data.value);
        start = std::clamp(start, 0, int(v.size()));
        end = end < 0 ? int(v.size()) : std::clamp(end, start, int(v.size()));
        set_value(v.left(start) + text + v.mid(end));
    }

  private:
    void set_value(const QString& text) {
        if (data.disabled) return;
        if (std::find(actions.begin(), actions.end(), SemanticEvent::Kind::SetText) ==
            actions.end())
            return;
        bridge_.window().semantic_action(
            data.id, SemanticEvent{SemanticEvent::Kind::SetText, text.toStdString()});
    }

    AccessBridge& bridge_;
};

namespace {

// The window's own interface: its children are the application's nodes.
class WindowInterface final : public QAccessibleWidget {
  public:
    WindowInterface(AppWindow* window, std::shared_ptr<AppWindow::Handle> handle)
        : QAccessibleWidget(window, QAccessible::Window), handle_(std::move(handle)) {}

    int childCount() const override {
        auto* b = bridge();
        return b ? b->top_count() : 0;
    }
    QAccessibleInterface* child(int index) const override {
        auto* b = bridge();
        return b ? b->top_child(index) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        auto* b = bridge();
        return b ? b->top_index(child) : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        auto* b = bridge();
        return b ? b->child_at(x, y) : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        auto* b = bridge();
        return b ? b->focused() : nullptr;
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            if (auto* b = bridge()) {
                QString label = b->root_label();
                if (!label.isEmpty()) return label;
            }
        }
        return QAccessibleWidget::text(t);
    }

  private:
    AccessBridge* bridge() const {
        return handle_->window ? handle_->window->access_bridge() : nullptr;
    }
    std::shared_ptr<AppWindow::Handle> handle_;
};

QAccessibleInterface* factory(const QString&, QObject* object) {
    if (auto* window = qobject_cast<AppWindow*>(object))
        return new WindowInterface(window, window->handle());
    return nullptr;
}

void announce(QAccessibleInterface* iface, QAccessible::Event type) {
    QAccessibleEvent event(iface, type);
    QAccessible::updateAccessibility(&event);
}

}  // namespace

void install_access_factory() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QAccessible::installFactory(factory);
}

AccessBridge::AccessBridge(AppWindow& window) : window_(window) {}

AccessBridge::~AccessBridge() {
    for (auto& [key, node] : nodes_) QAccessible::deleteAccessibleInterface(node->id);
}

int AccessBridge::top_count() {
    if (dirty_) sync();
    return int(top_.size());
}

QAccessibleInterface* AccessBridge::top_child(int index) {
    if (dirty_) sync();
    return index >= 0 && index < int(top_.size()) ? top_[std::size_t(index)] : nullptr;
}

int AccessBridge::top_index(const QAccessibleInterface* child) {
    if (dirty_) sync();
    for (std::size_t i = 0; i < top_.size(); ++i) {
        if (top_[i] == child) return int(i);
    }
    return -1;
}

QString AccessBridge::root_label() {
    if (dirty_) sync();
    return q(root_label_);
}

QAccessibleInterface* AccessBridge::child_at(int x, int y) {
    if (dirty_) sync();
    for (auto it = top_.rbegin(); it != top_.rend(); ++it) {
        if ((*it)->rect().contains(x, y)) return *it;
    }
    return nullptr;
}

QAccessibleInterface* AccessBridge::focused() {
    if (dirty_) sync();
    for (auto& [key, node] : nodes_) {
        if (node->data.focused) return node;
    }
    return nullptr;
}

NodeInterface* AccessBridge::build(
    const AccessNode& node, QAccessibleInterface* parent, const std::string& path,
    std::unordered_map<std::string, NodeInterface*>& seen,
    const std::unordered_map<std::string, std::vector<SemanticEvent::Kind>>& actions,
    bool announce_changes) {
    // Nodes are matched by element id; nodes without one (or with a
    // duplicate) by their position in the tree.
    std::string key = !node.id.empty() && !seen.contains(node.id) ? node.id : "#" + path;
    NodeInterface* iface = nullptr;
    bool created = false;
    if (auto it = nodes_.find(key); it != nodes_.end()) {
        iface = it->second;
    } else {
        iface = new NodeInterface(*this);
        iface->id = QAccessible::registerAccessibleInterface(iface);
        nodes_.emplace(key, iface);
        created = true;
    }
    seen.emplace(key, iface);

    NodeData next = NodeData::of(node);
    NodeData prev = iface->data;
    iface->data = next;
    iface->parent_iface = parent;
    if (auto it = actions.find(node.id); it != actions.end() && !node.id.empty()) {
        iface->actions = it->second;
    } else {
        iface->actions.clear();
    }

    std::vector<NodeInterface*> kids;
    kids.reserve(node.children.size());
    for (std::size_t i = 0; i < node.children.size(); ++i) {
        kids.push_back(build(node.children[i], iface, path + "/" + std::to_string(i), seen, actions,
                             announce_changes));
    }
    bool reordered = kids != iface->children;
    iface->children = std::move(kids);

    if (announce_changes) {
        if (created) {
            announce(iface, QAccessible::ObjectCreated);
        } else {
            if (prev.label != next.label) announce(iface, QAccessible::NameChanged);
            if (prev.description != next.description)
                announce(iface, QAccessible::DescriptionChanged);
            if (prev.value != next.value) {
                QAccessibleValueChangeEvent event(iface, q(next.value));
                QAccessible::updateAccessibility(&event);
            }
            QAccessible::State changed;
            changed.focused = prev.focused != next.focused;
            changed.selected = prev.selected != next.selected;
            changed.checked = prev.checked != next.checked;
            changed.disabled = prev.disabled != next.disabled;
            changed.invisible = prev.bounds.has_value() != next.bounds.has_value();
            if (changed.focused || changed.selected || changed.checked || changed.disabled ||
                changed.invisible) {
                QAccessibleStateChangeEvent event(iface, changed);
                QAccessible::updateAccessibility(&event);
            }
            if (reordered) announce(iface, QAccessible::ObjectReorder);
        }
        if (next.focused && (created || !prev.focused)) announce(iface, QAccessible::Focus);
    }
    return iface;
}

void AccessBridge::sync() {
    dirty_ = false;
    app::Application& app = window_.application();
    AccessNode root = app.accessibility_tree();
    std::unordered_map<std::string, std::vector<SemanticEvent::Kind>> actions;
    for (const auto& binding : app.action_bindings())
        actions[binding.element_id].push_back(binding.kind);

    bool announce_changes = QAccessible::isActive();
    QAccessibleInterface* window_iface = QAccessible::queryAccessibleInterface(&window_);
    std::unordered_map<std::string, NodeInterface*> seen;
    std::vector<NodeInterface*> top;
    top.reserve(root.children.size());
    for (std::size_t i = 0; i < root.children.size(); ++i) {
        top.push_back(build(root.children[i], window_iface, std::to_string(i), seen, actions,
                            announce_changes));
    }
    bool reordered = top != top_;
    top_ = std::move(top);
    bool renamed = root_label_ != root.label;
    root_label_ = root.label;

    for (auto it = nodes_.begin(); it != nodes_.end();) {
        if (seen.contains(it->first)) {
            ++it;
            continue;
        }
        if (announce_changes) announce(it->second, QAccessible::ObjectDestroyed);
        QAccessible::deleteAccessibleInterface(it->second->id);
        it = nodes_.erase(it);
    }
    if (announce_changes && window_iface) {
        if (reordered) announce(window_iface, QAccessible::ObjectReorder);
        if (renamed) announce(window_iface, QAccessible::NameChanged);
    }
}

}  // namespace vorn_ui::qt
