#include "json/strict_json.h"

#include <nlohmann/json.hpp>

namespace remote::json {
namespace {

Json of_kind(Json::Kind kind) {
    Json v;
    v.kind = kind;
    return v;
}

class TreeBuilder {
  public:
    bool null() { return put(Json{}); }
    bool boolean(bool value) {
        Json v = of_kind(Json::Kind::Bool);
        v.boolean = value;
        return put(std::move(v));
    }
    bool number_integer(std::int64_t value) {
        Json v = of_kind(Json::Kind::Integer);
        v.integer = value;
        return put(std::move(v));
    }
    bool number_unsigned(std::uint64_t value) {
        Json v = of_kind(Json::Kind::Unsigned);
        v.unsigned_integer = value;
        return put(std::move(v));
    }
    bool number_float(double, const std::string& source) {
        Json v = of_kind(Json::Kind::Float);
        v.text = source;
        return put(std::move(v));
    }
    bool string(std::string& value) {
        Json v = of_kind(Json::Kind::String);
        v.text = std::move(value);
        return put(std::move(v));
    }
    bool binary(nlohmann::json::binary_t&) { return fail("binary values are not JSON"); }
    bool start_object(std::size_t) { return open(Json::Kind::Object); }
    bool key(std::string& name) {
        stack_.back()->members.push_back(Json::Member{std::move(name), Json{}});
        return true;
    }
    bool end_object() {
        stack_.pop_back();
        return true;
    }
    bool start_array(std::size_t) { return open(Json::Kind::Array); }
    bool end_array() {
        stack_.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) {
        // The library's sentence without its "[json.exception.parse_error.101] " tag.
        std::string_view what = ex.what();
        if (auto close = what.find("] ");
            what.starts_with("[json.exception.") && close != std::string_view::npos) {
            what.remove_prefix(close + 2);
        }
        return fail(std::string(what));
    }

    Json root;
    std::string error;

  private:
    bool fail(std::string message) {
        if (error.empty()) error = std::move(message);
        return false;
    }
    Json* slot() {
        if (stack_.empty()) return &root;
        Json* top = stack_.back();
        if (top->kind == Json::Kind::Array) return &top->items.emplace_back();
        return &top->members.back().value;
    }
    bool put(Json value) {
        *slot() = std::move(value);
        return true;
    }
    bool open(Json::Kind kind) {
        if (stack_.size() >= kMaxDepth) return fail("JSON nesting is too deep");
        Json* target = slot();
        target->kind = kind;
        stack_.push_back(target);
        return true;
    }
    std::vector<Json*> stack_;
};

}  // namespace

std::expected<Json, std::string> parse(std::string_view text) {
    TreeBuilder builder;
    bool ok = false;
    try {
        ok = nlohmann::json::sax_parse(text, &builder, nlohmann::json::input_format_t::json, true);
    } catch (const std::exception& ex) {
        return std::unexpected(std::string(ex.what()));
    }
    if (!ok) {
        return std::unexpected(builder.error.empty() ? std::string("malformed JSON") : builder.error);
    }
    return std::move(builder.root);
}

std::string describe(const Json& v) {
    switch (v.kind) {
        case Json::Kind::Null:
            return "null";
        case Json::Kind::Bool:
            return v.boolean ? "boolean `true`" : "boolean `false`";
        case Json::Kind::Integer:
            return "integer `" + std::to_string(v.integer) + "`";
        case Json::Kind::Unsigned:
            return "integer `" + std::to_string(v.unsigned_integer) + "`";
        case Json::Kind::Float:
            return "floating point `" + v.text + "`";
        case Json::Kind::String:
            return "string " +
                   nlohmann::json(v.text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        case Json::Kind::Array:
            return "sequence";
        case Json::Kind::Object:
            return "map";
    }
    return "value";
}

std::string invalid_type(const Json& v, std::string_view expected) {
    return "invalid type: " + describe(v) + ", expected " + std::string(expected);
}

std::string invalid_value(const Json& v, std::string_view expected) {
    return "invalid value: " + describe(v) + ", expected " + std::string(expected);
}

}  // namespace remote::json
