#pragma once
// The connection form's rules: validation with its exact messages, which messages are visible,
// the kind and auth choosers, the compatibility check of stored profiles, and turning a valid
// form into a profile on Save. Pure functions; safe to use from any thread.

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "profiles/profile.h"

namespace remote {

// The four flags that decide which validation messages the form shows.
struct FormFlags {
    bool submitted = false;
    bool touched_name = false;
    bool touched_host = false;
    bool touched_port = false;
};

// The message for a kind/auth mismatch or a Vorn host that is not an endpoint id, if any.
[[nodiscard]] std::optional<std::string> compatibility_issue(ConnectionKind kind,
                                                             std::string_view host,
                                                             AuthMethod auth);
[[nodiscard]] std::optional<std::string> compatibility_issue(const ConnectionProfile& profile);

// Every failing check's message, in check order; empty means valid.
[[nodiscard]] std::vector<std::string> validate_form(const ConnectionForm& form);
[[nodiscard]] std::vector<std::string> visible_messages(const ConnectionForm& form,
                                                        const FormFlags& flags);

// A trimmed port text as a port: optional '+', decimal digits, 1..65535.
[[nodiscard]] std::optional<std::uint16_t> parse_port(std::string_view text);

// Empty texts, port "22", Ssh with Password.
[[nodiscard]] ConnectionForm new_form();
[[nodiscard]] ConnectionForm form_from_profile(const ConnectionProfile& profile);
void change_form_kind(ConnectionForm& form, ConnectionKind kind);
void change_form_auth(ConnectionForm& form, AuthMethod auth);
// The profile a (validated) form describes, with a fresh record's last-used, presence, favourite.
[[nodiscard]] ConnectionProfile profile_from_form(const ConnectionForm& form, const Uuid& id);

// Element ids of the form's choosers: "remote.kind:{short name}" and "remote.auth:{key}".
[[nodiscard]] std::string kind_chooser_id(ConnectionKind kind);
[[nodiscard]] std::string auth_chooser_id(AuthMethod auth);

// Which form field Save moves the focus to when validation fails.
enum class SaveFocus : std::uint8_t { Name, Host, Port };

struct SaveRefusal {
    std::vector<std::string> messages;
    std::optional<SaveFocus> focus;  // none: the focus stays where it is
};

// Save's profile-building steps: validates, picks the id (the edited profile's, else a new random
// one), builds the record and carries over favourite, presence and last-used of the profile in
// `profiles` with that id. Nothing is stored; see store_saved_profile.
[[nodiscard]] std::expected<ConnectionProfile, SaveRefusal> prepare_save(
    const ConnectionForm& form, const std::optional<Uuid>& edited_id,
    std::span<const ConnectionProfile> profiles);

// Replaces the profile with the same id in place, or appends it.
void store_saved_profile(std::vector<ConnectionProfile>& profiles, ConnectionProfile profile);

}  // namespace remote
