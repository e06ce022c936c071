// Any bytes as one change from a peer, past the log's checksum: decoding must be bounded, and
// applying what decodes must either succeed or leave the document exactly as it was.
#include <cstddef>
#include <cstdint>
#include <span>

#include "vorn/doc/document.h"

namespace {

using namespace vorn_ui::doc;

// A small document with a map and a text that fuzzed changes can refer to: actor 1's first
// change makes map 1@1 at "m" and text 2@1 at "t" holding "ab" (ids 3@1 and 4@1).
Document base() {
    ActorId a{};
    a.fill(1);
    Document d(a);
    (void)d.put_object(ObjId::root(), "m", ObjType::Map);
    auto t = d.put_object(ObjId::root(), "t", ObjType::Text);
    if (t) (void)d.splice_text(*t, 0, 0, "ab");
    d.commit();
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto change = decode_change(std::span(data, size));
    if (!change) return 0;
    // A decoded change re-encodes to something that decodes to the same change (a NaN value
    // compares unequal to itself, hence the second test).
    auto again = decode_change(encode_change(*change));
    if (!again || !(*again == *change || *again != *again)) __builtin_trap();
    Document d = base();
    auto t = ObjId{OpId{2, d.actor_id()}};
    auto before = d.text(t);
    auto r = d.apply_changes(std::span(&*change, 1));
    if (!r && d.text(t) != before) __builtin_trap();
    return 0;
}
