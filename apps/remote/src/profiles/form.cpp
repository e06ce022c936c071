#include "profiles/form.h"

#include <algorithm>
#include <string_view>

#include "profiles/unicode.h"
#include "vorn/ui/endpoint_id.h"

namespace remote {
namespace {

constexpr std::string_view kNameRequired = "Name is required";
constexpr std::string_view kHostRequired = "Host is required";
constexpr std::string_view kPortRange = "Port must be 1–65535";
constexpr std::string_view kBadEndpoint =
    "Vorn device node must be an exact certified endpoint id.";

std::string_view kind_auth_message(ConnectionKind kind) {
    switch (kind) {
        case ConnectionKind::Ssh:
            return "SSH profiles support password or public-key authentication.";
        case ConnectionKind::Vnc:
            return "VNC profiles support password authentication only.";
        case ConnectionKind::Rdp:
            return "RDP profiles support password authentication only.";
        case ConnectionKind::Vorn:
            return "Vorn device profiles must use Vorn device identity.";
    }
    return "SSH profiles support password or public-key authentication.";
}

std::string trimmed(std::string_view text) {
    return std::string(trim_unicode(text));
}

}  // namespace

std::optional<std::string> compatibility_issue(ConnectionKind kind, std::string_view host,
                                               AuthMethod auth) {
    if (!auth_allowed(kind, auth)) return std::string(kind_auth_message(kind));
    if (kind == ConnectionKind::Vorn) {
        const std::string_view endpoint = trim_unicode(host);
        if (!endpoint.empty() && !vorn_ui::fabric::EndpointId::parse(endpoint)) {
            return std::string(kBadEndpoint);
        }
    }
    return std::nullopt;
}

std::optional<std::string> compatibility_issue(const ConnectionProfile& profile) {
    return compatibility_issue(profile.kind, profile.host, profile.auth);
}

std::optional<std::uint16_t> parse_port(std::string_view text) {
    text = trim_unicode(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535) return std::nullopt;  // also keeps long digit strings from overflowing
    }
    if (value == 0) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

std::vector<std::string> validate_form(const ConnectionForm& form) {
    std::vector<std::string> messages;
    if (trim_unicode(form.name).empty()) messages.emplace_back(kNameRequired);
    if (trim_unicode(form.host).empty()) messages.emplace_back(kHostRequired);
    if (form.kind != ConnectionKind::Vorn && !parse_port(form.port)) {
        messages.emplace_back(kPortRange);
    }
    if (auto issue = compatibility_issue(form.kind, form.host, form.auth)) {
        messages.push_back(std::move(*issue));
    }
    return messages;
}

std::vector<std::string> visible_messages(const ConnectionForm& form, const FormFlags& flags) {
    std::vector<std::string> messages = validate_form(form);
    if (flags.submitted) return messages;
    std::erase_if(messages, [&](const std::string& message) {
        const std::string_view m = message;
        if (m == kNameRequired) return !flags.touched_name;
        if (m == kHostRequired || m.starts_with(kBadEndpoint.substr(0, kBadEndpoint.size() - 1))) {
            return !flags.touched_host;
        }
        if (m.starts_with("Port")) return !flags.touched_port;
        return false;
    });
    return messages;
}

std::string kind_chooser_id(ConnectionKind kind) {
    return "remote.kind:" + std::string(kind_short_name(kind));
}

std::string auth_chooser_id(AuthMethod auth) {
    return "remote.auth:" + std::string(auth_key(auth));
}

ConnectionForm new_form() {
    ConnectionForm form;
    form.port = "22";
    form.auth = AuthMethod::Password;
    form.kind = ConnectionKind::Ssh;
    return form;
}

ConnectionForm form_from_profile(const ConnectionProfile& profile) {
    ConnectionForm form;
    form.name = profile.name;
    form.host = profile.host;
    form.port = std::to_string(profile.port);
    form.user = profile.user;
    form.group = profile.group;
    form.auth = profile.auth;
    form.kind = profile.kind;
    return form;
}

void change_form_kind(ConnectionForm& form, ConnectionKind kind) {
    form.kind = kind;
    if (kind == ConnectionKind::Vorn) {
        form.port.clear();
        form.auth = AuthMethod::DeviceIdentity;
    } else {
        const std::string_view port = trim_unicode(form.port);
        if (port.empty() || port == "0") form.port = std::to_string(default_port(kind));
    }
    if (!auth_allowed(kind, form.auth)) form.auth = allowed_auth(kind).front();
}

void change_form_auth(ConnectionForm& form, AuthMethod auth) {
    form.auth = auth;
}

ConnectionProfile profile_from_form(const ConnectionForm& form, const Uuid& id) {
    ConnectionProfile profile;
    profile.id = id;
    profile.name = trimmed(form.name);
    profile.host = trimmed(form.host);
    if (form.kind != ConnectionKind::Vorn) {
        profile.port = parse_port(form.port).value_or(default_port(form.kind));
    }
    if (form.kind == ConnectionKind::Ssh || form.kind == ConnectionKind::Rdp) {
        profile.user = trimmed(form.user);
    }
    profile.group = trimmed(form.group);
    profile.kind = form.kind;
    profile.auth = form.auth;
    profile.last_used = "Never";
    profile.presence = Presence::Unknown;
    profile.favorite = false;
    return profile;
}

std::expected<ConnectionProfile, SaveRefusal> prepare_save(
    const ConnectionForm& form, const std::optional<Uuid>& edited_id,
    std::span<const ConnectionProfile> profiles) {
    std::vector<std::string> messages = validate_form(form);
    if (!messages.empty()) {
        SaveRefusal refusal{std::move(messages), std::nullopt};
        const bool vorn = form.kind == ConnectionKind::Vorn;
        if (trim_unicode(form.name).empty()) {
            refusal.focus = SaveFocus::Name;
        } else if (trim_unicode(form.host).empty() || vorn) {
            refusal.focus = SaveFocus::Host;
        } else if (trim_unicode(form.port).empty()) {
            refusal.focus = SaveFocus::Port;
        }
        return std::unexpected(std::move(refusal));
    }
    ConnectionProfile profile = profile_from_form(form, edited_id ? *edited_id : Uuid::random());
    const auto existing = std::ranges::find(profiles, profile.id, &ConnectionProfile::id);
    if (existing != profiles.end()) {
        profile.favorite = existing->favorite;
        profile.presence = existing->presence;
        profile.last_used = existing->last_used;
    }
    return profile;
}

void store_saved_profile(std::vector<ConnectionProfile>& profiles, ConnectionProfile profile) {
    const auto existing = std::ranges::find(profiles, profile.id, &ConnectionProfile::id);
    if (existing != profiles.end()) {
        *existing = std::move(profile);
    } else {
        profiles.push_back(std::move(profile));
    }
}

}  // namespace remote
