#include "vorn/doc/document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "vorn/doc/tests/dump.h"

namespace vorn_ui::doc {
namespace {

using testing::dump;

ActorId actor(std::uint8_t n) {
    ActorId a{};
    a.fill(n);
    return a;
}

void sync(Document& a, Document& b) {
    ASSERT_TRUE(a.merge(b).has_value());
    ASSERT_TRUE(b.merge(a).has_value());
}

std::string str_at(const Document& d, const ObjId& map, std::string_view key) {
    auto v = d.get(map, key).value();
    if (!v) return "<absent>";
    return std::get<std::string>(std::get<ScalarValue>(*v));
}

TEST(Document, ScalarsObjectsAndReadsOfEveryKind) {
    Document d(actor(1));
    const ObjId root = ObjId::root();
    std::vector<std::pair<std::string, ScalarValue>> cases = {
        {"null", Null{}},
        {"bool", true},
        {"int", std::int64_t{-5}},
        {"uint", std::uint64_t{18446744073709551615ull}},
        {"float", 22.9},
        {"str", std::string("héllo")},
        {"bytes", Bytes{{0, 1, 255}}},
        {"time", Timestamp{1700000000000}},
        {"counter", Counter{7}},
    };
    for (auto& [k, v] : cases) ASSERT_TRUE(d.put(root, k, v).has_value()) << k;
    auto m = d.put_object(root, "m", ObjType::Map).value();
    auto t = d.put_object(m, "t", ObjType::Text).value();
    ASSERT_TRUE(d.splice_text(t, 0, 0, "a€😀").has_value());

    // Survives a round trip through another replica's change log, types intact.
    Document e(actor(2));
    ASSERT_TRUE(e.apply_changes(d.get_changes()).has_value());
    for (auto& [k, v] : cases) {
        auto got = e.get(root, k).value();
        ASSERT_TRUE(got.has_value()) << k;
        EXPECT_EQ(std::get<ScalarValue>(*got), v) << k;
    }
    EXPECT_EQ(e.text(t).value(), "a€😀");
    EXPECT_EQ(e.text_length(t).value(), 3u);
    EXPECT_EQ(std::get<ObjectRef>(*e.get(m, "t").value()).type, ObjType::Text);
    EXPECT_EQ(e.get_heads(), d.get_heads());

    // Reads on the wrong kind of object fail rather than guess.
    EXPECT_FALSE(d.get(t, "x").has_value());
    EXPECT_FALSE(d.text(m).has_value());
    EXPECT_FALSE(d.keys(ObjId{OpId{99, actor(9)}}).has_value());
    EXPECT_FALSE(d.get(root, "missing").value().has_value());
    EXPECT_FALSE(d.delete_key(root, "missing").has_value());
    EXPECT_FALSE(d.splice_text(t, 4, 0, "x").has_value());
    EXPECT_FALSE(d.splice_text(t, 0, 0, "\xC0\x80").has_value());
    EXPECT_FALSE(d.increment(root, "int", 1).has_value());
    EXPECT_EQ(d.keys(root).value(),
              (std::vector<std::string>{"bool", "bytes", "counter", "float", "int", "m", "null",
                                        "str", "time", "uint"}));

    // Replacing an object with a scalar and deleting keys.
    ASSERT_TRUE(d.put(root, "m", std::string("flat")).has_value());
    ASSERT_TRUE(d.delete_key(root, "null").has_value());
    EXPECT_EQ(str_at(d, root, "m"), "flat");
    EXPECT_FALSE(d.get(root, "null").value().has_value());
}

TEST(Document, ConcurrentPutsPickTheHighestIdAndKeepTheLoserAsConflict) {
    Document a(actor(1)), b(actor(2));
    const ObjId root = ObjId::root();
    ASSERT_TRUE(a.put(root, "k", std::string("base")).has_value());
    sync(a, b);
    ASSERT_TRUE(a.put(root, "k", std::string("from a")).has_value());
    ASSERT_TRUE(b.put(root, "k", std::string("from b")).has_value());
    sync(a, b);
    // Same counter on both sides; the actor bytes break the tie, so b wins everywhere.
    EXPECT_EQ(str_at(a, root, "k"), "from b");
    EXPECT_EQ(dump(a), dump(b));
    EXPECT_EQ(a.get_all(root, "k").value().size(), 2u);
    // A later write that saw both resolves the conflict.
    ASSERT_TRUE(a.put(root, "k", std::string("settled")).has_value());
    sync(a, b);
    EXPECT_EQ(b.get_all(root, "k").value().size(), 1u);
    EXPECT_EQ(str_at(b, root, "k"), "settled");
}

TEST(Document, PutUnseenByAConcurrentDeleteSurvives) {
    Document a(actor(1)), b(actor(2));
    const ObjId root = ObjId::root();
    ASSERT_TRUE(a.put(root, "k", std::int64_t{1}).has_value());
    sync(a, b);
    ASSERT_TRUE(a.delete_key(root, "k").has_value());
    ASSERT_TRUE(b.put(root, "k", std::int64_t{2}).has_value());
    sync(a, b);
    EXPECT_EQ(std::get<std::int64_t>(std::get<ScalarValue>(*a.get(root, "k").value())), 2);
    EXPECT_EQ(dump(a), dump(b));
}

TEST(Document, ConcurrentIncrementsAddUp) {
    Document a(actor(1)), b(actor(2));
    const ObjId root = ObjId::root();
    ASSERT_TRUE(a.put(root, "c", Counter{10}).has_value());
    sync(a, b);
    ASSERT_TRUE(a.increment(root, "c", 5).has_value());
    ASSERT_TRUE(b.increment(root, "c", -3).has_value());
    sync(a, b);
    for (Document* d : {&a, &b}) {
        EXPECT_EQ(std::get<Counter>(std::get<ScalarValue>(*d->get(root, "c").value())).value, 12);
    }
}

TEST(Document, ConcurrentTextInsertsInterleaveTheSameWayEverywhere) {
    Document a(actor(1)), b(actor(2)), c(actor(3));
    auto t = a.put_object(ObjId::root(), "t", ObjType::Text).value();
    ASSERT_TRUE(a.splice_text(t, 0, 0, "ac").has_value());
    sync(a, b);
    sync(a, c);
    ASSERT_TRUE(a.splice_text(t, 1, 0, "XY").has_value());
    ASSERT_TRUE(b.splice_text(t, 1, 0, "12").has_value());
    ASSERT_TRUE(c.splice_text(t, 1, 1, "").has_value());  // deletes 'c'
    // Deliver in different orders to each replica.
    ASSERT_TRUE(a.merge(c).has_value());
    ASSERT_TRUE(a.merge(b).has_value());
    ASSERT_TRUE(b.merge(a).has_value());
    ASSERT_TRUE(c.merge(b).has_value());
    ASSERT_TRUE(c.merge(a).has_value());
    std::string ta = a.text(t).value();
    EXPECT_EQ(ta.size(), 5u);
    // Each run stays whole: no character of one insert lands inside the other.
    EXPECT_TRUE(ta == "a12XY" || ta == "aXY12") << ta;
    EXPECT_EQ(b.text(t).value(), ta);
    EXPECT_EQ(c.text(t).value(), ta);
    EXPECT_EQ(a.get_heads(), c.get_heads());
}

TEST(Document, SpliceTextDiffedTouchesOnlyTheMiddle) {
    struct Row {
        std::string from, to;
        std::size_t ops;  // removals + insertions the edit should cost
    };
    std::vector<Row> rows = {
        {"Build Box", "Build Boxes", 2},
        {"Build Box", "Bild Box", 1},
        {"Build Box", "Build Box", 0},
        {"", "Név ☃", 5},
        {"aaa", "aa", 1},
        {"héllo", "hallo", 2},
        {"abc", "", 3},
    };
    for (const Row& r : rows) {
        Document d(actor(1));
        auto t = d.put_object(ObjId::root(), "t", ObjType::Text).value();
        ASSERT_TRUE(d.splice_text(t, 0, 0, r.from).has_value());
        auto before = d.get_heads();
        ASSERT_TRUE(splice_text_diffed(d, t, r.to).has_value()) << r.from;
        EXPECT_EQ(d.text(t).value(), r.to);
        auto changes = d.get_changes_since(before);
        std::size_t ops = changes.empty() ? 0 : changes[0].ops.size();
        EXPECT_EQ(ops, r.ops) << r.from << " -> " << r.to;
    }
}

TEST(Document, TransactRollsBackEverythingOnFailure) {
    Document d(actor(1));
    const ObjId root = ObjId::root();
    ASSERT_TRUE(d.put(root, "keep", std::string("yes")).has_value());
    auto heads = d.get_heads();
    std::string before = dump(d);
    auto r = d.transact([](Document& doc) -> std::expected<void, std::string> {
        auto m = doc.put_object(ObjId::root(), "keep", ObjType::Map);
        if (!m) return std::unexpected(m.error());
        auto t = doc.put_object(*m, "t", ObjType::Text).value();
        (void)doc.splice_text(t, 0, 0, "abc");
        (void)doc.put(ObjId::root(), "other", true);
        return std::unexpected("handler refused");
    });
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error(), "handler refused");
    EXPECT_EQ(dump(d), before);
    EXPECT_EQ(d.get_heads(), heads);
    EXPECT_FALSE(d.in_transaction());

    // A successful transaction is exactly one change, and ids continue without a gap.
    ASSERT_TRUE(d.transact([](Document& doc) -> std::expected<void, std::string> {
                     (void)doc.put(ObjId::root(), "a", std::int64_t{1});
                     return doc.put(ObjId::root(), "b", std::int64_t{2});
                 }).has_value());
    auto changes = d.get_changes_since(heads);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].ops.size(), 2u);
    EXPECT_EQ(changes[0].seq, 2u);
    EXPECT_EQ(changes[0].start_op, 2u);
    EXPECT_EQ(changes[0].deps, heads);
}

TEST(Document, ChangesWaitForMissingDependenciesAndDuplicatesAreSkipped) {
    Document a(actor(1));
    const ObjId root = ObjId::root();
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(a.put(root, "k" + std::to_string(i), std::int64_t{i}).has_value());
        a.commit();
    }
    auto changes = a.get_changes();
    ASSERT_EQ(changes.size(), 5u);
    std::reverse(changes.begin(), changes.end());
    Document b(actor(2));
    ASSERT_TRUE(b.apply_changes(std::span(changes).first(4)).has_value());
    EXPECT_EQ(b.pending_changes(), 4u);  // all wait for the first one
    EXPECT_TRUE(b.keys(root).value().empty());
    ASSERT_TRUE(b.apply_changes(changes).has_value());
    EXPECT_EQ(b.pending_changes(), 0u);
    EXPECT_EQ(dump(a), dump(b));
    EXPECT_EQ(a.get_heads(), b.get_heads());
    EXPECT_EQ(b.get_heads().size(), 1u);
    // Already-known changes change nothing.
    ASSERT_TRUE(b.apply_changes(changes).has_value());
    EXPECT_EQ(b.get_changes().size(), 5u);
}

TEST(Document, MalformedChangesAreRejectedWithoutPartialEffects) {
    Document a(actor(1));
    auto t = a.put_object(ObjId::root(), "t", ObjType::Text).value();
    ASSERT_TRUE(a.splice_text(t, 0, 0, "ok").has_value());
    auto good = a.get_changes();
    Document b(actor(2));
    ASSERT_TRUE(b.apply_changes(good).has_value());
    std::string before = dump(b);

    Change base;
    base.actor = actor(3);
    base.seq = 1;
    base.start_op = 100;
    base.deps = b.get_heads();
    Op fine;
    fine.action = Op::Action::Put;
    fine.obj = ObjId::root();
    fine.key = "fine";
    fine.value = std::int64_t{1};

    std::vector<std::pair<std::string, Op>> bad;
    {
        Op op;  // map op on a text
        op.action = Op::Action::Put;
        op.obj = t;
        op.key = "x";
        bad.emplace_back("map op on text", op);
    }
    {
        Op op;  // insert after a character nobody made
        op.action = Op::Action::Insert;
        op.obj = t;
        op.elem = OpId{50, actor(9)};
        op.value = std::uint64_t{'x'};
        bad.emplace_back("unknown reference", op);
    }
    {
        Op op;  // a surrogate is not a character
        op.action = Op::Action::Insert;
        op.obj = t;
        op.value = std::uint64_t{0xD800};
        bad.emplace_back("surrogate", op);
    }
    {
        Op op;
        op.action = Op::Action::Put;
        op.obj = ObjId{OpId{77, actor(9)}};
        op.key = "x";
        bad.emplace_back("unknown object", op);
    }
    for (auto& [name, op] : bad) {
        Change c = base;
        c.ops = {fine, op};  // the first op is valid and must be undone too
        auto r = b.apply_changes(std::span(&c, 1));
        EXPECT_FALSE(r.has_value()) << name;
        EXPECT_EQ(dump(b), before) << name;
    }
    // A second change claiming an actor's used sequence number is refused.
    Change dup = good[0];
    dup.time_millis += 1;
    EXPECT_FALSE(b.apply_changes(std::span(&dup, 1)).has_value());
    EXPECT_EQ(dump(b), before);
}

TEST(Document, EncodingRoundTripsAndDecoderRefusesEveryTruncation) {
    Document a(actor(1)), b(actor(2));
    auto m = a.put_object(ObjId::root(), "m", ObjType::Map).value();
    ASSERT_TRUE(a.put(m, "x", 1.5).has_value());
    sync(a, b);
    ASSERT_TRUE(b.put(m, "x", Bytes{{1, 2}}).has_value());  // pred names a's op: actor table
    auto t = b.put_object(m, "t", ObjType::Text).value();
    ASSERT_TRUE(b.splice_text(t, 0, 0, "hé").has_value());
    auto changes = b.get_changes_since(a.get_heads());
    ASSERT_EQ(changes.size(), 1u);
    auto bytes = encode_change(changes[0]);
    auto back = decode_change(bytes);
    ASSERT_TRUE(back.has_value()) << back.error();
    EXPECT_EQ(*back, changes[0]);
    EXPECT_EQ(hash_of(encode_change(*back)), b.get_heads()[0]);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        EXPECT_FALSE(decode_change(std::span(bytes).first(n)).has_value()) << n;
    }
    auto longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(decode_change(longer).has_value());
}

// Long texts (past the point where positions are indexed) against a plain string model, with
// rolled-back edits in between and a replica following change by change.
TEST(Document, LongTextsMatchAPlainStringModel) {
    std::mt19937 rng(7);
    auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    Document a(actor(1)), b(actor(2));
    auto t = a.put_object(ObjId::root(), "t", ObjType::Text).value();
    std::u32string model;
    auto utf8_of = [](const std::u32string& u) {
        std::string out;
        for (char32_t c : u) {
            if (c < 0x80) {
                out.push_back(static_cast<char>(c));
            } else {  // the test only uses U+00E9
                out.push_back(static_cast<char>(0xC3));
                out.push_back(static_cast<char>(0xA9));
            }
        }
        return out;
    };
    for (int round = 0; round < 300; ++round) {
        std::size_t pos = pick(model.size() + 1);
        std::size_t del = pick(std::min<std::size_t>(model.size() - pos, 40) + 1);
        std::u32string ins;
        for (std::size_t k = pick(120); k > 0; --k)
            ins.push_back(pick(5) == 0 ? U'é' : U'a' + pick(26));
        if (round % 7 == 3) {
            // A failing transaction after a big edit leaves the text as it was.
            auto r = a.transact([&](Document& d) -> std::expected<void, std::string> {
                (void)d.splice_text(t, pos, del, utf8_of(ins));
                return std::unexpected("no");
            });
            ASSERT_FALSE(r.has_value());
        } else {
            ASSERT_TRUE(a.splice_text(t, pos, del, utf8_of(ins)).has_value());
            model.replace(pos, del, ins);
        }
        ASSERT_EQ(a.text(t).value(), utf8_of(model)) << "round " << round;
        ASSERT_EQ(a.text_length(t).value(), model.size());
        ASSERT_TRUE(b.merge(a).has_value());
        ASSERT_EQ(b.text(t).value(), utf8_of(model)) << "round " << round;
    }
    EXPECT_GT(model.size(), 64u);
}

// Three replicas edit at random for many rounds and exchange random subsets of their changes in
// random orders; after a final full exchange they must hold identical content and heads.
TEST(Document, RandomConcurrentEditsConverge) {
    for (std::uint32_t seed : {1u, 2u, 3u, 4u}) {
        std::mt19937 rng(seed);
        auto pick = [&](std::size_t n) {
            return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
        };
        std::vector<Document> docs;
        for (std::uint8_t i = 1; i <= 3; ++i) docs.emplace_back(actor(i));
        const std::vector<std::string> keys = {"a", "b", "c", "d"};
        const std::vector<std::string> words = {"", "x", "hé", "€€", "wörd", "😀z"};

        auto random_edit = [&](Document& d) {
            // Pick a live map: the root or an object reachable from it.
            std::vector<ObjId> maps{ObjId::root()};
            std::vector<ObjId> texts;
            for (std::size_t i = 0; i < maps.size() && i < 8; ++i) {
                const auto map_keys = d.keys(maps[i]).value();
                for (const auto& k : map_keys) {
                    auto v = d.get(maps[i], k).value();
                    if (auto* o = std::get_if<ObjectRef>(&*v)) {
                        (o->type == ObjType::Map ? maps : texts).push_back(o->id);
                    }
                }
            }
            const std::string& key = keys[pick(keys.size())];
            switch (pick(8)) {
                case 0:
                    (void)d.put(maps[pick(maps.size())], key, std::int64_t(pick(100)));
                    break;
                case 6:
                    (void)d.put(maps[pick(maps.size())], key, Counter{std::int64_t(pick(10))});
                    break;
                case 7:  // fails unless the key holds a counter, which is fine
                    (void)d.increment(maps[pick(maps.size())], key, std::int64_t(pick(7)) - 3);
                    break;
                case 1:
                    (void)d.put(maps[pick(maps.size())], key, words[pick(words.size())]);
                    break;
                case 2:
                    (void)d.delete_key(maps[pick(maps.size())], key);
                    break;
                case 3:
                    (void)d.put_object(maps[pick(maps.size())], key, ObjType::Map);
                    break;
                case 4:
                    (void)d.put_object(maps[pick(maps.size())], key, ObjType::Text);
                    break;
                default: {
                    if (texts.empty()) break;
                    ObjId t = texts[pick(texts.size())];
                    std::size_t len = d.text_length(t).value();
                    std::size_t pos = pick(len + 1);
                    std::size_t del = pick(len - pos + 1);
                    ASSERT_TRUE(d.splice_text(t, pos, del, words[pick(words.size())]).has_value());
                }
            }
        };

        for (int round = 0; round < 60; ++round) {
            for (auto& d : docs) {
                for (std::size_t e = pick(4); e > 0; --e) random_edit(d);
                d.commit();
            }
            // Random partial gossip: a random subset of one replica's changes, shuffled.
            for (int g = 0; g < 2; ++g) {
                std::size_t from = pick(3), to = pick(3);
                if (from == to) continue;
                auto changes = docs[from].get_changes();
                std::shuffle(changes.begin(), changes.end(), rng);
                changes.resize(pick(changes.size() + 1));
                ASSERT_TRUE(docs[to].apply_changes(changes).has_value());
            }
        }
        for (std::size_t i = 0; i < 3; ++i) {
            for (std::size_t j = 0; j < 3; ++j) {
                if (i != j) {
                    ASSERT_TRUE(docs[i].merge(docs[j]).has_value());
                }
            }
        }
        EXPECT_EQ(docs[0].pending_changes(), 0u);
        for (std::size_t i = 1; i < 3; ++i) {
            EXPECT_EQ(dump(docs[i]), dump(docs[0])) << "seed " << seed;
            EXPECT_EQ(docs[i].get_heads(), docs[0].get_heads()) << "seed " << seed;
        }
        // A fresh replica built from the change log alone agrees as well.
        Document fresh(actor(9));
        ASSERT_TRUE(fresh.apply_changes(docs[0].get_changes()).has_value());
        EXPECT_EQ(dump(fresh), dump(docs[0]));
    }
}

}  // namespace
}  // namespace vorn_ui::doc
