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
    if (profile.kind == ConnectionKind::Vorn) return "Vorn device " + short_endpoint_id(profile.host);
    std::string target = profile.host;
    if (profile.port != 0) target += ":" + std::to_string(profile.port);
    if (profile.kind == ConnectionKind::Ssh && !profile.user.empty()) {
        return profile.user + "@" + target;
    }
    return target;
}

bool matches_search(const ConnectionProfile& profile, std::string_view query) {
    const std::string q = lower_unicode(trim_unicode(query));
    if (q.empty()) return true;
    for (const std::string* field : {&profile.name, &profile.host, &profile.user, &profile.group}) {
        if (lower_unicode(*field).find(q) != std::string::npos) return true;
    }
    return lower_unicode(kind_short_name(profile.kind)).find(q) != std::string::npos;
}

bool list_order(const ConnectionProfile& a, const ConnectionProfile& b) {
    if (a.favorite != b.favorite) return a.favorite;
    // std::string compares through char_traits<char>, which orders bytes as unsigned values, so
    // this is a byte-wise comparison of the UTF-8 texts with a prefix sorting first.
    return lower_unicode(a.name) < lower_unicode(b.name);
}

std::vector<const ConnectionProfile*> visible_profiles(
    const std::vector<ConnectionProfile>& profiles, std::string_view query) {
    std::vector<const ConnectionProfile*> rows;
    rows.reserve(profiles.size());
    for (const ConnectionProfile& profile : profiles) {
        if (matches_search(profile, query)) rows.push_back(&profile);
    }
    std::ranges::stable_sort(rows, [](const ConnectionProfile* a, const ConnectionProfile* b) {
        return list_order(*a, *b);
    });
    return rows;
}

}  // namespace remote
