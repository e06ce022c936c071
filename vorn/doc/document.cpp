#include "vorn/doc/document.h"

#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "vorn/doc/utf8.h"

namespace vorn_ui::doc {

namespace {

struct HashHasher {
    std::size_t operator()(const ChangeHash& h) const noexcept {
        std::size_t v;
        std::memcpy(&v, h.data(), sizeof v);  // already uniformly distributed
        return v;
    }
};

struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
        return std::hash<std::string_view>{}(s);
    }
};

// A map key's live values: every put not yet overwritten, ascending by op id (winner last).
struct MapEntry {
    OpId id;
    Value value;
};
using Entries = std::vector<MapEntry>;

struct Elem {
    OpId id;
    char32_t ch = 0;
    bool deleted = false;
};

// Texts this long keep a position index: without it every operation on a long text (a large
// paste from another replica) would scan it, and applying the change would take quadratic time.
constexpr std::size_t kIndexFrom = 64;

struct Object {
    ObjType type = ObjType::Map;
    std::unordered_map<std::string, Entries, StringHash, std::equal_to<>> map;
    std::vector<Elem> elems;  // text, in document order, tombstones included
    std::size_t visible = 0;
    // Element id -> position; complete when elems.size() >= kIndexFrom, else empty.
    std::unordered_map<OpId, std::size_t> where;
};

void insert_elems(Object& t, std::size_t idx, std::vector<Elem>&& run) {
    t.elems.insert(t.elems.begin() + static_cast<std::ptrdiff_t>(idx),
                   std::make_move_iterator(run.begin()), std::make_move_iterator(run.end()));
    if (t.elems.size() < kIndexFrom) return;
    std::size_t from = t.where.empty() ? 0 : idx;
    for (std::size_t i = from; i < t.elems.size(); ++i) t.where[t.elems[i].id] = i;
}

void erase_elems(Object& t, std::size_t idx, std::size_t count) {
    for (std::size_t i = idx; i < idx + count && !t.where.empty(); ++i) {
        t.where.erase(t.elems[i].id);
    }
    auto first = t.elems.begin() + static_cast<std::ptrdiff_t>(idx);
    t.elems.erase(first, first + static_cast<std::ptrdiff_t>(count));
    if (t.elems.size() < kIndexFrom) {
        t.where.clear();
        return;
    }
    for (std::size_t i = idx; i < t.elems.size(); ++i) t.where[t.elems[i].id] = i;
}

// How to take one applied operation back: a transaction that fails (locally, or a malformed
// change from a peer) leaves the document exactly as it was.
struct Undo {
    enum class Kind : std::uint8_t { KeyRestore, ObjectCreated, RunInserted, ElemRemoved };
    Kind kind;
    ObjId obj;
    std::string key;
    Entries previous;
    OpId elem;              // ElemRemoved: the element; RunInserted: the run's first element
    std::size_t count = 0;  // RunInserted: the run's length
};

// ---- byte encoding ----

class Writer {
  public:
    std::vector<std::uint8_t> out;
    void byte(std::uint8_t b) { out.push_back(b); }
    void raw(std::span<const std::uint8_t> b) { out.insert(out.end(), b.begin(), b.end()); }
    void uvar(std::uint64_t v) {
        while (v >= 0x80) {
            out.push_back(static_cast<std::uint8_t>(v | 0x80));
            v >>= 7;
        }
        out.push_back(static_cast<std::uint8_t>(v));
    }
    void svar(std::int64_t v) {
        uvar((static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63));
    }
    void str(std::string_view s) {
        uvar(s.size());
        out.insert(out.end(), s.begin(), s.end());
    }
};

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> in) : in_(in) {}
    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] bool at_end() const { return pos_ == in_.size(); }
    [[nodiscard]] std::size_t remaining() const { return in_.size() - pos_; }
    void fail() { ok_ = false; }
    std::uint8_t byte() {
        if (!ok_ || pos_ >= in_.size()) return fail(), 0;
        return in_[pos_++];
    }
    template <std::size_t N>
    std::array<std::uint8_t, N> fixed() {
        std::array<std::uint8_t, N> a{};
        if (!ok_ || remaining() < N) return fail(), a;
        std::memcpy(a.data(), in_.data() + pos_, N);
        pos_ += N;
        return a;
    }
    std::uint64_t uvar() {
        std::uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            std::uint8_t b = byte();
            if (!ok_) return 0;
            if (shift == 63 && b > 1) return fail(), 0;
            v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) return v;
        }
        return fail(), 0;
    }
    std::int64_t svar() {
        std::uint64_t u = uvar();
        return static_cast<std::int64_t>((u >> 1) ^ (~(u & 1) + 1));
    }
    // A count of items that each take at least `min_bytes`, so a corrupt count cannot make us
    // allocate more than the input could ever describe.
    std::size_t count(std::size_t min_bytes) {
        std::uint64_t n = uvar();
        if (!ok_ || n > remaining() / std::max<std::size_t>(min_bytes, 1)) return fail(), 0;
        return static_cast<std::size_t>(n);
    }
    std::string str() {
        std::size_t n = count(1);
        if (!ok_) return {};
        std::string s(reinterpret_cast<const char*>(in_.data() + pos_), n);
        pos_ += n;
        return s;
    }
    std::vector<std::uint8_t> blob() {
        std::size_t n = count(1);
        if (!ok_) return {};
        std::vector<std::uint8_t> v(in_.begin() + static_cast<std::ptrdiff_t>(pos_),
                                    in_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        return v;
    }

  private:
    std::span<const std::uint8_t> in_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

constexpr std::uint8_t kChangeFormat = 1;

bool is_map_action(Op::Action a) {
    return a == Op::Action::MakeMap || a == Op::Action::MakeText || a == Op::Action::Put ||
           a == Op::Action::Delete || a == Op::Action::Increment;
}

void write_scalar(Writer& w, const ScalarValue& v) {
    w.byte(static_cast<std::uint8_t>(v.index()));
    std::visit(
        [&](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, Null>) {
            } else if constexpr (std::is_same_v<T, bool>) {
                w.byte(x ? 1 : 0);
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                w.svar(x);
            } else if constexpr (std::is_same_v<T, std::uint64_t>) {
                w.uvar(x);
            } else if constexpr (std::is_same_v<T, double>) {
                auto bits = std::bit_cast<std::uint64_t>(x);
                for (int i = 0; i < 8; ++i) w.byte(static_cast<std::uint8_t>(bits >> (8 * i)));
            } else if constexpr (std::is_same_v<T, std::string>) {
                w.str(x);
            } else if constexpr (std::is_same_v<T, Bytes>) {
                w.uvar(x.data.size());
                w.raw(x.data);
            } else if constexpr (std::is_same_v<T, Timestamp>) {
                w.svar(x.millis);
            } else if constexpr (std::is_same_v<T, Counter>) {
                w.svar(x.value);
            }
        },
        v);
}

ScalarValue read_scalar(Reader& r) {
    switch (r.byte()) {
        case 0:
            return Null{};
        case 1: {
            std::uint8_t b = r.byte();
            if (b > 1) r.fail();
            return b == 1;
        }
        case 2:
            return r.svar();
        case 3:
            return r.uvar();
        case 4: {
            auto b = r.fixed<8>();
            std::uint64_t bits = 0;
            for (int i = 7; i >= 0; --i) bits = (bits << 8) | b[static_cast<std::size_t>(i)];
            return std::bit_cast<double>(bits);
        }
        case 5:
            return r.str();
        case 6:
            return Bytes{r.blob()};
        case 7:
            return Timestamp{r.svar()};
        case 8:
            return Counter{r.svar()};
        default:
            r.fail();
            return Null{};
    }
}

std::int64_t now_millis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string describe_object(const ObjId& id) {
    if (id.is_root()) return "the root map";
    return "object " + std::to_string(id.op.counter) + "@" + to_hex(id.op.actor).substr(0, 8);
}

}  // namespace

std::string to_hex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        s.push_back(digits[b >> 4]);
        s.push_back(digits[b & 15]);
    }
    return s;
}

ActorId random_actor() {
    ActorId a{};
    if (RAND_bytes(a.data(), static_cast<int>(a.size())) != 1) {
        // The kernel's random source failing is not something a document can recover from,
        // and a predictable actor id would let two devices write the same ids.
        std::abort();
    }
    return a;
}

ChangeHash hash_of(std::span<const std::uint8_t> encoded) {
    ChangeHash h{};
    SHA256(encoded.data(), encoded.size(), h.data());
    return h;
}

std::vector<std::uint8_t> encode_change(const Change& c) {
    // Other actors an op refers to go in a table, so each reference costs a small index instead
    // of 16 bytes; index 0 is the change's own actor.
    std::vector<ActorId> table;
    auto note = [&](const OpId& id) {
        if (id.counter != 0 && id.actor != c.actor) table.push_back(id.actor);
    };
    for (const Op& op : c.ops) {
        note(op.obj.op);
        note(op.elem);
        for (const OpId& p : op.pred) note(p);
    }
    std::sort(table.begin(), table.end());
    table.erase(std::unique(table.begin(), table.end()), table.end());
    auto index_of = [&](const ActorId& a) -> std::uint64_t {
        if (a == c.actor) return 0;
        return static_cast<std::uint64_t>(std::lower_bound(table.begin(), table.end(), a) -
                                          table.begin()) +
               1;
    };
    auto opid = [&](Writer& w, const OpId& id) {
        w.uvar(id.counter);
        if (id.counter != 0) w.uvar(index_of(id.actor));
    };

    Writer w;
    w.byte(kChangeFormat);
    w.raw(c.actor);
    w.uvar(c.seq);
    w.uvar(c.start_op);
    w.svar(c.time_millis);
    w.uvar(c.deps.size());
    for (const ChangeHash& d : c.deps) w.raw(d);
    w.uvar(table.size());
    for (const ActorId& a : table) w.raw(a);
    w.uvar(c.ops.size());
    for (const Op& op : c.ops) {
        w.byte(static_cast<std::uint8_t>(op.action));
        opid(w, op.obj.op);
        if (is_map_action(op.action)) {
            w.str(op.key);
            w.uvar(op.pred.size());
            for (const OpId& p : op.pred) opid(w, p);
        } else {
            opid(w, op.elem);
        }
        switch (op.action) {
            case Op::Action::Put:
                write_scalar(w, op.value);
                break;
            case Op::Action::Insert:
                w.uvar(std::holds_alternative<std::uint64_t>(op.value)
                           ? std::get<std::uint64_t>(op.value)
                           : 0);
                break;
            case Op::Action::Increment:
                w.svar(std::holds_alternative<std::int64_t>(op.value)
                           ? std::get<std::int64_t>(op.value)
                           : 0);
                break;
            default:
                break;
        }
    }
    return std::move(w.out);
}

std::expected<Change, std::string> decode_change(std::span<const std::uint8_t> bytes) {
    Reader r(bytes);
    if (r.byte() != kChangeFormat || !r.ok()) {
        return std::unexpected("document change has an unknown format");
    }
    Change c;
    c.actor = r.fixed<16>();
    c.seq = r.uvar();
    c.start_op = r.uvar();
    c.time_millis = r.svar();
    std::size_t ndeps = r.count(32);
    c.deps.reserve(ndeps);
    for (std::size_t i = 0; i < ndeps && r.ok(); ++i) c.deps.push_back(r.fixed<32>());
    std::size_t nactors = r.count(16);
    std::vector<ActorId> table;
    table.reserve(nactors);
    for (std::size_t i = 0; i < nactors && r.ok(); ++i) table.push_back(r.fixed<16>());
    auto opid = [&]() -> OpId {
        OpId id;
        id.counter = r.uvar();
        if (id.counter == 0) return id;
        std::uint64_t idx = r.uvar();
        if (idx == 0) {
            id.actor = c.actor;
        } else if (idx <= table.size()) {
            id.actor = table[static_cast<std::size_t>(idx - 1)];
        } else {
            r.fail();
        }
        return id;
    };
    std::size_t nops = r.count(3);
    c.ops.reserve(nops);
    for (std::size_t i = 0; i < nops && r.ok(); ++i) {
        Op op;
        std::uint8_t action = r.byte();
        if (action > static_cast<std::uint8_t>(Op::Action::Remove)) {
            r.fail();
            break;
        }
        op.action = static_cast<Op::Action>(action);
        op.obj.op = opid();
        if (is_map_action(op.action)) {
            op.key = r.str();
            std::size_t npred = r.count(1);
            op.pred.reserve(npred);
            for (std::size_t k = 0; k < npred && r.ok(); ++k) op.pred.push_back(opid());
        } else {
            op.elem = opid();
        }
        op.value = Null{};
        switch (op.action) {
            case Op::Action::Put:
                op.value = read_scalar(r);
                break;
            case Op::Action::Insert:
                op.value = r.uvar();
                break;
            case Op::Action::Increment:
                op.value = r.svar();
                break;
            default:
                break;
        }
        c.ops.push_back(std::move(op));
    }
    if (!r.ok()) return std::unexpected("document change is truncated or malformed");
    if (!r.at_end()) return std::unexpected("document change has trailing bytes");
    if (!std::is_sorted(c.deps.begin(), c.deps.end()) ||
        std::adjacent_find(c.deps.begin(), c.deps.end()) != c.deps.end()) {
        return std::unexpected("document change lists its dependencies out of order");
    }
    return c;
}

// ---------------------------------------------------------------------------------------------

struct Document::Impl {
    ActorId actor;
    std::unordered_map<ObjId, Object> objects;
    std::uint64_t max_op = 0;

    // Change history in the order applied (which respects dependencies), and its indexes.
    struct Applied {
        Change change;
        ChangeHash hash;
    };
    std::vector<Applied> history;
    std::unordered_map<ChangeHash, std::size_t, HashHasher> by_hash;
    std::vector<ChangeHash> heads;  // sorted
    struct ActorState {
        std::uint64_t seq = 0;
        std::uint64_t last_op = 0;
    };
    std::map<ActorId, ActorState> actors;

    // Changes waiting for dependencies.
    struct Waiting {
        Change change;
        std::size_t missing = 0;
    };
    std::unordered_map<ChangeHash, Waiting, HashHasher> waiting;
    std::unordered_map<ChangeHash, std::vector<ChangeHash>, HashHasher> waiters_of;

    // The open transaction.
    std::vector<Op> pending;
    std::uint64_t pending_start = 0;
    std::uint64_t max_op_before_tx = 0;
    std::vector<Undo> undo;

    CommitObserver observer;

    explicit Impl(const ActorId& a) : actor(a) { objects[ObjId::root()].type = ObjType::Map; }

    // ---- object access ----
    const Object* find(const ObjId& id) const {
        auto it = objects.find(id);
        return it == objects.end() ? nullptr : &it->second;
    }
    std::expected<const Object*, std::string> map_obj(const ObjId& id) const {
        const Object* o = find(id);
        if (!o) return std::unexpected(describe_object(id) + " does not exist");
        if (o->type != ObjType::Map) return std::unexpected(describe_object(id) + " is not a map");
        return o;
    }
    std::expected<const Object*, std::string> text_obj(const ObjId& id) const {
        const Object* o = find(id);
        if (!o) return std::unexpected(describe_object(id) + " does not exist");
        if (o->type != ObjType::Text)
            return std::unexpected(describe_object(id) + " is not a text");
        return o;
    }
    static std::ptrdiff_t index_of(const Object& t, const OpId& id) {
        if (!t.where.empty()) {
            auto it = t.where.find(id);
            return it == t.where.end() ? -1 : static_cast<std::ptrdiff_t>(it->second);
        }
        for (std::size_t i = 0; i < t.elems.size(); ++i) {
            if (t.elems[i].id == id) return static_cast<std::ptrdiff_t>(i);
        }
        return -1;
    }

    // ---- applying one op; the caller has validated it ----
    void apply_map(const ObjId& obj_id, const Op& op, const OpId& id, std::vector<Undo>& log) {
        Object& obj = objects.find(obj_id)->second;
        auto it = obj.map.find(op.key);
        if (it == obj.map.end()) it = obj.map.emplace(op.key, Entries{}).first;
        Entries& entries = it->second;
        log.push_back(Undo{Undo::Kind::KeyRestore, obj_id, op.key, entries, {}});
        if (op.action == Op::Action::Increment) {
            for (MapEntry& e : entries) {
                if (e.id == op.pred[0]) {
                    auto& c = std::get<Counter>(std::get<ScalarValue>(e.value));
                    // Wrap instead of overflowing: every replica wraps the same way.
                    c.value = static_cast<std::int64_t>(
                        static_cast<std::uint64_t>(c.value) +
                        static_cast<std::uint64_t>(std::get<std::int64_t>(op.value)));
                }
            }
            return;
        }
        std::erase_if(entries, [&](const MapEntry& e) {
            return std::find(op.pred.begin(), op.pred.end(), e.id) != op.pred.end();
        });
        if (op.action != Op::Action::Delete) {
            MapEntry entry{id, op.value};
            if (op.action == Op::Action::MakeMap || op.action == Op::Action::MakeText) {
                ObjType t = op.action == Op::Action::MakeMap ? ObjType::Map : ObjType::Text;
                objects[ObjId{id}].type = t;
                log.push_back(Undo{Undo::Kind::ObjectCreated, ObjId{id}, {}, {}, {}});
                entry.value = ObjectRef{t, ObjId{id}};
            }
            auto pos = std::lower_bound(entries.begin(), entries.end(), id,
                                        [](const MapEntry& e, const OpId& v) { return e.id < v; });
            entries.insert(pos, std::move(entry));
        }
        if (entries.empty()) obj.map.erase(it);
    }

    // Inserts a run of characters with consecutive ids, each after the one before, the first
    // after `ref`. The run lands in one place: whatever follows its first character has a lower
    // id than every character of the run, so one-by-one insertion would not split it either.
    void apply_insert_run(const ObjId& obj_id, const OpId& ref, const OpId& first,
                          const std::vector<char32_t>& chars, std::vector<Undo>& log) {
        Object& t = objects.find(obj_id)->second;
        std::size_t idx = 0;
        if (ref.counter != 0) idx = static_cast<std::size_t>(index_of(t, ref)) + 1;
        // Concurrent inserts at one place: the higher id goes first, and everything inserted
        // after it (which has an even higher id) stays with it.
        while (idx < t.elems.size() && t.elems[idx].id > first) ++idx;
        std::vector<Elem> run;
        run.reserve(chars.size());
        for (std::size_t k = 0; k < chars.size(); ++k) {
            run.push_back(Elem{OpId{first.counter + k, first.actor}, chars[k], false});
        }
        insert_elems(t, idx, std::move(run));
        t.visible += chars.size();
        log.push_back(Undo{Undo::Kind::RunInserted, obj_id, {}, {}, first, chars.size()});
    }

    void apply_remove(const ObjId& obj_id, const OpId& elem, std::vector<Undo>& log) {
        Object& t = objects.find(obj_id)->second;
        Elem& e = t.elems[static_cast<std::size_t>(index_of(t, elem))];
        if (e.deleted) return;
        e.deleted = true;
        --t.visible;
        log.push_back(Undo{Undo::Kind::ElemRemoved, obj_id, {}, {}, elem});
    }

    void undo_all(std::vector<Undo>& log) {
        for (auto it = log.rbegin(); it != log.rend(); ++it) {
            Undo& u = *it;
            switch (u.kind) {
                case Undo::Kind::KeyRestore: {
                    Object& obj = objects.find(u.obj)->second;
                    if (u.previous.empty()) {
                        obj.map.erase(u.key);
                    } else {
                        obj.map[u.key] = std::move(u.previous);
                    }
                    break;
                }
                case Undo::Kind::ObjectCreated:
                    objects.erase(u.obj);
                    break;
                case Undo::Kind::RunInserted: {
                    Object& t = objects.find(u.obj)->second;
                    auto idx = static_cast<std::size_t>(index_of(t, u.elem));
                    for (std::size_t i = idx; i < idx + u.count; ++i) {
                        if (!t.elems[i].deleted) --t.visible;
                    }
                    erase_elems(t, idx, u.count);
                    break;
                }
                case Undo::Kind::ElemRemoved: {
                    Object& t = objects.find(u.obj)->second;
                    t.elems[static_cast<std::size_t>(index_of(t, u.elem))].deleted = false;
                    ++t.visible;
                    break;
                }
            }
        }
        log.clear();
    }

    // Checks ops from any source against the current state and applies them; op k has the id
    // (first.counter + k, first.actor).
    std::expected<void, std::string> apply_ops(std::span<const Op> ops, const OpId& first,
                                               std::vector<Undo>& log) {
        for (std::size_t i = 0; i < ops.size();) {
            std::size_t used = 1;
            if (auto r = validate_and_apply(ops, i, first, log, used); !r) return r;
            i += used;
        }
        return {};
    }

    // Applies ops[i], or the run of inserts starting there; `used` says how many ops it took.
    std::expected<void, std::string> validate_and_apply(std::span<const Op> ops, std::size_t i,
                                                        const OpId& first, std::vector<Undo>& log,
                                                        std::size_t& used) {
        const Op& op = ops[i];
        const OpId id{first.counter + i, first.actor};
        auto bad = [](std::string why) {
            return std::unexpected("document change is invalid: " + std::move(why));
        };
        const Object* obj = find(op.obj);
        if (!obj) return bad(describe_object(op.obj) + " does not exist");
        if (is_map_action(op.action)) {
            if (obj->type != ObjType::Map) return bad("map operation on a text");
            for (const OpId& p : op.pred) {
                if (p.counter >= id.counter) return bad("an operation overwrites a later one");
            }
            if (op.action == Op::Action::Increment) {
                if (op.pred.size() != 1 || !std::holds_alternative<std::int64_t>(op.value)) {
                    return bad("malformed counter increment");
                }
                auto it = obj->map.find(op.key);
                if (it != obj->map.end()) {
                    for (const MapEntry& e : it->second) {
                        if (e.id == op.pred[0] &&
                            !(std::holds_alternative<ScalarValue>(e.value) &&
                              std::holds_alternative<Counter>(std::get<ScalarValue>(e.value)))) {
                            return bad("increment of a value that is not a counter");
                        }
                    }
                }
            }
            if ((op.action == Op::Action::MakeMap || op.action == Op::Action::MakeText) &&
                objects.contains(ObjId{id})) {
                return bad("object created twice");
            }
            apply_map(op.obj, op, id, log);
            return {};
        }
        if (obj->type != ObjType::Text) return bad("text operation on a map");
        if (op.action == Op::Action::Insert) {
            const auto* cp = std::get_if<std::uint64_t>(&op.value);
            if (!cp || !utf8::is_scalar(*cp)) return bad("inserted character is not a code point");
            if (op.elem.counter != 0) {
                if (op.elem.counter >= id.counter) return bad("insert after a later character");
                if (index_of(*obj, op.elem) < 0) return bad("insert after an unknown character");
            }
            std::vector<char32_t> chars{static_cast<char32_t>(*cp)};
            // Every following insert into the same text right after the previous one joins the
            // run (a paste, or a typed word).
            for (std::size_t j = i + 1; j < ops.size(); ++j) {
                const Op& next = ops[j];
                const auto* ncp = std::get_if<std::uint64_t>(&next.value);
                if (next.action != Op::Action::Insert || next.obj != op.obj ||
                    next.elem != OpId{first.counter + j - 1, first.actor} || !ncp) {
                    break;
                }
                if (!utf8::is_scalar(*ncp)) return bad("inserted character is not a code point");
                chars.push_back(static_cast<char32_t>(*ncp));
            }
            used = chars.size();
            apply_insert_run(op.obj, op.elem, id, chars, log);
            return {};
        }
        if (index_of(*obj, op.elem) < 0) return bad("removal of an unknown character");
        apply_remove(op.obj, op.elem, log);
        return {};
    }

    // ---- local transactions ----
    OpId next_id() {
        if (pending.empty()) {
            max_op_before_tx = max_op;
            pending_start = max_op + 1;
        }
        return OpId{pending_start + pending.size(), actor};
    }
    // Applies local ops (ids are the next counters) and adds them to the open transaction; on
    // failure none of them stays.
    std::expected<void, std::string> local(std::vector<Op> ops) {
        if (ops.empty()) return {};
        OpId first = next_id();
        std::vector<Undo> log;
        auto r = apply_ops(ops, first, log);
        if (!r) {
            undo_all(log);
            return r;
        }
        std::move(log.begin(), log.end(), std::back_inserter(undo));
        for (Op& op : ops) pending.push_back(std::move(op));
        max_op = first.counter + ops.size() - 1;
        return {};
    }
    std::expected<void, std::string> local(Op op) {
        std::vector<Op> ops;
        ops.push_back(std::move(op));
        return local(std::move(ops));
    }

    void record(Change change, const ChangeHash& hash) {
        for (const ChangeHash& d : change.deps) {
            auto it = std::lower_bound(heads.begin(), heads.end(), d);
            if (it != heads.end() && *it == d) heads.erase(it);
        }
        heads.insert(std::lower_bound(heads.begin(), heads.end(), hash), hash);
        ActorState& st = actors[change.actor];
        st.seq = change.seq;
        if (!change.ops.empty()) st.last_op = change.start_op + change.ops.size() - 1;
        by_hash.emplace(hash, history.size());
        history.push_back(Applied{std::move(change), hash});
    }

    void commit() {
        if (pending.empty()) return;
        Change c;
        c.actor = actor;
        c.seq = actors[actor].seq + 1;
        c.start_op = pending_start;
        c.time_millis = now_millis();
        c.deps = heads;
        c.ops = std::move(pending);
        pending.clear();
        undo.clear();
        auto bytes = encode_change(c);
        ChangeHash hash = hash_of(bytes);
        record(c, hash);
        if (observer) observer(history.back().change, bytes, hash);
    }

    void rollback() {
        if (pending.empty()) return;
        undo_all(undo);
        pending.clear();
        max_op = max_op_before_tx;
    }

    // ---- remote changes ----
    std::expected<void, std::string> apply_remote(Change&& c, const ChangeHash& hash) {
        const ActorState st = actors.contains(c.actor) ? actors[c.actor] : ActorState{};
        if (c.seq != st.seq + 1) {
            return std::unexpected("document change " + to_hex(hash).substr(0, 12) +
                                   " from actor " + to_hex(c.actor) + " has sequence number " +
                                   std::to_string(c.seq) + " where " + std::to_string(st.seq + 1) +
                                   " was expected; two writers may be sharing one actor id");
        }
        if (c.start_op <= st.last_op ||
            c.ops.size() > std::numeric_limits<std::uint64_t>::max() - c.start_op) {
            return std::unexpected("document change " + to_hex(hash).substr(0, 12) +
                                   " reuses operation ids");
        }
        std::vector<Undo> log;
        if (auto r = apply_ops(c.ops, OpId{c.start_op, c.actor}, log); !r) {
            undo_all(log);
            return r;
        }
        if (!c.ops.empty()) max_op = std::max(max_op, c.start_op + c.ops.size() - 1);
        record(std::move(c), hash);
        return {};
    }

    std::expected<void, std::string> apply_changes(std::vector<Change>&& changes) {
        commit();
        std::string first_error;
        std::vector<ChangeHash> ready;
        for (Change& c : changes) {
            std::sort(c.deps.begin(), c.deps.end());
            c.deps.erase(std::unique(c.deps.begin(), c.deps.end()), c.deps.end());
            ChangeHash h = hash_of(encode_change(c));
            if (by_hash.contains(h) || waiting.contains(h)) continue;
            std::size_t missing = 0;
            for (const ChangeHash& d : c.deps) {
                if (!by_hash.contains(d)) {
                    ++missing;
                    waiters_of[d].push_back(h);
                }
            }
            waiting.emplace(h, Waiting{std::move(c), missing});
            if (missing == 0) ready.push_back(h);
        }
        while (!ready.empty()) {
            ChangeHash h = ready.back();
            ready.pop_back();
            auto node = waiting.extract(h);
            if (node.empty()) continue;
            auto r = apply_remote(std::move(node.mapped().change), h);
            if (!r) {
                if (first_error.empty()) first_error = r.error();
                continue;  // its dependents keep waiting: they can never apply
            }
            auto w = waiters_of.find(h);
            if (w == waiters_of.end()) continue;
            for (const ChangeHash& dependent : w->second) {
                auto it = waiting.find(dependent);
                if (it != waiting.end() && --it->second.missing == 0) ready.push_back(dependent);
            }
            waiters_of.erase(w);
        }
        if (!first_error.empty()) return std::unexpected(first_error);
        return {};
    }

    std::vector<Change> changes_since(std::span<const ChangeHash> have) {
        commit();
        std::vector<bool> known(history.size(), false);
        std::vector<std::size_t> stack;
        for (const ChangeHash& h : have) {
            auto it = by_hash.find(h);
            if (it != by_hash.end()) stack.push_back(it->second);
        }
        while (!stack.empty()) {
            std::size_t i = stack.back();
            stack.pop_back();
            if (known[i]) continue;
            known[i] = true;
            for (const ChangeHash& d : history[i].change.deps) stack.push_back(by_hash.at(d));
        }
        std::vector<Change> out;
        for (std::size_t i = 0; i < history.size(); ++i) {
            if (!known[i]) out.push_back(history[i].change);
        }
        return out;
    }
};

Document::Document() : Document(random_actor()) {}
Document::Document(const ActorId& actor) : impl_(std::make_unique<Impl>(actor)) {}
Document::~Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;

const ActorId& Document::actor_id() const {
    return impl_->actor;
}

std::expected<void, std::string> Document::set_actor(const ActorId& actor) {
    if (!impl_->pending.empty() || impl_->actors.contains(impl_->actor)) {
        return std::unexpected("the document's actor cannot change after it has made changes");
    }
    impl_->actor = actor;
    return {};
}

std::expected<std::optional<Value>, std::string> Document::get(const ObjId& map,
                                                               std::string_view key) const {
    auto o = impl_->map_obj(map);
    if (!o) return std::unexpected(o.error());
    auto it = (*o)->map.find(key);
    if (it == (*o)->map.end() || it->second.empty()) return std::optional<Value>{};
    return std::optional<Value>{it->second.back().value};
}

std::expected<std::vector<Value>, std::string> Document::get_all(const ObjId& map,
                                                                 std::string_view key) const {
    auto o = impl_->map_obj(map);
    if (!o) return std::unexpected(o.error());
    std::vector<Value> out;
    auto it = (*o)->map.find(key);
    if (it != (*o)->map.end()) {
        for (const MapEntry& e : it->second) out.push_back(e.value);
    }
    return out;
}

std::expected<std::vector<std::string>, std::string> Document::keys(const ObjId& map) const {
    auto o = impl_->map_obj(map);
    if (!o) return std::unexpected(o.error());
    std::vector<std::string> out;
    out.reserve((*o)->map.size());
    for (const auto& [k, entries] : (*o)->map) {
        if (!entries.empty()) out.push_back(k);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::expected<std::vector<std::pair<std::string, Value>>, std::string> Document::entries(
    const ObjId& map) const {
    auto o = impl_->map_obj(map);
    if (!o) return std::unexpected(o.error());
    std::vector<std::pair<std::string, Value>> out;
    out.reserve((*o)->map.size());
    for (const auto& [k, entries] : (*o)->map) {
        if (!entries.empty()) out.emplace_back(k, entries.back().value);
    }
    std::sort(out.begin(), out.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
}

std::expected<std::string, std::string> Document::text(const ObjId& text) const {
    auto o = impl_->text_obj(text);
    if (!o) return std::unexpected(o.error());
    std::string out;
    for (const Elem& e : (*o)->elems) {
        if (!e.deleted) utf8::append(out, e.ch);
    }
    return out;
}

std::expected<std::size_t, std::string> Document::text_length(const ObjId& text) const {
    auto o = impl_->text_obj(text);
    if (!o) return std::unexpected(o.error());
    return (*o)->visible;
}

std::optional<ObjType> Document::object_type(const ObjId& obj) const {
    const Object* o = impl_->find(obj);
    if (!o) return std::nullopt;
    return o->type;
}

namespace {
std::vector<OpId> live_ids(const Object& map, std::string_view key) {
    std::vector<OpId> ids;
    auto it = map.map.find(key);
    if (it != map.map.end()) {
        for (const MapEntry& e : it->second) ids.push_back(e.id);
    }
    return ids;
}
}  // namespace

std::expected<ObjId, std::string> Document::put_object(const ObjId& map, std::string_view key,
                                                       ObjType type) {
    auto o = impl_->map_obj(map);
    if (!o) return std::unexpected(o.error());
    Op op;
    op.action = type == ObjType::Map ? Op::Action::MakeMap : Op::Action::MakeText;
    op.obj = map;
    op.key = std::string(key);
    op.pred = live_ids(**o, key);
    ObjId created{impl_->next_id()};
    if (auto r = impl_->local(std::move(op)); !r) return std::unexpected(r.error());
    return created;
}

std::expected<void, std::string> Document::put(const ObjId& map, std::string_view key,
                                               ScalarValue value) {
    auto o = impl_->map_obj(map);
    if (!o) return std::unexpected(o.error());
    Op op;
    op.action = Op::Action::Put;
    op.obj = map;
    op.key = std::string(key);
    op.pred = live_ids(**o, key);
    op.value = std::move(value);
    return impl_->local(std::move(op));
}

std::expected<void, std::string> Document::delete_key(const ObjId& map, std::string_view key) {
    auto o = impl_->map_obj(map);
    if (!o) return std::unexpected(o.error());
    Op op;
    op.action = Op::Action::Delete;
    op.obj = map;
    op.key = std::string(key);
    op.pred = live_ids(**o, key);
    if (op.pred.empty()) return std::unexpected("key \"" + op.key + "\" is not in the map");
    return impl_->local(std::move(op));
}

std::expected<void, std::string> Document::increment(const ObjId& map, std::string_view key,
                                                     std::int64_t delta) {
    auto o = impl_->map_obj(map);
    if (!o) return std::unexpected(o.error());
    auto it = (*o)->map.find(key);
    if (it == (*o)->map.end() || it->second.empty()) {
        return std::unexpected("key \"" + std::string(key) + "\" holds no counter");
    }
    const MapEntry& winner = it->second.back();
    const auto* s = std::get_if<ScalarValue>(&winner.value);
    if (!s || !std::holds_alternative<Counter>(*s)) {
        return std::unexpected("key \"" + std::string(key) + "\" holds no counter");
    }
    Op op;
    op.action = Op::Action::Increment;
    op.obj = map;
    op.key = std::string(key);
    op.pred = {winner.id};
    op.value = delta;
    return impl_->local(std::move(op));
}

std::expected<void, std::string> Document::splice_text(const ObjId& text, std::size_t pos,
                                                       std::size_t del, std::string_view insert) {
    auto o = impl_->text_obj(text);
    if (!o) return std::unexpected(o.error());
    auto chars = utf8::decode(insert);
    if (!chars) return std::unexpected("inserted text is not valid UTF-8");
    const Object& t = **o;
    if (pos > t.visible || del > t.visible - pos) {
        return std::unexpected("text splice at " + std::to_string(pos) + "+" + std::to_string(del) +
                               " is outside a text of length " + std::to_string(t.visible));
    }
    // Find the element before the splice point and the ones to delete.
    OpId before{};
    std::vector<OpId> doomed;
    std::size_t seen = 0;
    for (const Elem& e : t.elems) {
        if (e.deleted) continue;
        if (seen < pos) {
            before = e.id;
        } else if (seen < pos + del) {
            doomed.push_back(e.id);
        } else {
            break;
        }
        ++seen;
    }
    std::vector<Op> ops;
    ops.reserve(doomed.size() + chars->size());
    for (const OpId& id : doomed) {
        Op op;
        op.action = Op::Action::Remove;
        op.obj = text;
        op.elem = id;
        ops.push_back(std::move(op));
    }
    const OpId first = impl_->next_id();
    for (char32_t ch : *chars) {
        Op op;
        op.action = Op::Action::Insert;
        op.obj = text;
        op.elem = before;
        op.value = static_cast<std::uint64_t>(ch);
        before = OpId{first.counter + ops.size(), first.actor};
        ops.push_back(std::move(op));
    }
    return impl_->local(std::move(ops));
}

void Document::commit() {
    impl_->commit();
}

std::expected<void, std::string> Document::transact(
    const std::function<std::expected<void, std::string>(Document&)>& fn) {
    impl_->commit();
    auto r = fn(*this);
    if (!r) {
        impl_->rollback();
        return r;
    }
    impl_->commit();
    return {};
}

void Document::rollback() {
    impl_->rollback();
}
bool Document::in_transaction() const {
    return !impl_->pending.empty();
}

std::vector<ChangeHash> Document::get_heads() {
    impl_->commit();
    return impl_->heads;
}

std::vector<Change> Document::get_changes_since(std::span<const ChangeHash> heads) {
    return impl_->changes_since(heads);
}

std::expected<void, std::string> Document::apply_changes(std::span<const Change> changes) {
    return impl_->apply_changes(std::vector<Change>(changes.begin(), changes.end()));
}

std::expected<void, std::string> Document::apply_changes(std::vector<Change>&& changes) {
    return impl_->apply_changes(std::move(changes));
}

std::expected<void, std::string> Document::merge(Document& other) {
    return apply_changes(other.get_changes_since(get_heads()));
}

std::size_t Document::pending_changes() const {
    return impl_->waiting.size();
}

bool Document::has_change(const ChangeHash& hash) const {
    return impl_->by_hash.contains(hash);
}

void Document::set_commit_observer(CommitObserver observer) {
    impl_->observer = std::move(observer);
}

std::expected<void, std::string> splice_text_diffed(Document& doc, const ObjId& text,
                                                    std::string_view new_text) {
    auto current = doc.text(text);
    if (!current) return std::unexpected(current.error());
    auto old_cps = utf8::decode(*current);
    auto new_cps = utf8::decode(new_text);
    if (!old_cps || !new_cps) return std::unexpected("text is not valid UTF-8");
    const auto& a = *old_cps;
    const auto& b = *new_cps;
    std::size_t prefix = 0;
    while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) ++prefix;
    std::size_t suffix = 0;
    while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
           a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) {
        ++suffix;
    }
    std::size_t del = a.size() - prefix - suffix;
    std::size_t ins_len = b.size() - prefix - suffix;
    if (del == 0 && ins_len == 0) return {};
    std::string insert;
    for (std::size_t i = prefix; i < prefix + ins_len; ++i) utf8::append(insert, b[i]);
    return doc.splice_text(text, prefix, del, insert);
}

}  // namespace vorn_ui::doc
