#pragma once
// Keeps a replicated document in a directory that any file-sync tool can replicate: each actor
// appends its own changes to its own log file, so devices never write the same file.
// UI thread only (the document's owner); the watch descriptor is for that thread's event loop.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/doc/document.h"
#include "vorn/ui/document_store.h"

namespace vorn_ui::persist {

// Where a document lives: `data_dir` holds the actor logs (shared between devices), `state_dir`
// this device's actor ids and their locks (never shared).
struct Location {
    std::filesystem::path data_dir;
    std::filesystem::path state_dir;
};

// $XDG_DATA_HOME/vorn/remote/connections and $XDG_STATE_HOME/vorn/remote, falling back to
// ~/.local/share and ~/.local/state when those are unset, empty or relative.
[[nodiscard]] std::expected<Location, std::string> default_location();

// The result of reading log-file bytes from `offset` (0 = the start, header included).
struct LogScan {
    std::vector<doc::Change> changes;
    std::size_t good_end = 0;            // file offset just past the last whole, valid record
    bool torn = false;                   // ends inside a record that may still be being written
    std::optional<std::string> corrupt;  // a record that can never become valid
};
[[nodiscard]] LogScan scan_log(std::span<const std::uint8_t> bytes, std::size_t offset);
// One record as the log stores it (the header is written once, before the first record).
[[nodiscard]] std::vector<std::uint8_t> log_header();
[[nodiscard]] std::vector<std::uint8_t> log_record(std::span<const std::uint8_t> encoded_change);

class Store final : public DocumentStore {
  public:
    using WarningSink = std::function<void(std::string_view)>;

    // Creates the directories (0700), takes this device's first free actor slot (a second
    // running instance takes the next one), reads every actor's log and applies what it holds.
    // Warnings (a torn or corrupt record skipped) go to `sink`, stderr when it is empty.
    [[nodiscard]] static std::expected<std::unique_ptr<Store>, std::string> open_at(
        const Location& location, WarningSink sink = {});
    ~Store() override;

    doc::Document& document() override;
    // Commits the open transaction and makes sure every local change is in the log (each change
    // is appended and synced as it is committed; this retries one that failed to write).
    [[nodiscard]] std::expected<void, std::string> save() override;
    int watch_fd() const override;
    [[nodiscard]] std::expected<bool, std::string> refresh() override;

    [[nodiscard]] const std::filesystem::path& directory() const;
    [[nodiscard]] std::filesystem::path log_path() const;  // this actor's own log

    struct Impl;

  private:
    explicit Store(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// The platform's opener: the connections document at its default location.
[[nodiscard]] std::expected<std::unique_ptr<DocumentStore>, std::string> open();

}  // namespace vorn_ui::persist
