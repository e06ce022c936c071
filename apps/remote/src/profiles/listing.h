#pragma once
// What the views show of a profile and how the list is filtered and ordered: target label,
// shortened endpoint ids, search matching and list order. Pure functions; any thread.

#include <string>
#include <string_view>
#include <vector>

#include "profiles/profile.h"

namespace remote {

// "user@host:port" (user for Ssh only, port when not 0), or "Vorn device " + short endpoint id.
[[nodiscard]] std::string target_label(const ConnectionProfile& profile);
// The first 12 characters and "…" when longer; otherwise the text itself.
[[nodiscard]] std::string short_endpoint_id(std::string_view text);

// True when the trimmed, lower-cased query occurs in the lower-cased name, host, user, group or
// kind short name; an empty query matches everything.
[[nodiscard]] bool matches_search(const ConnectionProfile& profile, std::string_view query);
// Strict weak order for a stable sort: favourites first, then lower-cased name byte by byte.
[[nodiscard]] bool list_order(const ConnectionProfile& a, const ConnectionProfile& b);

// The visible rows: the profiles matching `query`, stably sorted by list_order.
[[nodiscard]] std::vector<const ConnectionProfile*> visible_profiles(
    const std::vector<ConnectionProfile>& profiles, std::string_view query);

}  // namespace remote
