#pragma once
// The connections document: how saved profiles are stored in the replicated document, read back
// with a default for every malformed field, written field by field only when they differ, and
// reconciled with the application's in-memory list. UI thread only (the document's owner).

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "actions/remote_action.h"
#include "profiles/profile.h"
#include "profiles/uuid.h"
#include "vorn/actions/encoded.h"
#include "vorn/doc/document.h"

namespace remote {

// Every profile of the "connections" map, in the document's key order; malformed entries are
// skipped and malformed fields take their defaults. Never creates anything.
[[nodiscard]] std::vector<ConnectionProfile> load_profiles(const vorn_ui::doc::Document& doc);

// The writes. Each first makes sure "connections" is a map; each writes a field only when the
// stored value differs, so repeating a write adds nothing to the document's history.
void write_profile(vorn_ui::doc::Document& doc, const ConnectionProfile& profile);
void rename_profile(vorn_ui::doc::Document& doc, const Uuid& id, std::string_view name);
void delete_profile(vorn_ui::doc::Document& doc, const Uuid& id);
void set_favorite_in_document(vorn_ui::doc::Document& doc, const Uuid& id, bool favorite);

// Applies a persisted action; always succeeds (an unknown id changes nothing).
std::expected<void, std::string> apply_remote_action(const RemoteAction& action,
                                                     vorn_ui::doc::Document& doc);
// The registered "remote.action" handler: decodes the payload, then applies it. Only a payload
// that does not decode fails, with the decoder's text.
std::expected<void, std::string> handle_remote_action(vorn_ui::doc::Document& doc,
                                                      const vorn_actions::EncodedAction& action);

// The parts of the application state reconciliation reads and writes.
struct SyncState {
    bool& synced;  // the application's document_loaded flag
    std::vector<ConnectionProfile>& profiles;
    const std::string& search;
    std::optional<Uuid>& selected;
    const std::optional<Uuid>& session_connection;  // the profile whose session is open
};
struct SyncOutcome {
    bool redraw = false;
    // The open session's profile left the document: the caller ends that session.
    bool disconnect_session = false;
};

// Makes the in-memory list equal to the document. The first call seeds an empty document with
// the in-memory profiles instead (nothing at a normal start, the sample rows in sample mode).
[[nodiscard]] SyncOutcome sync_with_document(SyncState state, vorn_ui::doc::Document& doc);

}  // namespace remote
