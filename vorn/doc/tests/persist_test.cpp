#include "vorn/doc/persist.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "vorn/doc/bound_dispatch.h"
#include "vorn/doc/tests/dump.h"

namespace vorn_ui::persist {
namespace {

namespace fs = std::filesystem;
using doc::ObjId;
using doc::ObjType;
using doc::testing::dump;

class TempDir {
  public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "vorn-doc-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }
    Location location() const { return {path_ / "data" / "connections", path_ / "state"}; }

  private:
    fs::path path_;
};

struct Collected {
    std::vector<std::string> warnings;
    Store::WarningSink sink() {
        return [this](std::string_view w) { warnings.emplace_back(w); };
    }
};

std::unique_ptr<Store> open_store(const Location& loc, Collected& c) {
    auto s = Store::open_at(loc, c.sink());
    EXPECT_TRUE(s.has_value()) << s.error();
    return std::move(*s);
}

std::vector<std::uint8_t> read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const fs::path& p, std::span<const std::uint8_t> bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void put_str(doc::Document& d, std::string_view key, std::string value) {
    ASSERT_TRUE(d.put(ObjId::root(), key, std::move(value)).has_value());
}

TEST(Persist, ReopenGivesTheSameContentHeadsAndActorInPrivateFiles) {
    TempDir tmp;
    Collected c;
    std::string content;
    std::vector<doc::ChangeHash> heads;
    doc::ActorId actor{};
    fs::path log;
    {
        auto s = open_store(tmp.location(), c);
        auto& d = s->document();
        auto t = d.put_object(ObjId::root(), "name", ObjType::Text).value();
        ASSERT_TRUE(d.splice_text(t, 0, 0, "Build Box").has_value());
        d.commit();
        put_str(d, "host", "build.lab.example");
        ASSERT_TRUE(s->save().has_value());
        ASSERT_TRUE(doc::splice_text_diffed(d, t, "Build Boxes").has_value());
        ASSERT_TRUE(s->save().has_value());
        content = dump(d);
        heads = d.get_heads();
        actor = d.actor_id();
        log = s->log_path();
    }
    EXPECT_EQ(fs::status(tmp.location().data_dir).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(tmp.location().state_dir).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(log).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    auto s = open_store(tmp.location(), c);
    EXPECT_EQ(dump(s->document()), content);
    EXPECT_EQ(s->document().get_heads(), heads);
    EXPECT_EQ(s->document().actor_id(), actor);  // the device keeps its actor across restarts
    EXPECT_TRUE(c.warnings.empty());
    // Continuing the same actor's log after a restart works and survives another reopen.
    put_str(s->document(), "user", "admin");
    ASSERT_TRUE(s->save().has_value());
    content = dump(s->document());
    s.reset();
    EXPECT_EQ(dump(open_store(tmp.location(), c)->document()), content);

    // The same state directory on another machine (restored from a backup) must not reuse this
    // device's actor, or two devices would append to one log.
    std::string moved = doc::to_hex(actor) + " 0123456789abcdef0123456789abcdef\n";
    write_file(tmp.location().state_dir / "actor-0",
               std::span(reinterpret_cast<const std::uint8_t*>(moved.data()), moved.size()));
    auto elsewhere = open_store(tmp.location(), c);
    EXPECT_NE(elsewhere->document().actor_id(), actor);
    EXPECT_EQ(dump(elsewhere->document()), content);
}

TEST(Persist, ATornOrCorruptTailIsSkippedWithAWarning) {
    TempDir tmp;
    Collected c;
    fs::path log;
    std::string after_two;
    {
        auto s = open_store(tmp.location(), c);
        for (std::string v : {"one", "two", "three"}) {
            put_str(s->document(), v, v);
            ASSERT_TRUE(s->save().has_value());
            if (v == "two") after_two = dump(s->document());
        }
        log = s->log_path();
    }
    auto bytes = read_file(log);
    auto whole = bytes;

    // Cut in the middle of the last record: the first two survive, the file is repaired, and a
    // new edit lands after them where the next open finds it.
    bytes.resize(bytes.size() - 5);
    write_file(log, bytes);
    {
        auto s = open_store(tmp.location(), c);
        EXPECT_EQ(dump(s->document()), after_two);
        ASSERT_EQ(c.warnings.size(), 1u);
        EXPECT_NE(c.warnings[0].find("damaged bytes"), std::string::npos) << c.warnings[0];
        put_str(s->document(), "four", "four");
        ASSERT_TRUE(s->save().has_value());
    }
    c.warnings.clear();
    {
        auto s = open_store(tmp.location(), c);
        EXPECT_TRUE(c.warnings.empty());
        EXPECT_EQ(s->document().keys(ObjId::root()).value(),
                  (std::vector<std::string>{"four", "one", "two"}));
    }

    // Another actor's log with a flipped byte in its last record: the good records apply.
    c.warnings.clear();
    whole[whole.size() - 2] ^= 0x40;
    std::string other_name = std::string(32, 'a') + ".log";
    // Rewrite the bytes under another actor's name: the records name their own actor, so the
    // file name does not matter to the document.
    TempDir tmp2;
    fs::create_directories(tmp2.location().data_dir);
    write_file(tmp2.location().data_dir / other_name, whole);
    auto s = open_store(tmp2.location(), c);
    EXPECT_EQ(dump(s->document()), after_two);
    ASSERT_EQ(c.warnings.size(), 1u);
    EXPECT_NE(c.warnings[0].find("checksum"), std::string::npos) << c.warnings[0];
    // A refresh does not warn about the same damage again.
    EXPECT_FALSE(s->refresh().value());
    EXPECT_EQ(c.warnings.size(), 1u);
}

TEST(Persist, ADamagedRecordInItsOwnLogMovesTheDeviceToANewActor) {
    TempDir tmp;
    Collected c;
    fs::path log;
    doc::ActorId old_actor{};
    std::string after_one;
    {
        auto s = open_store(tmp.location(), c);
        put_str(s->document(), "one", "1");
        ASSERT_TRUE(s->save().has_value());
        after_one = dump(s->document());
        put_str(s->document(), "two", "2");
        ASSERT_TRUE(s->save().has_value());
        log = s->log_path();
        old_actor = s->document().actor_id();
    }
    auto bytes = read_file(log);
    bytes[bytes.size() - 3] ^= 0x01;  // inside the last, once complete, record
    write_file(log, bytes);
    std::string after_three;
    {
        auto s = open_store(tmp.location(), c);
        EXPECT_EQ(dump(s->document()), after_one);
        EXPECT_NE(s->document().actor_id(), old_actor);
        EXPECT_FALSE(c.warnings.empty());
        put_str(s->document(), "three", "3");
        ASSERT_TRUE(s->save().has_value());
        after_three = dump(s->document());
    }
    EXPECT_EQ(read_file(log), bytes);  // the damaged log is left for whoever already read it
    auto s = open_store(tmp.location(), c);
    EXPECT_EQ(dump(s->document()), after_three);
}

TEST(Persist, TwoDocumentsOnOneDirectorySeeEachOthersEdits) {
    TempDir tmp;
    Collected c;
    auto a = open_store(tmp.location(), c);
    auto b = open_store(tmp.location(), c);  // a second instance: it must take its own actor
    ASSERT_NE(a->document().actor_id(), b->document().actor_id());
    ASSERT_NE(a->log_path(), b->log_path());
    ASSERT_GE(b->watch_fd(), 0);
    EXPECT_FALSE(b->refresh().value());

    put_str(a->document(), "from_a", "1");
    ASSERT_TRUE(a->save().has_value());
    pollfd p{b->watch_fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 1000), 1);  // the event loop would wake
    EXPECT_TRUE(b->refresh().value());
    EXPECT_TRUE(b->document().get(ObjId::root(), "from_a").value().has_value());
    EXPECT_FALSE(b->refresh().value());
    EXPECT_EQ(::poll(&p, 1, 0), 0);  // refresh drained the notifications

    // Concurrent edits on both sides converge through the directory.
    put_str(a->document(), "k", "a");
    put_str(b->document(), "k", "b");
    ASSERT_TRUE(a->save().has_value());
    ASSERT_TRUE(b->save().has_value());
    EXPECT_TRUE(a->refresh().value());
    EXPECT_TRUE(b->refresh().value());
    EXPECT_EQ(dump(a->document()), dump(b->document()));
    EXPECT_EQ(a->document().get_heads(), b->document().get_heads());

    // A third opener sees everything both wrote.
    auto third = open_store(tmp.location(), c);
    EXPECT_EQ(dump(third->document()), dump(a->document()));
    EXPECT_TRUE(c.warnings.empty());
}

TEST(Persist, LogsReplacedOrRemovedBySyncToolsLoseNothing) {
    TempDir tmp;
    Collected c;
    auto a = open_store(tmp.location(), c);
    auto b = open_store(tmp.location(), c);
    put_str(a->document(), "one", "1");
    ASSERT_TRUE(a->save().has_value());
    ASSERT_TRUE(b->refresh().value());

    // A sync tool delivers a newer copy of a's log by writing a new file and renaming it over
    // the old one: b notices the new file and reads it from the start.
    put_str(a->document(), "two", "2");
    ASSERT_TRUE(a->save().has_value());
    auto bytes = read_file(a->log_path());
    fs::path staged = tmp.path() / "staged";
    write_file(staged, bytes);
    fs::rename(staged, a->log_path());
    EXPECT_TRUE(b->refresh().value());
    EXPECT_EQ(dump(b->document()), dump(a->document()));

    // a's own log is deleted while it runs: the next change rewrites it whole.
    fs::remove(a->log_path());
    put_str(a->document(), "three", "3");
    ASSERT_TRUE(a->save().has_value());
    ASSERT_EQ(c.warnings.size(), 1u);
    EXPECT_NE(c.warnings[0].find("rewrote"), std::string::npos) << c.warnings[0];
    std::string content = dump(a->document());
    a.reset();
    EXPECT_TRUE(b->refresh().value());
    EXPECT_EQ(dump(b->document()), content);
    EXPECT_EQ(dump(open_store(tmp.location(), c)->document()), content);
}

TEST(Persist, DefaultLocationFollowsTheXdgVariables) {
    struct Row {
        const char* home;
        const char* data;
        const char* state;
        std::string want_data, want_state;  // empty: an error
    };
    std::vector<Row> rows = {
        {"/h", "/d", "/s", "/d/vorn/remote/connections", "/s/vorn/remote"},
        {"/h", nullptr, nullptr, "/h/.local/share/vorn/remote/connections",
         "/h/.local/state/vorn/remote"},
        {"/h", "relative", "", "/h/.local/share/vorn/remote/connections",
         "/h/.local/state/vorn/remote"},
        {nullptr, "/d", "/s", "/d/vorn/remote/connections", "/s/vorn/remote"},
        {nullptr, nullptr, "/s", "", ""},
    };
    auto set = [](const char* name, const char* v) {
        if (v)
            ::setenv(name, v, 1);
        else
            ::unsetenv(name);
    };
    std::string saved_home = std::getenv("HOME") ? std::getenv("HOME") : "";
    for (const Row& r : rows) {
        set("HOME", r.home);
        set("XDG_DATA_HOME", r.data);
        set("XDG_STATE_HOME", r.state);
        auto loc = default_location();
        if (r.want_data.empty()) {
            EXPECT_FALSE(loc.has_value());
        } else {
            ASSERT_TRUE(loc.has_value()) << loc.error();
            EXPECT_EQ(loc->data_dir, r.want_data);
            EXPECT_EQ(loc->state_dir, r.want_state);
        }
    }
    set("HOME", saved_home.empty() ? nullptr : saved_home.c_str());
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_STATE_HOME");
}

TEST(BoundDispatch, ReportsExactlyTheChangesOfTheAction) {
    doc::Document d;
    put_str(d, "x", "1");
    d.commit();
    auto before = bound_dispatch::typed_action_before(d);
    ASSERT_TRUE(before.has_value());
    ASSERT_TRUE(d.transact([](doc::Document& doc) -> std::expected<void, std::string> {
                     (void)doc.put(ObjId::root(), "y", std::int64_t{2});
                     return doc.put(ObjId::root(), "z", std::int64_t{3});
                 }).has_value());
    auto after = d.get_heads();
    put_str(d, "later", "not the action's");
    d.commit();
    auto report = bound_dispatch::report_typed_action(d, *before, after);
    EXPECT_TRUE(report.changed);
    EXPECT_EQ(report.changes, after);
    EXPECT_EQ(report.operations, 2u);
    EXPECT_EQ(report.before, before->heads);

    // An unchanged document reports nothing; an open transaction gives no before-state.
    auto idle = bound_dispatch::typed_action_before(d);
    auto none = bound_dispatch::report_typed_action(d, *idle, d.get_heads());
    EXPECT_FALSE(none.changed);
    put_str(d, "open", "tx");
    EXPECT_FALSE(bound_dispatch::typed_action_before(d).has_value());
}

}  // namespace
}  // namespace vorn_ui::persist
