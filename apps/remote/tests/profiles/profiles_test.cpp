// The profile model: text forms, validation and its visible messages, the choosers, turning a
// form into a profile on Save, labels, search and list order.

#include <gtest/gtest.h>

#include <algorithm>

#include "profiles/form.h"
#include "profiles/listing.h"
#include "profiles/profile.h"
#include "profiles/unicode.h"

namespace {

using namespace remote;
using Messages = std::vector<std::string>;

// A real device key (RFC 8032 test 1 public key).
const std::string kEndpoint = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";

TEST(ProfileTexts, EveryKindForm) {
    struct Row {
        ConnectionKind kind;
        std::string_view label, short_name, variant;
        std::uint16_t port;
        std::vector<AuthMethod> auth;
    };
    const Row rows[] = {
        {ConnectionKind::Ssh,
         "SSH",
         "SSH",
         "Ssh",
         22,
         {AuthMethod::Password, AuthMethod::PublicKey}},
        {ConnectionKind::Vnc, "VNC", "VNC", "Vnc", 5900, {AuthMethod::Password}},
        {ConnectionKind::Rdp, "RDP", "RDP", "Rdp", 3389, {AuthMethod::Password}},
        {ConnectionKind::Vorn, "Vorn device", "Vorn", "Vorn", 0, {AuthMethod::DeviceIdentity}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(kind_label(r.kind), r.label);
        EXPECT_EQ(kind_short_name(r.kind), r.short_name);
        EXPECT_EQ(kind_variant_name(r.kind), r.variant);
        EXPECT_EQ(kind_from_short_name(r.short_name), r.kind);
        EXPECT_EQ(kind_from_variant_name(r.variant), r.kind);
        EXPECT_EQ(default_port(r.kind), r.port);
        const auto allowed = allowed_auth(r.kind);
        EXPECT_TRUE(std::ranges::equal(allowed, r.auth)) << r.label;
    }
    // Document values are compared exactly.
    EXPECT_EQ(kind_from_short_name("ssh"), std::nullopt);
    EXPECT_EQ(kind_from_short_name("Vorn device"), std::nullopt);
    EXPECT_EQ(kind_from_variant_name("SSH"), std::nullopt);
}

TEST(ProfileTexts, EveryAuthAndPresenceForm) {
    struct Row {
        AuthMethod auth;
        std::string_view label, key, variant;
    };
    const Row rows[] = {
        {AuthMethod::Password, "Password", "password", "Password"},
        {AuthMethod::PublicKey, "Public key", "public-key", "PublicKey"},
        {AuthMethod::DeviceIdentity, "Device identity", "device-identity", "DeviceIdentity"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(auth_label(r.auth), r.label);
        EXPECT_EQ(auth_key(r.auth), r.key);
        EXPECT_EQ(auth_variant_name(r.auth), r.variant);
        EXPECT_EQ(auth_from_label(r.label), r.auth);
        EXPECT_EQ(auth_from_key(r.key), r.auth);
        EXPECT_EQ(auth_from_variant_name(r.variant), r.auth);
    }
    EXPECT_EQ(auth_from_label("password"), std::nullopt);
    const std::pair<Presence, std::string_view> presences[] = {{Presence::Online, "online"},
                                                               {Presence::Offline, "offline"},
                                                               {Presence::Unknown, "unknown"}};
    for (const auto& [presence, text] : presences) {
        EXPECT_EQ(presence_text(presence), text);
        EXPECT_EQ(presence_from_text(text), presence);
    }
    EXPECT_EQ(presence_from_text("Online"), std::nullopt);
}

TEST(ProfileTexts, ChooserElementIds) {
    std::vector<std::string> kinds, auths;
    for (ConnectionKind k : kChooserKinds) kinds.push_back(kind_chooser_id(k));
    EXPECT_EQ(kinds,
              (std::vector<std::string>{"remote.kind:SSH", "remote.kind:VNC", "remote.kind:Vorn"}));
    for (AuthMethod a : kAllAuthMethods) auths.push_back(auth_chooser_id(a));
    EXPECT_EQ(auths, (std::vector<std::string>{"remote.auth:password", "remote.auth:public-key",
                                               "remote.auth:device-identity"}));
}

TEST(UnicodeText, TrimsUnicodeWhiteSpaceOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"  host \t\n", "host"},
        {"\u00A0\u3000name\u2028\u2003", "name"},  // no-break, ideographic, line sep, em space
        {"\u200Bname\u200B", "\u200Bname\u200B"},  // zero-width space is not white space
        {"a b", "a b"},
        {" \u00A0 ", ""},
        {"\xC2 x", "\xC2 x"},  // a broken sequence is not white space
        {"x \xA0", "x \xA0"},  // lone continuation byte stays
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(trim_unicode(in), out) << in;
}

TEST(UnicodeText, LowerCasesWithSimpleMapping) {
    const std::pair<std::string, std::string> cases[] = {
        {"ABC xyz 123", "abc xyz 123"},
        {"ÄÖÜ ÀÉ", "äöü àé"},
        {"ΣΑΣ", "σασ"},
        {"ЖУК", "жук"},
        {"İ", "i"},    // simple mapping: one code point
        {"ǅ", "ǆ"},    // title-case digraph
        {"Ａ", "ａ"},  // full-width
        {"𐐀", "𐐨"},    // Deseret, four bytes
        {"ß ẞ", "ß ß"},
        {"\xFF\xC3", "\xFF\xC3"},  // invalid bytes pass through
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(lower_unicode(in), out) << in;
}

// A form with everything valid for SSH, changed by `edit`.
template <typename Edit>
ConnectionForm ssh_form(Edit edit) {
    ConnectionForm form = new_form();
    form.name = "Build box";
    form.host = "build.local";
    edit(form);
    return form;
}

ConnectionForm vorn_form(std::string host) {
    ConnectionForm form = new_form();
    form.name = "Tablet";
    change_form_kind(form, ConnectionKind::Vorn);
    form.host = std::move(host);
    return form;
}

const std::string kPortMessage = "Port must be 1–65535";

TEST(Validation, PortTexts) {
    const std::pair<std::string, bool> cases[] = {
        {"22", true},    {"1", true},       {"65535", true},
        {"+22", true},   {"  2222 ", true}, {"\u00A08080\u3000", true},
        {"00022", true}, {"0", false},      {"", false},
        {"   ", false},  {"65536", false},  {"-22", false},
        {"2 2", false},  {"++22", false},   {"+", false},
        {"22a", false},  {"0x16", false},   {"99999999999999999999", false},
        {"２２", false},  // full-width digits are not decimal digits here
    };
    for (const auto& [port, ok] : cases) {
        const Messages messages =
            validate_form(ssh_form([&](ConnectionForm& f) { f.port = port; }));
        EXPECT_EQ(messages, ok ? Messages{} : Messages{kPortMessage}) << "port '" << port << "'";
    }
}

TEST(Validation, MessagesInCheckOrder) {
    struct Case {
        const char* what;
        ConnectionForm form;
        Messages expected;
    };
    const Case cases[] = {
        {"new form with name and host", ssh_form([](ConnectionForm&) {}), {}},
        {"blank name and host",
         ssh_form([](ConnectionForm& f) {
             f.name = " ";
             f.host = "\t";
         }),
         {"Name is required", "Host is required"}},
        {"everything wrong",
         ssh_form([](ConnectionForm& f) {
             f.name = "";
             f.host = "";
             f.port = "0";
             f.auth = AuthMethod::DeviceIdentity;
         }),
         {"Name is required", "Host is required", kPortMessage,
          "SSH profiles support password or public-key authentication."}},
        {"ssh with device identity",
         ssh_form([](ConnectionForm& f) { f.auth = AuthMethod::DeviceIdentity; }),
         {"SSH profiles support password or public-key authentication."}},
        {"ssh with public key",
         ssh_form([](ConnectionForm& f) { f.auth = AuthMethod::PublicKey; }),
         {}},
        {"vnc with public key",
         ssh_form([](ConnectionForm& f) {
             f.kind = ConnectionKind::Vnc;
             f.auth = AuthMethod::PublicKey;
         }),
         {"VNC profiles support password authentication only."}},
        {"rdp with device identity",
         ssh_form([](ConnectionForm& f) {
             f.kind = ConnectionKind::Rdp;
             f.auth = AuthMethod::DeviceIdentity;
         }),
         {"RDP profiles support password authentication only."}},
        {"vorn with password, bad host: only the auth message",
         ssh_form([](ConnectionForm& f) {
             f.kind = ConnectionKind::Vorn;
             f.host = "nope";
         }),
         {"Vorn device profiles must use Vorn device identity."}},
        {"vorn with endpoint id", vorn_form(kEndpoint), {}},
        {"vorn with padded endpoint id", vorn_form("  " + kEndpoint + "\u00A0"), {}},
        {"vorn with plain host name",
         vorn_form("tablet.local"),
         {"Vorn device node must be an exact certified endpoint id."}},
        {"vorn never checks the port",
         [] {
             auto f = vorn_form(kEndpoint);
             f.port = "-1 junk";
             return f;
         }(),
         {}},
        {"vorn with empty host: only the host message", vorn_form("  "), {"Host is required"}},
    };
    for (const Case& c : cases) EXPECT_EQ(validate_form(c.form), c.expected) << c.what;
}

TEST(Validation, CompatibilityOfStoredProfiles) {
    ConnectionProfile profile;
    profile.kind = ConnectionKind::Vorn;
    profile.auth = AuthMethod::DeviceIdentity;
    profile.host = kEndpoint;
    EXPECT_EQ(compatibility_issue(profile), std::nullopt);
    profile.host = kEndpoint.substr(1);
    EXPECT_EQ(compatibility_issue(profile),
              "Vorn device node must be an exact certified endpoint id.");
    profile.host = "";
    EXPECT_EQ(compatibility_issue(profile), std::nullopt);  // left to the required-host check
    profile.auth = AuthMethod::Password;
    EXPECT_EQ(compatibility_issue(profile), "Vorn device profiles must use Vorn device identity.");
}

TEST(Validation, VisibleMessagesFollowTouchedFields) {
    ConnectionForm blank = new_form();
    blank.port = "0";
    const Messages all = {"Name is required", "Host is required", kPortMessage};
    ConnectionForm device = vorn_form("tablet.local");
    device.name = "";
    ConnectionForm mismatch =
        ssh_form([](ConnectionForm& f) { f.auth = AuthMethod::DeviceIdentity; });
    struct Case {
        const char* what;
        const ConnectionForm& form;
        FormFlags flags;
        Messages expected;
    };
    const Case cases[] = {
        {"untouched", blank, {}, {}},
        {"submitted shows all", blank, {.submitted = true}, all},
        {"name touched", blank, {.touched_name = true}, {"Name is required"}},
        {"host touched", blank, {.touched_host = true}, {"Host is required"}},
        {"port touched", blank, {.touched_port = true}, {kPortMessage}},
        {"endpoint needs host touched", device, {.touched_name = true}, {"Name is required"}},
        {"endpoint after host touched",
         device,
         {.touched_host = true},
         {"Vorn device node must be an exact certified endpoint id."}},
        {"endpoint after failed save",
         device,
         {.submitted = true},
         {"Name is required", "Vorn device node must be an exact certified endpoint id."}},
        {"fieldless message always shown",
         mismatch,
         {},
         {"SSH profiles support password or public-key authentication."}},
    };
    for (const Case& c : cases) EXPECT_EQ(visible_messages(c.form, c.flags), c.expected) << c.what;
}

ConnectionProfile make_profile(std::string name, ConnectionKind kind, std::string host,
                               std::uint16_t port, std::string user = "", bool favorite = false) {
    ConnectionProfile p;
    p.id = Uuid::random();
    p.name = std::move(name);
    p.kind = kind;
    p.auth = allowed_auth(kind).front();
    p.host = std::move(host);
    p.port = port;
    p.user = std::move(user);
    p.favorite = favorite;
    return p;
}

TEST(FormChoosers, KindChange) {
    struct Case {
        const char* what;
        ConnectionForm form;
        ConnectionKind to;
        std::string port;
        AuthMethod auth;
    };
    const auto with = [](std::string port, ConnectionKind kind, AuthMethod auth) {
        ConnectionForm f = new_form();
        f.port = std::move(port);
        f.kind = kind;
        f.auth = auth;
        return f;
    };
    const Case cases[] = {
        {"edited device profile to ssh",
         form_from_profile(make_profile("t", ConnectionKind::Vorn, kEndpoint, 0)),
         ConnectionKind::Ssh, "22", AuthMethod::Password},
        {"ssh 2222 to vnc keeps port", with("2222", ConnectionKind::Ssh, AuthMethod::PublicKey),
         ConnectionKind::Vnc, "2222", AuthMethod::Password},
        {"ssh 22 to vnc keeps 22", with("22", ConnectionKind::Ssh, AuthMethod::Password),
         ConnectionKind::Vnc, "22", AuthMethod::Password},
        {"to vorn clears port", with("5900", ConnectionKind::Vnc, AuthMethod::Password),
         ConnectionKind::Vorn, "", AuthMethod::DeviceIdentity},
        {"vorn to vnc fills default", with("", ConnectionKind::Vorn, AuthMethod::DeviceIdentity),
         ConnectionKind::Vnc, "5900", AuthMethod::Password},
        {"padded zero counts as empty", with(" 0 ", ConnectionKind::Ssh, AuthMethod::Password),
         ConnectionKind::Rdp, "3389", AuthMethod::Password},
        {"public key survives staying ssh", with("22", ConnectionKind::Ssh, AuthMethod::PublicKey),
         ConnectionKind::Ssh, "22", AuthMethod::PublicKey},
    };
    for (Case c : cases) {
        change_form_kind(c.form, c.to);
        EXPECT_EQ(c.form.kind, c.to) << c.what;
        EXPECT_EQ(c.form.port, c.port) << c.what;
        EXPECT_EQ(c.form.auth, c.auth) << c.what;
    }
    ConnectionForm f = new_form();
    change_form_auth(f, AuthMethod::PublicKey);
    EXPECT_EQ(f.auth, AuthMethod::PublicKey);
}

TEST(FormChoosers, NewFormAndFormFromProfile) {
    const ConnectionForm f = new_form();
    EXPECT_EQ(f, (ConnectionForm{"", "", "22", "", "", AuthMethod::Password, ConnectionKind::Ssh}));
    ConnectionProfile p = make_profile("Box", ConnectionKind::Ssh, "box", 2222, "ann");
    p.group = "lab";
    p.auth = AuthMethod::PublicKey;
    EXPECT_EQ(form_from_profile(p), (ConnectionForm{"Box", "box", "2222", "ann", "lab",
                                                    AuthMethod::PublicKey, ConnectionKind::Ssh}));
    EXPECT_EQ(form_from_profile(make_profile("t", ConnectionKind::Vorn, kEndpoint, 0)).port, "0");
}

TEST(FormToProfile, TrimsAndAppliesKindRules) {
    const Uuid id = Uuid::random();
    struct Case {
        const char* what;
        ConnectionForm form;
        std::uint16_t port;
        std::string user;
    };
    const auto form = [](ConnectionKind kind, std::string port, std::string user) {
        return ConnectionForm{" \u00A0Name ",
                              "\thost ",
                              std::move(port),
                              std::move(user),
                              " g ",
                              allowed_auth(kind).front(),
                              kind};
    };
    const Case cases[] = {
        {"ssh keeps trimmed user", form(ConnectionKind::Ssh, " +2222 ", " ann "), 2222, "ann"},
        {"vnc drops user", form(ConnectionKind::Vnc, "5901", "ann"), 5901, ""},
        {"rdp keeps user", form(ConnectionKind::Rdp, "3390", " bob"), 3390, "bob"},
        {"vorn: no port, no user", form(ConnectionKind::Vorn, "22", "ann"), 0, ""},
        {"unparsable port falls back to the default", form(ConnectionKind::Vnc, "x", ""), 5900, ""},
    };
    for (const Case& c : cases) {
        const ConnectionProfile p = profile_from_form(c.form, id);
        EXPECT_EQ(p.id, id) << c.what;
        EXPECT_EQ(p.name, "Name") << c.what;
        EXPECT_EQ(p.host, "host") << c.what;
        EXPECT_EQ(p.group, "g") << c.what;
        EXPECT_EQ(p.port, c.port) << c.what;
        EXPECT_EQ(p.user, c.user) << c.what;
        EXPECT_EQ(p.kind, c.form.kind) << c.what;
        EXPECT_EQ(p.auth, c.form.auth) << c.what;
        EXPECT_EQ(p.last_used, "Never") << c.what;
        EXPECT_EQ(p.presence, Presence::Unknown) << c.what;
        EXPECT_FALSE(p.favorite) << c.what;
    }
}

TEST(Save, RefusalMovesFocusToFirstFieldNeedingAttention) {
    struct Case {
        const char* what;
        ConnectionForm form;
        std::optional<SaveFocus> focus;
    };
    const Case cases[] = {
        {"blank name and host", ssh_form([](ConnectionForm& f) {
             f.name = "";
             f.host = "";
         }),
         SaveFocus::Name},
        {"blank host", ssh_form([](ConnectionForm& f) { f.host = " "; }), SaveFocus::Host},
        {"bad endpoint id", vorn_form("tablet"), SaveFocus::Host},
        {"empty port", ssh_form([](ConnectionForm& f) { f.port = " "; }), SaveFocus::Port},
        {"zero port: focus stays", ssh_form([](ConnectionForm& f) { f.port = "0"; }), std::nullopt},
        {"auth mismatch: focus stays",
         ssh_form([](ConnectionForm& f) { f.auth = AuthMethod::DeviceIdentity; }), std::nullopt},
    };
    for (const Case& c : cases) {
        const auto result = prepare_save(c.form, std::nullopt, {});
        ASSERT_FALSE(result.has_value()) << c.what;
        EXPECT_EQ(result.error().messages, validate_form(c.form)) << c.what;
        EXPECT_EQ(result.error().focus, c.focus) << c.what;
    }
}

TEST(Save, EditKeepsFavouritePresenceAndLastUsedInPlace) {
    std::vector<ConnectionProfile> profiles = {
        make_profile("a", ConnectionKind::Ssh, "a", 22),
        make_profile("b", ConnectionKind::Vnc, "b", 5900, "", true),
        make_profile("c", ConnectionKind::Ssh, "c", 22),
    };
    profiles[1].presence = Presence::Online;
    profiles[1].last_used = "2h ago";
    ConnectionForm form = form_from_profile(profiles[1]);
    form.name = "renamed";
    form.user = "ignored for vnc";
    const auto saved = prepare_save(form, profiles[1].id, profiles);
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->id, profiles[1].id);
    EXPECT_TRUE(saved->favorite);
    EXPECT_EQ(saved->presence, Presence::Online);
    EXPECT_EQ(saved->last_used, "2h ago");
    EXPECT_EQ(saved->user, "");
    store_saved_profile(profiles, *saved);
    ASSERT_EQ(profiles.size(), 3u);
    EXPECT_EQ(profiles[1].name, "renamed");
    EXPECT_EQ(profiles[2].name, "c");

    ConnectionForm fresh = ssh_form([](ConnectionForm&) {});
    const auto created = prepare_save(fresh, std::nullopt, profiles);
    ASSERT_TRUE(created.has_value());
    EXPECT_EQ(created->id.bytes()[6] >> 4, 4);
    EXPECT_FALSE(std::ranges::any_of(profiles, [&](auto& p) { return p.id == created->id; }));
    EXPECT_FALSE(created->favorite);
    store_saved_profile(profiles, *created);
    ASSERT_EQ(profiles.size(), 4u);
    EXPECT_EQ(profiles.back(), *created);
}

TEST(Listing, TargetLabelAndShortEndpointId) {
    const std::pair<ConnectionProfile, std::string> cases[] = {
        {make_profile("x", ConnectionKind::Ssh, "box", 22, "ann"), "ann@box:22"},
        {make_profile("x", ConnectionKind::Ssh, "box", 0), "box"},
        {make_profile("x", ConnectionKind::Vnc, "box", 5901, "ann"), "box:5901"},
        {make_profile("x", ConnectionKind::Rdp, "box", 3389, "bob"), "box:3389"},
        {make_profile("x", ConnectionKind::Vorn, kEndpoint, 0), "Vorn device d75a980182b1…"},
        {make_profile("x", ConnectionKind::Vorn, "short", 0), "Vorn device short"},
    };
    for (const auto& [profile, label] : cases) EXPECT_EQ(target_label(profile), label);

    EXPECT_EQ(short_endpoint_id("abcdefghijkl"), "abcdefghijkl");
    EXPECT_EQ(short_endpoint_id("abcdefghijklm"), "abcdefghijkl…");
    EXPECT_EQ(short_endpoint_id(""), "");
    // Characters, not bytes: twelve two-byte letters stay whole, a thirteenth is cut.
    EXPECT_EQ(short_endpoint_id("ääääääääääää"), "ääääääääääää");
    EXPECT_EQ(short_endpoint_id("äääääääääääää"), "ääääääääääää…");
}

TEST(Listing, SearchMatchesFieldsAndKind) {
    ConnectionProfile ssh = make_profile("Build", ConnectionKind::Ssh, "10.0.0.5", 22, "root");
    ssh.last_used = "2h ago";
    ConnectionProfile named = make_profile("SSH jump", ConnectionKind::Vnc, "jump", 5900);
    ConnectionProfile grouped = make_profile("Desk", ConnectionKind::Rdp, "desk", 3389);
    grouped.group = "Größe Büro";
    ConnectionProfile device = make_profile("Tablet", ConnectionKind::Vorn, kEndpoint, 0);
    const std::vector<ConnectionProfile> all = {ssh, named, grouped, device};
    struct Case {
        std::string query;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"", {"Build", "SSH jump", "Desk", "Tablet"}},
        {"   ", {"Build", "SSH jump", "Desk", "Tablet"}},
        {"  SSH ", {"Build", "SSH jump"}},
        {"ago", {}},
        {"ROOT", {"Build"}},
        {"10.0", {"Build"}},
        {"BÜRO", {"Desk"}},
        {"vorn", {"Tablet"}},
        {"D75A98", {"Tablet"}},
        {"rdp", {"Desk"}},
        {"device", {}},  // the kind's label is not searched, only its short name
    };
    for (const Case& c : cases) {
        std::vector<std::string> names;
        for (const auto& p : all) {
            if (matches_search(p, c.query)) names.push_back(p.name);
        }
        EXPECT_EQ(names, c.names) << "query '" << c.query << "'";
    }
}

TEST(Listing, OrderFavouritesFirstCaseInsensitiveStable) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, bool>> rows;  // name, favourite, in document order
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"favourite first", {{"b", false}, {"A", false}, {"c", true}}, {"c", "A", "b"}},
        {"case-insensitive", {{"Beta", false}, {"alpha", false}}, {"alpha", "Beta"}},
        {"prefix first", {{"abc", false}, {"ab", false}, {"AB c", false}}, {"ab", "AB c", "abc"}},
        {"non-ASCII lower-cased",
         {{"Émile", false}, {"éa", false}, {"z", false}},
         {"z", "éa", "Émile"}},
        {"ties keep document order",
         {{"X", false}, {"x", false}, {"X", true}, {"x", true}},
         {"X", "x", "X", "x"}},
    };
    for (const Case& c : cases) {
        std::vector<ConnectionProfile> profiles;
        for (const auto& [name, fav] : c.rows) {
            profiles.push_back(make_profile(name, ConnectionKind::Ssh, "h", 22, "", fav));
        }
        const auto rows = visible_profiles(profiles, "");
        std::vector<std::string> names;
        for (const auto* p : rows) names.push_back(p->name);
        EXPECT_EQ(names, c.expected) << c.what;
        // list_order on its own gives the same order.
        std::vector<ConnectionProfile> sorted = profiles;
        std::ranges::stable_sort(sorted, list_order);
        for (std::size_t i = 0; i < sorted.size(); ++i)
            EXPECT_EQ(sorted[i].id, rows[i]->id) << c.what;
        if (std::string(c.what) == "ties keep document order") {
            EXPECT_EQ(rows[0], &profiles[2]);
            EXPECT_EQ(rows[1], &profiles[3]);
            EXPECT_EQ(rows[2], &profiles[0]);
        }
    }
}

}  // namespace
