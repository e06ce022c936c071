#pragma once
// The document fuzzed changes are applied to: one well-formed profile written by actor 1, so
// changes from kFuzzPeer can refer to its map (1@1), entry (2@1) and name text (3@1).

#include "doc/connections.h"
#include "vorn/doc/document.h"

namespace remote {

inline constexpr vorn_ui::doc::ActorId kFuzzPeer = {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2};

inline vorn_ui::doc::Document fuzz_base_document() {
    vorn_ui::doc::ActorId one{};
    one.fill(1);
    vorn_ui::doc::Document doc(one);
    ConnectionProfile p;
    p.id = *Uuid::parse("0b7e8a52-3c1f-4d2a-9e55-6a4f1c2d3e4f");
    p.name = "Build Box";
    p.host = "build-01.lab.lan";
    p.port = 22;
    write_profile(doc, p);
    doc.commit();
    return doc;
}

}  // namespace remote
