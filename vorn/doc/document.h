#pragma once
// The platform's replicated document: a CRDT of nested maps, text objects and typed scalars whose
// edits, made on several devices at once, converge without losing either side's changes.
// Not thread-safe: one thread owns a Document (the UI thread for the connections document).

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vorn_ui::doc {

// 16 random bytes naming one writer (one device, or one running instance on it).
using ActorId = std::array<std::uint8_t, 16>;
// SHA-256 of a change's encoded bytes.
using ChangeHash = std::array<std::uint8_t, 32>;

// Every operation's identity: a Lamport counter and the actor that made it. Ordered by counter,
// then actor bytes; "highest id wins" everywhere below refers to this order.
struct OpId {
    std::uint64_t counter = 0;
    ActorId actor{};
    friend constexpr auto operator<=>(const OpId&, const OpId&) = default;
    friend constexpr bool operator==(const OpId&, const OpId&) = default;
};

// An object is named by the operation that created it; the root map has the zero id.
struct ObjId {
    OpId op;
    [[nodiscard]] static constexpr ObjId root() { return ObjId{}; }
    [[nodiscard]] constexpr bool is_root() const { return op == OpId{}; }
    friend constexpr auto operator<=>(const ObjId&, const ObjId&) = default;
    friend constexpr bool operator==(const ObjId&, const ObjId&) = default;
};

enum class ObjType : std::uint8_t { Map = 0, Text = 1 };

struct Null {
    friend constexpr bool operator==(Null, Null) = default;
};
struct Bytes {
    std::vector<std::uint8_t> data;
    friend bool operator==(const Bytes&, const Bytes&) = default;
};
// Milliseconds since the Unix epoch.
struct Timestamp {
    std::int64_t millis = 0;
    friend constexpr bool operator==(Timestamp, Timestamp) = default;
};
// A counter's value is its initial value plus every increment made to it on any replica.
struct Counter {
    std::int64_t value = 0;
    friend constexpr bool operator==(Counter, Counter) = default;
};

using ScalarValue = std::variant<Null, bool, std::int64_t, std::uint64_t, double, std::string,
                                 Bytes, Timestamp, Counter>;

struct ObjectRef {
    ObjType type = ObjType::Map;
    ObjId id;
    friend bool operator==(const ObjectRef&, const ObjectRef&) = default;
};

// What a map key holds: a scalar, or a nested object.
using Value = std::variant<ScalarValue, ObjectRef>;

// One operation as it travels inside a change.
struct Op {
    enum class Action : std::uint8_t {
        MakeMap = 0,    // map key := new map object (id of the object = id of this op)
        MakeText = 1,   // map key := new text object
        Put = 2,        // map key := scalar
        Delete = 3,     // remove map key
        Increment = 4,  // add to the counter named by pred[0]
        Insert = 5,     // text: insert `value` (a code point as uint64) after element `elem`
        Remove = 6,     // text: delete element `elem`
    };
    Action action = Action::Put;
    ObjId obj;
    std::string key;         // map operations
    OpId elem;               // text operations; the zero id means "at the start"
    ScalarValue value;       // Put, Insert (code point), Increment (int64 delta)
    std::vector<OpId> pred;  // map operations: the values this op overwrites
    friend bool operator==(const Op&, const Op&) = default;
};

// A group of operations made by one actor in one transaction. The ops' ids are consecutive
// counters from start_op with the change's actor.
struct Change {
    ActorId actor{};
    std::uint64_t seq = 0;       // 1 for an actor's first change
    std::uint64_t start_op = 0;  // counter of the first op
    std::int64_t time_millis = 0;
    std::vector<ChangeHash> deps;  // sorted
    std::vector<Op> ops;
    friend bool operator==(const Change&, const Change&) = default;
};

// The canonical byte form of a change, its hash, and the bounded decoder of untrusted bytes.
[[nodiscard]] std::vector<std::uint8_t> encode_change(const Change& change);
[[nodiscard]] ChangeHash hash_of(std::span<const std::uint8_t> encoded);
[[nodiscard]] std::expected<Change, std::string> decode_change(std::span<const std::uint8_t> bytes);

[[nodiscard]] std::string to_hex(std::span<const std::uint8_t> bytes);
[[nodiscard]] ActorId random_actor();

class Document {
  public:
    Document();  // a fresh random actor
    explicit Document(const ActorId& actor);
    ~Document();
    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    [[nodiscard]] const ActorId& actor_id() const;
    // Only before this actor has made any change.
    [[nodiscard]] std::expected<void, std::string> set_actor(const ActorId& actor);

    // ---- reading (sees the open transaction's edits) ----
    // The winning value at a key: nullopt when absent. Fails when `map` is not a live map.
    [[nodiscard]] std::expected<std::optional<Value>, std::string> get(const ObjId& map,
                                                                       std::string_view key) const;
    // Every concurrent value at a key, the winner last (ascending op id).
    [[nodiscard]] std::expected<std::vector<Value>, std::string> get_all(
        const ObjId& map, std::string_view key) const;
    // Keys holding a value, in byte order (the same order on every replica).
    [[nodiscard]] std::expected<std::vector<std::string>, std::string> keys(const ObjId& map) const;
    // Every key with its winning value, in key order: one pass for readers of a whole map.
    [[nodiscard]] std::expected<std::vector<std::pair<std::string, Value>>, std::string> entries(
        const ObjId& map) const;
    // A text's content as UTF-8.
    [[nodiscard]] std::expected<std::string, std::string> text(const ObjId& text) const;
    // Length of a text in Unicode scalar values.
    [[nodiscard]] std::expected<std::size_t, std::string> text_length(const ObjId& text) const;
    [[nodiscard]] std::optional<ObjType> object_type(const ObjId& obj) const;

    // ---- writing (joins the open transaction, opening one when none is open) ----
    // Creates an object at a key, replacing what was there, and returns its id.
    [[nodiscard]] std::expected<ObjId, std::string> put_object(const ObjId& map,
                                                               std::string_view key, ObjType type);
    [[nodiscard]] std::expected<void, std::string> put(const ObjId& map, std::string_view key,
                                                       ScalarValue value);
    // Fails when the key holds nothing.
    [[nodiscard]] std::expected<void, std::string> delete_key(const ObjId& map,
                                                              std::string_view key);
    // Fails unless the key holds a counter.
    [[nodiscard]] std::expected<void, std::string> increment(const ObjId& map, std::string_view key,
                                                             std::int64_t delta);
    // Positions and lengths count Unicode scalar values; `insert` must be valid UTF-8.
    [[nodiscard]] std::expected<void, std::string> splice_text(const ObjId& text, std::size_t pos,
                                                               std::size_t del,
                                                               std::string_view insert);

    // ---- transactions and changes ----
    // Closes the open transaction into one change (nothing when it made no ops). Every call below
    // that hands out heads or changes commits first.
    void commit();
    // Runs `fn` as exactly one change: committed when it succeeds, rolled back when it fails.
    [[nodiscard]] std::expected<void, std::string> transact(
        const std::function<std::expected<void, std::string>(Document&)>& fn);
    // Undoes the open transaction's edits.
    void rollback();
    [[nodiscard]] bool in_transaction() const;

    [[nodiscard]] std::vector<ChangeHash> get_heads();
    // Changes not reachable from `heads`, in an order that satisfies their dependencies. Unknown
    // hashes in `heads` are ignored (their changes are then included).
    [[nodiscard]] std::vector<Change> get_changes_since(std::span<const ChangeHash> heads);
    [[nodiscard]] std::vector<Change> get_changes() { return get_changes_since({}); }
    // Applies changes from other replicas in any order: known ones are skipped, ones whose
    // dependencies have not arrived wait in a queue until they do. Fails on a malformed change
    // (which is then dropped) without affecting the others.
    [[nodiscard]] std::expected<void, std::string> apply_changes(std::span<const Change> changes);
    [[nodiscard]] std::expected<void, std::string> apply_changes(std::vector<Change>&& changes);
    [[nodiscard]] std::expected<void, std::string> merge(Document& other);
    [[nodiscard]] std::size_t pending_changes() const;  // waiting for dependencies
    [[nodiscard]] bool has_change(const ChangeHash& hash) const;

    // Called with every change this document commits locally, with its encoded bytes and hash
    // (persistence appends it to the actor's log).
    using CommitObserver =
        std::function<void(const Change&, std::span<const std::uint8_t>, const ChangeHash&)>;
    void set_commit_observer(CommitObserver observer);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Edits a text so that its content becomes `new_text`, replacing only what lies between the
// common prefix and the common suffix (whole code points).
[[nodiscard]] std::expected<void, std::string> splice_text_diffed(Document& doc, const ObjId& text,
                                                                  std::string_view new_text);

}  // namespace vorn_ui::doc

template <>
struct std::hash<vorn_ui::doc::OpId> {
    std::size_t operator()(const vorn_ui::doc::OpId& id) const noexcept {
        std::size_t h = static_cast<std::size_t>(id.counter) * 0x9E3779B97F4A7C15ull;
        for (std::uint8_t b : id.actor) h = (h ^ b) * 0x100000001B3ull;
        return h;
    }
};
template <>
struct std::hash<vorn_ui::doc::ObjId> {
    std::size_t operator()(const vorn_ui::doc::ObjId& id) const noexcept {
        return std::hash<vorn_ui::doc::OpId>{}(id.op);
    }
};
