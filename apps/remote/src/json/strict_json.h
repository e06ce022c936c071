#pragma once
// A strict JSON reader for the program's own formats: it keeps every member
// of an object in order, repeated keys included, so a reader can refuse a
// field given twice instead of silently keeping one copy. Pure; any thread.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace remote::json {

struct Json {
    enum class Kind { Null, Bool, Integer, Unsigned, Float, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::int64_t integer = 0;
    std::uint64_t unsigned_integer = 0;
    std::string text;  // a string's value, or a float's text as written
    std::vector<Json> items;
    struct Member;
    std::vector<Member> members;
};

struct Json::Member {
    std::string key;
    Json value;
};

// Nesting deeper than this is refused: the tree is walked and destroyed
// recursively, and skipped members may hold anything.
inline constexpr std::size_t kMaxDepth = 128;

// One complete JSON value with nothing but white space after it; the error is
// the library's sentence.
[[nodiscard]] std::expected<Json, std::string> parse(std::string_view text);

// "null", "boolean `true`", "integer `7`", "string \"x\"", "sequence", "map"…
[[nodiscard]] std::string describe(const Json& value);

// "invalid type: {found}, expected {expected}".
[[nodiscard]] std::string invalid_type(const Json& value, std::string_view expected);

// "invalid value: {found}, expected {expected}".
[[nodiscard]] std::string invalid_value(const Json& value, std::string_view expected);

}  // namespace remote::json
