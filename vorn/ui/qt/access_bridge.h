#pragma once
// Publishes an application's accessibility tree to the desktop through Qt's
// accessibility: one interface per node, kept across rebuilds by element id
// so readers see stable objects, and reader actions routed back to the
// application's semantic action hook. UI thread only.

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <QAccessibleWidget>

#include "vorn/ui/access.h"
#include "vorn/ui/qt/window.h"

namespace vorn_ui::qt {

class NodeInterface;

// Installs the factory that gives AppWindow its own interface; call after
// QApplication exists (the last installed factory is asked first).
void install_access_factory();

class AccessBridge {
  public:
    explicit AccessBridge(AppWindow& window);
    ~AccessBridge();
    AccessBridge(const AccessBridge&) = delete;
    AccessBridge& operator=(const AccessBridge&) = delete;

    // The application's state may have changed; the tree is rebuilt lazily
    // (when read) or at once by sync().
    void mark_dirty() { dirty_ = true; }
    bool dirty() const { return dirty_; }
    // Rebuilds from accessibility_tree(), reusing interfaces by id and
    // announcing what changed.
    void sync();

    // The window's own interface asks for its children through these.
    int top_count();
    QAccessibleInterface* top_child(int index);
    int top_index(const QAccessibleInterface* child);
    QString root_label();
    QAccessibleInterface* child_at(int x, int y);
    QAccessibleInterface* focused();

    AppWindow& window() { return window_; }

  private:
    friend class NodeInterface;
    NodeInterface* build(
        const AccessNode& node, QAccessibleInterface* parent, const std::string& path,
        std::unordered_map<std::string, NodeInterface*>& seen,
        const std::unordered_map<std::string, std::vector<SemanticEvent::Kind>>& actions,
        bool announce);

    AppWindow& window_;
    bool dirty_ = true;
    std::string root_label_;
    std::vector<NodeInterface*> top_;
    std::unordered_map<std::string, NodeInterface*> nodes_;
};

}  // namespace vorn_ui::qt
