#pragma once
// Test helper: a canonical text of a document's whole content, conflicts included, so two
// replicas can be compared byte for byte.

#include <string>

#include "vorn/doc/document.h"

namespace vorn_ui::doc::testing {

inline std::string dump_value(const Document& doc, const Value& v);

inline std::string dump_object(const Document& doc, const ObjId& id) {
    if (doc.object_type(id) == ObjType::Text) return "\"" + doc.text(id).value() + "\"";
    std::string out = "{";
    const std::vector<std::string> keys = doc.keys(id).value();
    for (const std::string& k : keys) {
        out += k + ":";
        const std::vector<Value> values = doc.get_all(id, k).value();
        for (const Value& v : values) out += dump_value(doc, v) + "|";
        out += ",";
    }
    return out + "}";
}

inline std::string dump_value(const Document& doc, const Value& v) {
    if (const auto* o = std::get_if<ObjectRef>(&v)) return dump_object(doc, o->id);
    const auto& s = std::get<ScalarValue>(v);
    std::string out = "s" + std::to_string(s.index()) + "=";
    std::visit(
        [&](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::string>)
                out += x;
            else if constexpr (std::is_same_v<T, bool>)
                out += x ? "t" : "f";
            else if constexpr (std::is_same_v<T, std::int64_t> ||
                               std::is_same_v<T, std::uint64_t> || std::is_same_v<T, double>)
                out += std::to_string(x);
            else if constexpr (std::is_same_v<T, Counter>)
                out += std::to_string(x.value);
            else if constexpr (std::is_same_v<T, Timestamp>)
                out += std::to_string(x.millis);
            else if constexpr (std::is_same_v<T, Bytes>)
                out += to_hex(x.data);
        },
        s);
    return out;
}

inline std::string dump(const Document& doc) {
    return dump_object(doc, ObjId::root());
}

}  // namespace vorn_ui::doc::testing
