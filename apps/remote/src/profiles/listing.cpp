#include "profiles/listing.h"

#include <algorithm>

#include "profiles/unicode.h"

namespace remote {

std::string short_endpoint_id(std::string_view text) {
    const std::size_t prefix = utf8_prefix_bytes(text, 12);
    if (prefix >= text.size()) return std::string(text);
    std::string out(text.substr(0, prefix));
    out += "…";
    return out;
}

std::string target_label(const ConnectionProfile& profile) {
    if (profile.kind == ConnectionKind::Vorn) {
        return "Vorn device " + short_endpoint_id(profile.host);
    }
    // Appended piece by piece: GCC 12 at -O3 misreads `":" + std::to_string(...)` as an
    // overlapping copy (-Wrestrict).
    std::string label;
    if (profile.kind == ConnectionKind::Ssh && !profile.user.empty()) {
        label.append(profile.user).append("@");
    }
    label.append(profile.host);
    if (profile.port != 0) label.append(":").append(std::to_string(profile.port));
    return label;
}

namespace {

// `q` is already trimmed and lower-cased.
bool matches_lowered(const ConnectionProfile& profile, const std::string& q) {
    if (q.empty()) return true;
    for (const std::string* field : {&profile.name, &profile.host, &profile.user, &profile.group}) {
        if (lower_unicode(*field).find(q) != std::string::npos) return true;
    }
    return lower_unicode(kind_short_name(profile.kind)).find(q) != std::string::npos;
}

}  // namespace

bool matches_search(const ConnectionProfile& profile, std::string_view query) {
    return matches_lowered(profile, lower_unicode(trim_unicode(query)));
}

bool list_order(const ConnectionProfile& a, const ConnectionProfile& b) {
    if (a.favorite != b.favorite) return a.favorite;
    // std::string compares through char_traits<char>, which orders bytes as unsigned values, so
    // this is a byte-wise comparison of the UTF-8 texts with a prefix sorting first.
    return lower_unicode(a.name) < lower_unicode(b.name);
}

std::vector<const ConnectionProfile*> visible_profiles(
    const std::vector<ConnectionProfile>& profiles, std::string_view query) {
    // The same order as list_order, with each name lower-cased once instead of per comparison.
    struct Row {
        bool favorite;
        std::string key;
        const ConnectionProfile* profile;
    };
    const std::string q = lower_unicode(trim_unicode(query));
    std::vector<Row> rows;
    rows.reserve(profiles.size());
    for (const ConnectionProfile& profile : profiles) {
        if (matches_lowered(profile, q)) {
            rows.push_back({profile.favorite, lower_unicode(profile.name), &profile});
        }
    }
    std::ranges::stable_sort(rows, [](const Row& a, const Row& b) {
        if (a.favorite != b.favorite) return a.favorite;
        return a.key < b.key;
    });
    std::vector<const ConnectionProfile*> out;
    out.reserve(rows.size());
    for (const Row& row : rows) out.push_back(row.profile);
    return out;
}

}  // namespace remote
