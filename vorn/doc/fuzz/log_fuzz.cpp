// Any bytes as an actor's log file: the reader must never crash, and whatever it accepts must
// apply to a document (or be refused) without harm.
#include <cstddef>
#include <cstdint>
#include <span>

#include "vorn/doc/persist.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    auto scan = vorn_ui::persist::scan_log(bytes, 0);
    if (scan.good_end > size) __builtin_trap();
    vorn_ui::doc::Document doc(vorn_ui::doc::ActorId{});
    (void)doc.apply_changes(scan.changes);
    // Reading everything back walks every object the changes made.
    auto keys = doc.keys(vorn_ui::doc::ObjId::root());
    if (keys) {
        for (const auto& k : *keys) {
            auto v = doc.get(vorn_ui::doc::ObjId::root(), k);
            if (v && *v) {
                if (const auto* o = std::get_if<vorn_ui::doc::ObjectRef>(&**v)) {
                    if (o->type == vorn_ui::doc::ObjType::Text)
                        (void)doc.text(o->id);
                    else
                        (void)doc.keys(o->id);
                }
            }
        }
    }
    // A record boundary anywhere in the middle: the reader resumes there as a refresh would.
    if (size > 16) (void)vorn_ui::persist::scan_log(bytes.subspan(size / 2), size / 2);
    return 0;
}
