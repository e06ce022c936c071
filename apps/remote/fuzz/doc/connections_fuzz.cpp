// Whatever another replica puts into the connections document: reading it never fails, and
// writing back what was read and reading again gives the same profiles.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "doc/connections.h"
#include "fuzz_base.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vorn_ui::doc;
    auto change = decode_change(std::span(data, size));
    if (!change) return 0;
    Document doc = remote::fuzz_base_document();
    // The input chooses the operations; it cannot guess the base's hashes, so they are given.
    change->actor = remote::kFuzzPeer;
    change->seq = 1;
    change->deps = doc.get_heads();
    (void)doc.apply_changes(std::span(&*change, 1));

    // Compared by id: writing a profile read from another key form moves it to its canonical
    // key, which may sort elsewhere.
    auto by_id = [](std::vector<remote::ConnectionProfile> v) {
        std::sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
        return v;
    };
    auto loaded = by_id(remote::load_profiles(doc));
    for (const auto& p : loaded) remote::write_profile(doc, p);
    if (by_id(remote::load_profiles(doc)) != loaded) std::abort();
    for (const auto& p : loaded) remote::delete_profile(doc, p.id);
    if (!remote::load_profiles(doc).empty()) std::abort();
    return 0;
}
