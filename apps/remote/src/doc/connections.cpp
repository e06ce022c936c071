#include "doc/connections.h"

#include <cmath>
#include <limits>
#include <type_traits>
#include <unordered_map>
#include <variant>

#include "fatal.h"
#include "profiles/listing.h"

namespace remote {

namespace {

using vorn_ui::doc::Document;
using vorn_ui::doc::ObjectRef;
using vorn_ui::doc::ObjId;
using vorn_ui::doc::ObjType;
using vorn_ui::doc::ScalarValue;
using vorn_ui::doc::Value;

constexpr std::string_view kConnections = "connections";

// The object of the given type at a key, or nothing when the read fails or finds anything else.
std::optional<ObjId> object_at(const Document& doc, const ObjId& map, std::string_view key,
                               ObjType type) {
    auto v = doc.get(map, key);
    if (!v || !*v) return std::nullopt;
    const auto* o = std::get_if<ObjectRef>(&**v);
    if (!o || o->type != type) return std::nullopt;
    return o->id;
}

const ScalarValue* scalar_in(const std::optional<Value>& v) {
    return v ? std::get_if<ScalarValue>(&*v) : nullptr;
}

std::string string_of(const Value* v) {
    const ScalarValue* s = v ? std::get_if<ScalarValue>(v) : nullptr;
    const auto* text = s ? std::get_if<std::string>(s) : nullptr;
    return text ? *text : std::string();
}

// Stored ports are whatever some replica wrote: any integer-like scalar counts, floats go toward
// zero saturating at the 64-bit limits, and the port is the low 16 bits of the result.
std::uint16_t port_of(const Value* v) {
    const ScalarValue* s = v ? std::get_if<ScalarValue>(v) : nullptr;
    if (!s) return 0;
    std::int64_t value = std::visit(
        [](const auto& x) -> std::int64_t {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::int64_t>) {
                return x;
            } else if constexpr (std::is_same_v<T, std::uint64_t>) {
                return static_cast<std::int64_t>(x);  // only the low 16 bits matter
            } else if constexpr (std::is_same_v<T, double>) {
                if (std::isnan(x)) return 0;
                if (x >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
                if (x <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
                return static_cast<std::int64_t>(x);  // truncates toward zero
            } else if constexpr (std::is_same_v<T, vorn_ui::doc::Timestamp>) {
                return x.millis;
            } else if constexpr (std::is_same_v<T, vorn_ui::doc::Counter>) {
                return x.value;
            } else {
                return 0;
            }
        },
        *s);
    return static_cast<std::uint16_t>(static_cast<std::uint64_t>(value) & 0xFFFF);
}

bool bool_of(const Value* v) {
    const ScalarValue* s = v ? std::get_if<ScalarValue>(v) : nullptr;
    const auto* b = s ? std::get_if<bool>(s) : nullptr;
    return b && *b;
}

// One profile from its connection map's entries (read in one pass: a whole-list load touches
// every field of every profile).
ConnectionProfile profile_from(const Document& doc, const Uuid& id,
                               const std::vector<std::pair<std::string, Value>>& fields) {
    auto field = [&](std::string_view key) -> const Value* {
        for (const auto& [k, v] : fields) {
            if (k == key) return &v;
        }
        return nullptr;
    };
    ConnectionProfile p;
    p.id = id;
    if (const Value* name = field("name")) {
        const auto* o = std::get_if<ObjectRef>(name);
        if (o && o->type == ObjType::Text) p.name = doc.text(o->id).value_or(std::string());
    }
    p.host = string_of(field("host"));
    p.user = string_of(field("user"));
    p.group = string_of(field("group"));
    p.last_used = string_of(field("last_used"));
    p.kind = kind_from_short_name(string_of(field("kind"))).value_or(ConnectionKind::Ssh);
    p.auth = auth_from_label(string_of(field("auth"))).value_or(AuthMethod::Password);
    p.presence = presence_from_text(string_of(field("presence"))).value_or(Presence::Unknown);
    p.port = port_of(field("port"));
    p.favorite = bool_of(field("favorite"));
    return p;
}

// Writes only when the key holds no scalar equal to the new one (a different type differs), so
// unchanged fields stay out of the history.
void put_if_changed(Document& doc, const ObjId& map, std::string_view key, ScalarValue value) {
    auto current = doc.get(map, key);
    if (current) {
        const ScalarValue* s = scalar_in(*current);
        if (s && *s == value) return;
    }
    // The map was just checked to be a map, so the put cannot fail.
    (void)doc.put(map, key, std::move(value));
}

ObjId ensure_connections(Document& doc) {
    if (auto id = object_at(doc, ObjId::root(), kConnections, ObjType::Map)) return *id;
    auto made = doc.put_object(ObjId::root(), kConnections, ObjType::Map);
    if (!made) fatal("put_object connections on root never fails");
    return *made;
}

ObjId ensure_name(Document& doc, const ObjId& entry) {
    if (auto id = object_at(doc, entry, "name", ObjType::Text)) return *id;
    auto made = doc.put_object(entry, "name", ObjType::Text);
    if (!made) fatal("put_object name never fails");
    return *made;
}

}  // namespace

std::vector<ConnectionProfile> load_profiles(const Document& doc) {
    std::vector<ConnectionProfile> out;
    auto connections = object_at(doc, ObjId::root(), kConnections, ObjType::Map);
    if (!connections) return out;
    auto entries = doc.entries(*connections);
    if (!entries) return out;
    out.reserve(entries->size());
    // Keys in other textual forms of an id that also has its canonical key would otherwise give
    // two rows with one id; the canonical entry is the one every write goes to, so it wins.
    std::unordered_map<Uuid, std::size_t> position;
    for (const auto& [key, value] : *entries) {
        auto id = Uuid::parse(key);
        if (!id) continue;
        const auto* entry = std::get_if<ObjectRef>(&value);
        if (!entry || entry->type != ObjType::Map) continue;
        auto fields = doc.entries(entry->id);
        if (!fields) continue;
        auto [it, fresh] = position.emplace(*id, out.size());
        if (fresh) {
            out.push_back(profile_from(doc, *id, *fields));
        } else if (key == id->to_string()) {
            out[it->second] = profile_from(doc, *id, *fields);
        }
    }
    return out;
}

void write_profile(Document& doc, const ConnectionProfile& profile) {
    ObjId connections = ensure_connections(doc);
    const std::string key = profile.id.to_string();
    auto entry = object_at(doc, connections, key, ObjType::Map);
    if (!entry) {
        auto made = doc.put_object(connections, key, ObjType::Map);
        if (!made) fatal("put_object connection map never fails");
        entry = *made;
    }
    ObjId name = ensure_name(doc, *entry);
    (void)vorn_ui::doc::splice_text_diffed(doc, name, profile.name);
    put_if_changed(doc, *entry, "host", profile.host);
    put_if_changed(doc, *entry, "port", std::int64_t{profile.port});
    put_if_changed(doc, *entry, "user", profile.user);
    put_if_changed(doc, *entry, "kind", std::string(kind_short_name(profile.kind)));
    put_if_changed(doc, *entry, "auth", std::string(auth_label(profile.auth)));
    put_if_changed(doc, *entry, "last_used", profile.last_used);
    put_if_changed(doc, *entry, "presence", std::string(presence_text(profile.presence)));
    put_if_changed(doc, *entry, "group", profile.group);
    put_if_changed(doc, *entry, "favorite", profile.favorite);
}

namespace {

// Keys of the connections map naming `id` in a form other than the canonical one (another
// program, or a hand edit, may have written "{…}" or upper-case ids), in key order.
std::vector<std::string> other_keys_for(const Document& doc, const ObjId& connections,
                                        const Uuid& id, const std::string& canonical) {
    std::vector<std::string> out;
    auto keys = doc.keys(connections);
    if (!keys) return out;
    for (std::string& key : *keys) {
        if (key != canonical && Uuid::parse(key) == id) out.push_back(std::move(key));
    }
    return out;
}

// The connection map that load_profiles shows for `id`: the canonical key's, else the first
// other form's.
std::optional<ObjId> entry_for(const Document& doc, const ObjId& connections, const Uuid& id) {
    const std::string canonical = id.to_string();
    if (auto entry = object_at(doc, connections, canonical, ObjType::Map)) return entry;
    for (const std::string& key : other_keys_for(doc, connections, id, canonical)) {
        if (auto entry = object_at(doc, connections, key, ObjType::Map)) return entry;
    }
    return std::nullopt;
}

}  // namespace

void rename_profile(Document& doc, const Uuid& id, std::string_view name) {
    ObjId connections = ensure_connections(doc);
    auto entry = entry_for(doc, connections, id);
    if (!entry) return;
    ObjId text = ensure_name(doc, *entry);
    (void)vorn_ui::doc::splice_text_diffed(doc, text, name);
}

void delete_profile(Document& doc, const Uuid& id) {
    ObjId connections = ensure_connections(doc);
    const std::string canonical = id.to_string();
    (void)doc.delete_key(connections, canonical);  // a missing key is nothing to delete
    // Otherwise an entry under another form of the id would bring the profile back.
    for (const std::string& key : other_keys_for(doc, connections, id, canonical)) {
        (void)doc.delete_key(connections, key);
    }
}

void set_favorite_in_document(Document& doc, const Uuid& id, bool favorite) {
    ObjId connections = ensure_connections(doc);
    auto entry = entry_for(doc, connections, id);
    if (!entry) return;
    put_if_changed(doc, *entry, "favorite", favorite);
}

std::expected<void, std::string> apply_remote_action(const RemoteAction& action, Document& doc) {
    std::visit(
        [&](const auto& a) {
            using T = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<T, RemoteAction::UpsertConnection>) {
                ConnectionProfile p;
                p.id = a.id;
                p.name = a.name;
                p.host = a.host;
                p.port = a.port;
                p.user = a.user;
                p.kind = a.kind;
                p.auth = a.auth;
                p.group = a.group;
                // The action carries only the editable fields; what the document already
                // knows about this profile's use and state stays.
                p.last_used = "Never";
                p.presence = Presence::Unknown;
                p.favorite = false;
                // The same profile load_profiles would show for this id, read on its own so
                // an edit does not cost a read of every saved machine.
                auto connections = object_at(doc, ObjId::root(), kConnections, ObjType::Map);
                auto entry = connections ? entry_for(doc, *connections, a.id) : std::nullopt;
                auto fields = entry ? doc.entries(*entry) : std::unexpected(std::string());
                if (fields) {
                    ConnectionProfile stored = profile_from(doc, a.id, *fields);
                    p.last_used = stored.last_used;
                    p.presence = stored.presence;
                    p.favorite = stored.favorite;
                }
                write_profile(doc, p);
            } else if constexpr (std::is_same_v<T, RemoteAction::RenameConnection>) {
                rename_profile(doc, a.id, a.name);
            } else if constexpr (std::is_same_v<T, RemoteAction::SetFavorite>) {
                set_favorite_in_document(doc, a.id, a.favorite);
            } else {
                delete_profile(doc, a.id);
            }
        },
        action.value);
    return {};
}

std::expected<void, std::string> handle_remote_action(Document& doc,
                                                      const vorn_actions::EncodedAction& action) {
    auto decoded = decode_action(action.payload);
    if (!decoded) return std::unexpected(decoded.error());
    return apply_remote_action(*decoded, doc);
}

namespace {

void repair_selection(SyncState& state) {
    if (state.selected) {
        for (const ConnectionProfile& p : state.profiles) {
            if (p.id == *state.selected) return;
        }
    }
    auto visible = visible_profiles(state.profiles, state.search);
    state.selected = visible.empty() ? std::nullopt : std::optional<Uuid>(visible.front()->id);
}

}  // namespace

SyncOutcome sync_with_document(SyncState state, Document& doc) {
    std::vector<ConnectionProfile> stored = load_profiles(doc);
    SyncOutcome outcome;
    if (state.synced) {
        if (stored == state.profiles) return outcome;
        state.profiles = std::move(stored);
        repair_selection(state);
        if (state.session_connection) {
            bool present = false;
            for (const ConnectionProfile& p : state.profiles) {
                if (p.id == *state.session_connection) present = true;
            }
            outcome.disconnect_session = !present;
        }
        outcome.redraw = true;
        return outcome;
    }
    if (!stored.empty()) {
        state.profiles = std::move(stored);
        repair_selection(state);
    } else {
        for (const ConnectionProfile& p : state.profiles) write_profile(doc, p);
        // One change for the whole seeding, committed now so it reaches the log at once.
        doc.commit();
    }
    state.synced = true;
    outcome.redraw = true;
    return outcome;
}

}  // namespace remote
