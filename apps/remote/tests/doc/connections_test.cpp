#include "doc/connections.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "doc/sample_machines.h"
#include "profiles/listing.h"
#include "vorn/ui/endpoint_id.h"

namespace remote {
namespace {

using vorn_ui::doc::Counter;
using vorn_ui::doc::Document;
using vorn_ui::doc::ObjectRef;
using vorn_ui::doc::ObjId;
using vorn_ui::doc::ObjType;
using vorn_ui::doc::ScalarValue;
using vorn_ui::doc::Timestamp;

const Uuid kId = *Uuid::parse("0b7e8a52-3c1f-4d2a-9e55-6a4f1c2d3e4f");

ConnectionProfile profile(std::string name, Uuid id = Uuid::random()) {
    ConnectionProfile p;
    p.id = id;
    p.name = std::move(name);
    p.host = "host.lan";
    p.port = 2222;
    p.user = "admin";
    p.kind = ConnectionKind::Ssh;
    p.auth = AuthMethod::PublicKey;
    p.group = "lab";
    p.last_used = "2h ago";
    p.presence = Presence::Online;
    p.favorite = true;
    return p;
}

// A connection map at `key` with a text name, for hand-made documents.
ObjId entry(Document& d, std::string_view key) {
    auto conns = d.get(ObjId::root(), "connections").value();
    ObjId c = conns ? std::get<ObjectRef>(*conns).id
                    : d.put_object(ObjId::root(), "connections", ObjType::Map).value();
    return d.put_object(c, key, ObjType::Map).value();
}

TEST(Connections, WriteThenLoadGivesBackEveryField) {
    Document d;
    std::vector<ConnectionProfile> written;
    for (ConnectionKind k : kAllKinds) {
        ConnectionProfile p = profile("Név ☃ " + std::string(kind_short_name(k)));
        p.kind = k;
        p.auth = allowed_auth(k).front();
        p.presence = kAllPresences[static_cast<std::size_t>(k) % 3];
        p.favorite = k == ConnectionKind::Vnc;
        write_profile(d, p);
        written.push_back(p);
    }
    auto loaded = load_profiles(d);
    // The document lists keys in one fixed order, the same on every replica.
    auto by_key = written;
    std::sort(by_key.begin(), by_key.end(),
              [](const auto& a, const auto& b) { return a.id.to_string() < b.id.to_string(); });
    EXPECT_EQ(loaded, by_key);

    // The schema as other replicas see it: lower-case keys, a text name, texts for enums.
    auto conns = std::get<ObjectRef>(*d.get(ObjId::root(), "connections").value());
    auto e = std::get<ObjectRef>(*d.get(conns.id, written[0].id.to_string()).value());
    EXPECT_EQ(std::get<ObjectRef>(*d.get(e.id, "name").value()).type, ObjType::Text);
    auto scalar = [&](std::string_view k) {
        return std::get<ScalarValue>(*d.get(e.id, k).value());
    };
    EXPECT_EQ(scalar("kind"), ScalarValue(std::string("SSH")));
    EXPECT_EQ(scalar("auth"), ScalarValue(std::string("Password")));
    EXPECT_EQ(scalar("port"), ScalarValue(std::int64_t{2222}));
    EXPECT_EQ(scalar("presence"), ScalarValue(std::string("online")));
    EXPECT_EQ(scalar("favorite"), ScalarValue(false));
}

TEST(Connections, MissingOrScalarConnectionsLoadsEmptyAndTheFirstWriteMakesAMap) {
    Document empty;
    EXPECT_TRUE(load_profiles(empty).empty());
    EXPECT_FALSE(empty.get(ObjId::root(), "connections").value().has_value());  // nothing made

    Document scalar;
    ASSERT_TRUE(scalar.put(ObjId::root(), "connections", std::string("oops")).has_value());
    EXPECT_TRUE(load_profiles(scalar).empty());
    write_profile(scalar, profile("A", kId));
    ASSERT_EQ(load_profiles(scalar).size(), 1u);
    EXPECT_EQ(load_profiles(scalar)[0].name, "A");
}

TEST(Connections, MalformedEntriesAreSkippedAndFieldsTakeDefaults) {
    Document d;
    entry(d, "not-a-uuid");
    auto conns = std::get<ObjectRef>(*d.get(ObjId::root(), "connections").value()).id;
    ASSERT_TRUE(d.put(conns, "6f1c2d3e-0000-4000-8000-000000000001", std::int64_t{5}).has_value());
    ASSERT_TRUE(
        d.put_object(conns, "6f1c2d3e-0000-4000-8000-000000000002", ObjType::Text).has_value());
    // Any standard textual form of the id is accepted; everything in it is malformed.
    ObjId odd = entry(d, "{0B7E8A52-3C1F-4D2A-9E55-6A4F1C2D3E4F}");
    ASSERT_TRUE(d.put(odd, "name", std::string("plain string")).has_value());
    ASSERT_TRUE(d.put(odd, "host", std::int64_t{1}).has_value());
    ASSERT_TRUE(d.put(odd, "kind", std::string("vnc")).has_value());
    ASSERT_TRUE(d.put(odd, "auth", std::string("public key")).has_value());
    ASSERT_TRUE(d.put(odd, "presence", std::string("Online")).has_value());
    ASSERT_TRUE(d.put(odd, "favorite", std::string("true")).has_value());
    ASSERT_TRUE(d.put_object(odd, "user", ObjType::Map).has_value());

    auto loaded = load_profiles(d);
    ASSERT_EQ(loaded.size(), 1u);
    ConnectionProfile want;
    want.id = kId;
    want.last_used = "";  // absent text reads as empty, not as "Never"
    EXPECT_EQ(loaded[0], want);

    // The next upsert replaces a plain-string name with a text object holding the name.
    Document named;
    ASSERT_TRUE(named.put(entry(named, kId.to_string()), "name", std::string("plain")).has_value());
    EXPECT_EQ(load_profiles(named).at(0).name, "");
    ConnectionProfile p = profile("Fixed", kId);
    write_profile(named, p);
    auto again = load_profiles(named);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0], p);
}

TEST(Connections, AnIdStoredUnderSeveralKeyFormsIsOneProfileThatCanBeDeleted) {
    const std::string braces = "{0B7E8A52-3C1F-4D2A-9E55-6A4F1C2D3E4F}";
    Document d;
    ASSERT_TRUE(d.put(entry(d, braces), "host", std::string("old.lan")).has_value());
    // Only the other form exists: it is the profile, and rename and favourite reach it.
    rename_profile(d, kId, "Renamed");
    set_favorite_in_document(d, kId, true);
    auto only = load_profiles(d);
    ASSERT_EQ(only.size(), 1u);
    EXPECT_EQ(only[0].name, "Renamed");
    EXPECT_TRUE(only[0].favorite);

    // An upsert writes the canonical key, which from then on is the one shown; what it does
    // not carry comes from the entry that was shown before.
    RemoteAction::UpsertConnection up{
        kId, "Canonical", "new.lan", 22, "", ConnectionKind::Ssh, AuthMethod::Password, ""};
    ASSERT_TRUE(apply_remote_action(up, d).has_value());
    auto both = load_profiles(d);
    ASSERT_EQ(both.size(), 1u);
    EXPECT_EQ(both[0].name, "Canonical");
    EXPECT_EQ(both[0].host, "new.lan");
    EXPECT_TRUE(both[0].favorite);

    // Deleting removes every form, so the profile does not come back.
    delete_profile(d, kId);
    EXPECT_TRUE(load_profiles(d).empty());
}

TEST(Connections, EnumerationsAreReadByExactText) {
    struct Row {
        const char* kind;
        ConnectionKind want;
    };
    for (const Row& r : {Row{"SSH", ConnectionKind::Ssh}, Row{"ssh", ConnectionKind::Ssh},
                         Row{"VNC", ConnectionKind::Vnc}, Row{"vnc", ConnectionKind::Ssh},
                         Row{"RDP", ConnectionKind::Rdp}, Row{"Vorn", ConnectionKind::Vorn},
                         Row{"Vorn device", ConnectionKind::Ssh}}) {
        Document d;
        ASSERT_TRUE(d.put(entry(d, kId.to_string()), "kind", std::string(r.kind)).has_value());
        EXPECT_EQ(load_profiles(d).at(0).kind, r.want) << r.kind;
    }
    struct AuthRow {
        const char* text;
        AuthMethod want;
    };
    for (const AuthRow& r : {AuthRow{"Public key", AuthMethod::PublicKey},
                             AuthRow{"Device identity", AuthMethod::DeviceIdentity},
                             AuthRow{"PublicKey", AuthMethod::Password}}) {
        Document d;
        ASSERT_TRUE(d.put(entry(d, kId.to_string()), "auth", std::string(r.text)).has_value());
        EXPECT_EQ(load_profiles(d).at(0).auth, r.want) << r.text;
    }
}

TEST(Connections, PortsAreReadFromAnyNumberAsTheLow16Bits) {
    struct Row {
        const char* name;
        ScalarValue stored;
        std::uint16_t want;
    };
    const double big = 1e30;
    std::vector<Row> rows = {
        {"int", std::int64_t{22}, 22},
        {"float", 22.9, 22},
        {"negative float toward zero", -0.9, 0},
        {"low 16 bits", std::int64_t{65558}, 22},
        {"negative int", std::int64_t{-1}, 65535},
        {"unsigned", std::uint64_t{65536 + 5900}, 5900},
        {"saturating float", big, 65535},
        {"saturating negative float", -big, 0},
        {"nan", std::nan(""), 0},
        {"timestamp", Timestamp{443}, 443},
        {"counter", Counter{8080}, 8080},
        {"string", std::string("22"), 0},
        {"bool", true, 0},
    };
    for (const Row& r : rows) {
        Document d;
        ASSERT_TRUE(d.put(entry(d, kId.to_string()), "port", r.stored).has_value());
        EXPECT_EQ(load_profiles(d).at(0).port, r.want) << r.name;
    }
}

TEST(Connections, UpsertingTheSameProfileAgainChangesNothing) {
    Document d;
    ConnectionProfile p = profile("Build Box", kId);
    write_profile(d, p);
    auto heads = d.get_heads();
    write_profile(d, p);
    EXPECT_EQ(d.get_heads(), heads);
    // A changed field writes only that field.
    p.host = "other.lan";
    write_profile(d, p);
    auto changes = d.get_changes_since(heads);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].ops.size(), 1u);
    // A port stored as another kind of number is rewritten as a signed integer.
    auto e = std::get<ObjectRef>(
        *d.get(std::get<ObjectRef>(*d.get(ObjId::root(), "connections").value()).id,
               kId.to_string())
             .value());
    ASSERT_TRUE(d.put(e.id, "port", std::uint64_t{2222}).has_value());
    heads = d.get_heads();
    write_profile(d, p);
    EXPECT_NE(d.get_heads(), heads);
    EXPECT_EQ(std::get<ScalarValue>(*d.get(e.id, "port").value()), ScalarValue(std::int64_t{2222}));
}

TEST(Connections, RemoteActionsApplyToTheDocument) {
    Document d;
    RemoteAction::UpsertConnection up{
        kId, "New", "h.lan", 22, "u", ConnectionKind::Ssh, AuthMethod::Password, "g"};
    ASSERT_TRUE(apply_remote_action(up, d).has_value());
    auto loaded = load_profiles(d);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].last_used, "Never");
    EXPECT_EQ(loaded[0].presence, Presence::Unknown);
    EXPECT_FALSE(loaded[0].favorite);

    // Stored use, presence and favourite survive an edit that does not carry them.
    ConnectionProfile stored = loaded[0];
    stored.last_used = "3d ago";
    stored.presence = Presence::Offline;
    stored.favorite = true;
    write_profile(d, stored);
    up.name = "Edited";
    up.port = 2200;
    ASSERT_TRUE(apply_remote_action(up, d).has_value());
    ConnectionProfile edited = load_profiles(d).at(0);
    EXPECT_EQ(edited.name, "Edited");
    EXPECT_EQ(edited.port, 2200);
    EXPECT_EQ(edited.last_used, "3d ago");
    EXPECT_EQ(edited.presence, Presence::Offline);
    EXPECT_TRUE(edited.favorite);

    ASSERT_TRUE(
        apply_remote_action(RemoteAction::RenameConnection{kId, "  spaced  "}, d).has_value());
    EXPECT_EQ(load_profiles(d).at(0).name, "  spaced  ");
    ASSERT_TRUE(apply_remote_action(RemoteAction::SetFavorite{kId, false}, d).has_value());
    EXPECT_FALSE(load_profiles(d).at(0).favorite);

    // Unknown ids change nothing and still report success.
    auto heads = d.get_heads();
    Uuid other = Uuid::random();
    ASSERT_TRUE(apply_remote_action(RemoteAction::RenameConnection{other, "x"}, d).has_value());
    ASSERT_TRUE(apply_remote_action(RemoteAction::SetFavorite{other, true}, d).has_value());
    ASSERT_TRUE(apply_remote_action(RemoteAction::DeleteConnection{other}, d).has_value());
    EXPECT_EQ(d.get_heads(), heads);

    ASSERT_TRUE(apply_remote_action(RemoteAction::DeleteConnection{kId}, d).has_value());
    EXPECT_TRUE(load_profiles(d).empty());

    // Through the registered handler: the encoded payload, and a refused one.
    ASSERT_TRUE(handle_remote_action(d, encode_action(up)).has_value());
    EXPECT_EQ(load_profiles(d).size(), 1u);
    EXPECT_FALSE(handle_remote_action(d, {"remote.action", "{\"Nope\":{}}"}).has_value());
}

TEST(Connections, EditsOnTwoDevicesAtOnceBothSurvive) {
    Document a, b;
    write_profile(a, profile("Build Box", kId));
    ASSERT_TRUE(b.merge(a).has_value());
    rename_profile(a, kId, "Build Box 2");
    set_favorite_in_document(b, kId, false);
    rename_profile(b, kId, "The Build Box");
    ASSERT_TRUE(a.merge(b).has_value());
    ASSERT_TRUE(b.merge(a).has_value());
    auto pa = load_profiles(a).at(0);
    EXPECT_EQ(pa, load_profiles(b).at(0));
    EXPECT_FALSE(pa.favorite);
    EXPECT_EQ(pa.name, "The Build Box 2");  // both splices kept
}

struct App {
    bool synced = false;
    std::vector<ConnectionProfile> profiles;
    std::string search;
    std::optional<Uuid> selected;
    std::optional<Uuid> session;
    SyncState state() { return {synced, profiles, search, selected, session}; }
};

TEST(Connections, FirstReconciliationSeedsAnEmptyDocumentOrReplacesMemory) {
    // Sample mode with an empty document: exactly the sample rows are stored.
    App app;
    app.profiles = sample_profiles();
    Document d;
    auto out = sync_with_document(app.state(), d);
    EXPECT_TRUE(out.redraw);
    EXPECT_TRUE(app.synced);
    auto stored = load_profiles(d);
    ASSERT_EQ(stored.size(), 8u);
    for (const ConnectionProfile& p : app.profiles) {
        EXPECT_NE(std::find(stored.begin(), stored.end(), p), stored.end()) << p.name;
    }
    EXPECT_FALSE(d.in_transaction());  // the seeding is one committed change
    EXPECT_EQ(d.get_changes().size(), 1u);

    // A non-empty document replaces memory and writes nothing.
    App second;
    second.profiles = sample_profiles();
    second.selected = second.profiles[3].id;
    auto heads = d.get_heads();
    (void)sync_with_document(second.state(), d);
    EXPECT_EQ(second.profiles, stored);
    EXPECT_EQ(d.get_heads(), heads);
    // The old selection is gone: the first row of the sorted list is selected instead.
    ASSERT_TRUE(second.selected.has_value());
    EXPECT_EQ(*second.selected, visible_profiles(stored, "").front()->id);
}

TEST(Connections, LaterReconciliationsFollowTheDocument) {
    Document d;
    ConnectionProfile a = profile("Alpha"), b = profile("Beta");
    a.favorite = b.favorite = false;
    write_profile(d, a);
    write_profile(d, b);
    App app;
    (void)sync_with_document(app.state(), d);
    app.selected = b.id;
    app.session = b.id;

    auto same = sync_with_document(app.state(), d);
    EXPECT_FALSE(same.redraw);
    EXPECT_FALSE(same.disconnect_session);

    // Memory drifted ("just now" is never stored): the document's text comes back.
    app.profiles[0].last_used = "just now";
    auto back = sync_with_document(app.state(), d);
    EXPECT_TRUE(back.redraw);
    EXPECT_EQ(app.profiles, load_profiles(d));
    EXPECT_EQ(app.selected, b.id);

    // Another replica deletes the open session's profile.
    Document other;
    ASSERT_TRUE(other.merge(d).has_value());
    delete_profile(other, b.id);
    ASSERT_TRUE(d.merge(other).has_value());
    app.search = "alp";
    auto gone = sync_with_document(app.state(), d);
    EXPECT_TRUE(gone.redraw);
    EXPECT_TRUE(gone.disconnect_session);
    ASSERT_EQ(app.profiles.size(), 1u);
    EXPECT_EQ(app.selected, a.id);

    // Nothing left that matches the search: no selection. (The app ended that session.)
    app.session.reset();
    delete_profile(d, a.id);
    auto none = sync_with_document(app.state(), d);
    EXPECT_FALSE(none.disconnect_session);
    EXPECT_EQ(app.selected, std::nullopt);
}

TEST(SampleMachines, RowsDevicesAndStableEndpoints) {
    auto first = sample_profiles();
    auto second = sample_profiles();
    auto devices = sample_devices();
    ASSERT_EQ(first.size(), 8u);
    ASSERT_EQ(devices.size(), 4u);
    std::vector<std::string> names;
    for (const auto& p : first) names.push_back(p.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Build Box", "Studio Node", "Office NAS",
                                               "Win Workstation", "Edge Gateway", "Pi Cluster Head",
                                               "Workshop Laptop", "Backup Vault"}));
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_NE(first[i].id, second[i].id);
        EXPECT_EQ(first[i].host, second[i].host);
        for (std::size_t j = 0; j < i; ++j) EXPECT_NE(first[i].id, first[j].id);
    }
    EXPECT_EQ(devices, sample_devices());
    EXPECT_EQ(first[1].host, devices[0].endpoint);
    EXPECT_EQ(first[6].host, devices[1].endpoint);
    for (const auto& dev : devices) {
        EXPECT_TRUE(vorn_ui::fabric::parse_endpoint_id(dev.endpoint).has_value()) << dev.name;
        EXPECT_EQ(dev.endpoint.size(), 64u);
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) EXPECT_NE(devices[i].endpoint, devices[j].endpoint);
    }
    EXPECT_FALSE(devices[3].online);
    const auto& vault = first[7];
    EXPECT_EQ(vault.last_used, "Never");
    EXPECT_EQ(vault.presence, Presence::Unknown);
    EXPECT_EQ(vault.port, 5901);
    auto order = visible_profiles(first, "");
    EXPECT_EQ(order[0]->name, "Build Box");
    EXPECT_EQ(order[1]->name, "Studio Node");
    EXPECT_EQ(order[2]->name, "Backup Vault");
}

}  // namespace
}  // namespace remote
