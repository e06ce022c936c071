#pragma once
// What the platform needs from a persisted, replicated document: the live
// document, saving local changes, and noticing changes other replicas made.
// Implemented by vorn_ui::persist (vorn/doc). UI thread only.

#include <expected>
#include <string>

namespace vorn_ui::doc {
class Document;
}

namespace vorn_ui::persist {

class DocumentStore {
public:
    virtual ~DocumentStore() = default;
    virtual doc::Document& document() = 0;
    // Appends the document's new local changes to durable storage.
    [[nodiscard]] virtual std::expected<void, std::string> save() = 0;
    // A descriptor that becomes readable when another replica may have
    // written (inotify); -1 when the store cannot watch.
    virtual int watch_fd() const = 0;
    // Applies what other replicas wrote since the last call; true when the
    // document changed.
    [[nodiscard]] virtual std::expected<bool, std::string> refresh() = 0;
};

}  // namespace vorn_ui::persist
