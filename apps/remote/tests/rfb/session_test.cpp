// The session thread against scripted servers (message loop, pacing of requests, input queue,
// end-of-session status, dropping the handle) and the pure input helpers.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <cstring>

#include "rfb/input.h"
#include "rfb/session_state.h"
#include "rfb_test_util.h"

namespace remote::test {
namespace {

using namespace std::chrono_literals;

// Resident memory now, in KiB. Sampled while a test runs, so that a peak left behind by an
// earlier test in the same process cannot hide growth.
long resident_kib() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

const Bytes kIncrementalRequest = Wire{}.u8(3).u8(1).u16(0).u16(0).u16(8).u16(8).b;

TEST(VncSession, ServerMessagesKeepTheSessionGoing) {
    std::optional<Bytes> after_update;
    ScriptedServer server([&](ServerConn& conn) {
        if (!conn.handshake(8, 8)) return;
        Wire w;
        w.u8(2);                                                // Bell
        w.u8(1).u8(0).u16(0).u16(3).fill(18, 0xAB);             // SetColourMapEntries, 3 colours
        w.u8(3).fill(3, 0).u32(1'000'000).fill(1'000'000, 'c');  // ServerCutText
        w.update(1).rect(0, 0, 1, 1, 0).pixel(255, 0, 0);       // FramebufferUpdate
        conn.send(w);
        after_update = conn.recv(10);
    });
    auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
    ASSERT_TRUE(session);
    server.join();
    EXPECT_EQ(wait_for_end(*session), SessionStatus::closed());
    ASSERT_TRUE(after_update);
    EXPECT_EQ(*after_update, kIncrementalRequest);
    auto frame = take_new_frame(*session);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->generation, 1u) << "Bell, colour map and cut text change nothing";
    EXPECT_EQ((*frame->pixels)[0], 255);
    EXPECT_FALSE(take_new_frame(*session));
}

TEST(VncSession, EndsWithTheRightStatus) {
    struct Case {
        const char* name;
        Bytes after_handshake;  // then the server closes
        SessionStatus expected;
    } cases[] = {
        {"close after connected", {}, SessionStatus::closed()},
        {"unknown message 4", {4}, SessionStatus::failed("unknown server message 4")},
        {"unknown message 255", {255}, SessionStatus::failed("unknown server message 255")},
        {"decoding failure", Wire{}.update(1).rect(0, 0, 1, 1, -223).b,
         SessionStatus::failed("unsupported RFB encoding -223")},
        {"hostile RRE count", Wire{}.update(1).rect(0, 0, 1, 1, 2).u32(0x20000001).b,
         SessionStatus::failed("RFB RRE update has too many subrectangles")},
        {"close inside an update", Wire{}.update(1).rect(0, 0, 8, 8, 0).fill(10, 0).b,
         SessionStatus::closed()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server([&](ServerConn& conn) {
            if (conn.handshake(8, 8)) conn.send(c.after_handshake);
        });
        auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
        ASSERT_TRUE(session);
        EXPECT_EQ(wait_for_end(*session), c.expected);
    }
}

TEST(VncSession, QuietServerGetsARequestEvery500ms) {
    std::vector<std::chrono::steady_clock::time_point> times;
    bool all_incremental = true;
    ScriptedServer server([&](ServerConn& conn) {
        if (!conn.handshake(8, 8)) return;
        times.push_back(std::chrono::steady_clock::now());
        for (int i = 0; i < 3; ++i) {
            auto r = conn.recv(10);
            if (!r) return;
            all_incremental = all_incremental && *r == kIncrementalRequest;
            times.push_back(std::chrono::steady_clock::now());
        }
    });
    auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
    ASSERT_TRUE(session);
    server.join();
    ASSERT_EQ(times.size(), 4u);
    EXPECT_TRUE(all_incremental);
    for (std::size_t i = 1; i < times.size(); ++i) {
        auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(times[i] - times[i - 1]);
        EXPECT_GE(gap.count(), 480) << "request " << i;
        EXPECT_LE(gap.count(), 1500) << "request " << i;
    }
}

TEST(VncSession, InputQueueIsBoundedAndDrainedInOrderBeforeReading) {
    std::optional<Bytes> received;
    std::atomic<bool> update_started{false}, input_queued{false};
    ScriptedServer server([&](ServerConn& conn) {
        if (!conn.handshake(8, 8)) return;
        // Half an update: the session thread is now inside it, reading.
        Wire head = Wire{}.update(1).rect(0, 0, 8, 8, 0).fill(100, 0);
        conn.send(head);
        update_started = true;
        wait_until([&] { return input_queued.load(); });
        conn.send(Wire{}.fill(8 * 8 * 4 - 100, 0).u8(2));  // the rest, then a Bell
        received = conn.recv(10 + 256 * 6);
    });
    auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
    ASSERT_TRUE(session);
    ASSERT_TRUE(wait_until([&] { return update_started.load(); }));
    std::this_thread::sleep_for(300ms);  // let the thread pick up the message type
    int accepted = 0;
    std::vector<std::string> refusals;
    for (int i = 0; i < 300; ++i) {
        auto r = send_vnc_input(*session, {VncInput::Pointer{1, std::uint16_t(i), 7}});
        if (r) {
            ++accepted;
        } else {
            refusals.push_back(r.error());
        }
    }
    input_queued = true;
    server.join();
    EXPECT_EQ(accepted, 256);
    ASSERT_EQ(refusals.size(), 44u);
    EXPECT_EQ(refusals[0], "VNC input is busy; wait for the remote desktop to catch up");
    ASSERT_TRUE(received);
    Bytes expected = kIncrementalRequest;
    for (int i = 0; i < 256; ++i) {
        Wire p = Wire{}.u8(5).u8(1).u16(i).u16(7);
        expected.insert(expected.end(), p.b.begin(), p.b.end());
    }
    EXPECT_EQ(*received, expected);
}

TEST(VncSession, KeysAreSentAsPressThenRelease) {
    std::optional<Bytes> received;
    ScriptedServer server([&](ServerConn& conn) {
        if (conn.handshake(8, 8)) received = conn.recv(16);
    });
    auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
    ASSERT_TRUE(session);
    ASSERT_TRUE(wait_until([&] { return vnc_status(*session) == SessionStatus::connected(); }));
    bool named_thread = false;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        named_thread = named_thread || name == "remote-vnc";
    }
    EXPECT_TRUE(named_thread) << "the session thread is called remote-vnc";
    vorn_ui::KeyEvent enter;
    enter.key = vorn_ui::NamedKey::Enter;
    enter.modifiers.control = true;
    for (const auto& e : inputs_for_key(enter)) ASSERT_TRUE(send_vnc_input(*session, e));
    server.join();
    ASSERT_TRUE(received);
    EXPECT_EQ(*received, (Wire{}.u8(4).u8(1).u16(0).u32(0xFF0D).u8(4).u8(0).u16(0).u32(0xFF0D).b));
}

TEST(VncSession, InputAfterTheEndIsRefusedAndStatusExplains) {
    auto session = start_vnc_session("127.0.0.1", unused_port(), std::nullopt);
    ASSERT_TRUE(session);
    ASSERT_TRUE(wait_until([&] {
        return !send_vnc_input(*session, {VncInput::Key{true, 'a'}}).has_value() &&
               send_vnc_input(*session, {VncInput::Key{true, 'a'}}).error() ==
                   "VNC session input channel is closed";
    }));
    EXPECT_EQ(vnc_status(*session), SessionStatus::failed("Connection refused"));
}

TEST(VncSession, DroppingTheHandleEndsTheThreadPromptly) {
    struct Case {
        const char* name;
        bool handshake;  // false: the server never says anything
    } cases[] = {{"idle connected session", true}, {"silent server during handshake", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> ready{false}, closed{false};
        std::chrono::steady_clock::time_point dropped;
        std::chrono::milliseconds took{};
        ScriptedServer server([&](ServerConn& conn) {
            if (c.handshake && !conn.handshake(8, 8)) return;
            ready = true;
            closed = conn.wait_closed(5s);
            took = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - dropped);
        });
        {
            auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
            ASSERT_TRUE(session);
            ASSERT_TRUE(wait_until([&] { return ready.load(); }));
            std::this_thread::sleep_for(50ms);
            dropped = std::chrono::steady_clock::now();
        }
        server.join();
        EXPECT_TRUE(closed);
        EXPECT_LT(took.count(), 1000) << "the thread closes its socket soon after the drop";
    }
}

TEST(VncSession, HostileStreamsKeepMemoryFlat) {
    // 0xFFFFFFFF bytes of cut text announced, 200 MiB actually sent, then the server closes:
    // the text is drained, never held.
    const long baseline = resident_kib();
    ScriptedServer server([&](ServerConn& conn) {
        if (!conn.handshake(8, 8)) return;
        conn.send(Wire{}.u8(3).fill(3, 0).u32(0xFFFFFFFF));
        Bytes chunk(1 << 20, 'z');
        for (int i = 0; i < 200; ++i) {
            if (!conn.send(chunk)) return;
        }
    });
    auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
    ASSERT_TRUE(session);
    long peak = baseline;
    wait_until([&] {
        peak = std::max(peak, resident_kib());
        return !vnc_status(*session).is_live();
    }, 60s);
    EXPECT_EQ(vnc_status(*session), SessionStatus::closed());
    EXPECT_LT(peak - baseline, 32 * 1024) << "resident memory growth in KiB";
}

// A server that talks for ever from a few canned messages: the handshake, then full-screen Raw,
// scrolling CopyRect and busy RRE updates in turn, until `limit` bytes have been produced.
class EndlessServer final : public ByteSource {
public:
    explicit EndlessServer(std::uint64_t limit) : limit_(limit) {
        handshake_ = Wire{}.text("RFB 003.008\n").u8(1).u8(1).u32(0).server_init(640, 480).b;
        Wire raw = Wire{}.update(1).rect(0, 0, 640, 480, 0);
        for (int i = 0; i < 640 * 480; ++i) raw.pixel(i, i >> 8, i >> 16);
        Wire scroll = Wire{}.update(2).rect(0, 0, 640, 470, 1).u16(0).u16(10);
        scroll.rect(0, 470, 640, 10, 0).fill(640 * 10 * 4, 0x5A);
        Wire rre = Wire{}.update(1).rect(0, 0, 640, 480, 2).u32(5000).pixel(1, 2, 3);
        for (int i = 0; i < 5000; ++i) rre.pixel(i, 0, 0).u16(i % 600).u16(i % 470).u16(40).u16(10);
        updates_ = {raw.b, scroll.b, rre.b};
    }
    RfbResult<std::size_t> read_some(std::span<std::uint8_t> into) override {
        const Bytes& cur = current();
        if (produced_ >= limit_ && pos_ == 0 && !in_handshake_) {
            return std::unexpected(RfbError{RfbError::Kind::EndOfStream, "the VNC server closed the connection"});
        }
        std::size_t n = std::min(into.size(), cur.size() - pos_);
        std::memcpy(into.data(), cur.data() + pos_, n);
        pos_ += n;
        produced_ += n;
        if (pos_ == cur.size()) {
            pos_ = 0;
            if (in_handshake_) {
                in_handshake_ = false;
            } else {
                next_ = (next_ + 1) % updates_.size();
                ++updates_sent_;
            }
        }
        return n;
    }
    RfbResult<bool> wait_readable(std::chrono::milliseconds) override { return true; }
    RfbResult<void> write_all(std::span<const std::uint8_t>) override { return {}; }
    std::uint64_t updates_sent() const { return updates_sent_; }

private:
    const Bytes& current() const { return in_handshake_ ? handshake_ : updates_[next_]; }
    std::uint64_t limit_, produced_ = 0, updates_sent_ = 0;
    Bytes handshake_;
    std::vector<Bytes> updates_;
    std::size_t next_ = 0, pos_ = 0;
    bool in_handshake_ = true;
};

TEST(VncSession, LongStreamOfUpdatesRunsInFlatMemory) {
    EndlessServer server(256ull << 20);
    VncShared shared;
    const long baseline = resident_kib();
    long peak = baseline;
    std::atomic<bool> done{false};
    std::thread thread([&] {
        finish_vnc_session(shared, run_vnc_protocol(server, std::nullopt, shared));
        done = true;
    });
    // The view meanwhile takes pictures and holds on to some, as a painting view does.
    std::optional<std::uint64_t> taken;
    std::optional<FrameSnapshot> held;
    std::uint64_t frames = 0;
    while (!done) {
        if (auto s = take_new_frame(shared.slot, taken)) {
            ++frames;
            held = std::move(s);
        }
        peak = std::max(peak, resident_kib());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    thread.join();
    EXPECT_EQ(shared.status, SessionStatus::closed());
    auto last = shared.slot.get();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->generation, server.updates_sent());
    EXPECT_GT(server.updates_sent(), 300u);
    EXPECT_GT(frames, 0u);
    // Three 1.2 MB pictures at most are alive at once; 256 MB went through.
    EXPECT_LT(peak - baseline, 48 * 1024) << "resident memory growth in KiB";
}

TEST(VncInputHelpers, KeysToKeysyms) {
    using vorn_ui::NamedKey;
    struct Case {
        const char* name;
        vorn_ui::KeyEvent key;
        std::optional<std::uint32_t> keysym;
    };
    auto named = [](NamedKey k, std::string text = {}, bool ctrl = false) {
        vorn_ui::KeyEvent e;
        e.key = k;
        e.text = std::move(text);
        e.modifiers.control = ctrl;
        return e;
    };
    auto chr = [](std::string key, std::string text) {
        vorn_ui::KeyEvent e;
        e.key = std::move(key);
        e.text = std::move(text);
        return e;
    };
    Case cases[] = {
        {"Enter", named(NamedKey::Enter, "\r"), 0xFF0D},
        {"Ctrl+Enter", named(NamedKey::Enter, "", true), 0xFF0D},
        {"Tab", named(NamedKey::Tab, "\t"), 0xFF09},
        {"Space", named(NamedKey::Space, " "), 0x20},
        {"Backspace", named(NamedKey::Backspace), 0xFF08},
        {"Delete", named(NamedKey::Delete), 0xFFFF},
        {"Escape", named(NamedKey::Escape), 0xFF1B},
        {"ArrowLeft", named(NamedKey::ArrowLeft), 0xFF51},
        {"ArrowUp", named(NamedKey::ArrowUp), 0xFF52},
        {"ArrowRight", named(NamedKey::ArrowRight), 0xFF53},
        {"ArrowDown", named(NamedKey::ArrowDown), 0xFF54},
        {"Home", named(NamedKey::Home), std::nullopt},
        {"End", named(NamedKey::End), std::nullopt},
        {"F5", named(NamedKey::F5), std::nullopt},
        {"Shift", named(NamedKey::Shift), std::nullopt},
        {"a", chr("a", "a"), 'a'},
        {"é", chr("é", "é"), 0xE9},
        {"first character only", chr("€", "€uro"), 0x20AC},
        {"astral", chr("😀", "😀"), 0x1F600},
        {"Ctrl+a without text", chr("a", ""), std::nullopt},
        {"malformed text", chr("x", "\xff"), std::nullopt},
        {"cut sequence", chr("x", "\xc3"), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(keysym_for_key(c.key), c.keysym) << c.name;

    auto e_acute = chr("é", "é");
    EXPECT_EQ(inputs_for_key(e_acute), (std::vector<VncInput>{{VncInput::Key{true, 0xE9}},
                                                               {VncInput::Key{false, 0xE9}}}));
    e_acute.pressed = false;
    EXPECT_TRUE(inputs_for_key(e_acute).empty()) << "releases send nothing";
    EXPECT_TRUE(inputs_for_key(named(NamedKey::Home)).empty());
}

TEST(VncInputHelpers, PasswordFromEnvironment) {
    ::unsetenv("REMOTE_VNC_PASSWORD");
    EXPECT_EQ(vnc_password_from_environment(), std::nullopt);
    ::setenv("REMOTE_VNC_PASSWORD", "pässword", 1);
    EXPECT_EQ(vnc_password_from_environment(), "pässword");
    ::setenv("REMOTE_VNC_PASSWORD", "bad\xff", 1);
    EXPECT_EQ(vnc_password_from_environment(), std::nullopt);
    ::unsetenv("REMOTE_VNC_PASSWORD");
}

TEST(VncInputHelpers, PointerMapping) {
    using Pos = std::optional<std::pair<std::uint16_t, std::uint16_t>>;
    const std::pair<std::uint16_t, std::uint16_t> fb{800, 600};
    const SurfaceRect r{100, 50, 500, 350};  // drawn at half size
    struct Case {
        const char* name;
        double px, py;
        SurfaceRect surface;
        std::optional<std::pair<std::uint16_t, std::uint16_t>> frame;
        Pos expected;
    } cases[] = {
        {"top left", 100, 50, r, fb, Pos{{0, 0}}},
        {"middle", 300, 200, r, fb, Pos{{400, 300}}},
        {"just inside", 499.99, 349.99, r, fb, Pos{{799, 599}}},
        {"right edge", 500, 200, r, fb, std::nullopt},
        {"bottom edge", 300, 350, r, fb, std::nullopt},
        {"left of picture", 99.5, 200, r, fb, std::nullopt},
        {"no picture", 300, 200, r, std::nullopt, std::nullopt},
        {"empty picture", 300, 200, r, std::pair<std::uint16_t, std::uint16_t>{0, 600}, std::nullopt},
        {"empty surface", 100, 50, SurfaceRect{100, 50, 100, 350}, fb, std::nullopt},
        {"fractional", 100.75, 50.75, SurfaceRect{100, 50, 101, 51}, fb, Pos{{600, 450}}},
    };
    for (const auto& c : cases) EXPECT_EQ(map_pointer(c.px, c.py, c.surface, c.frame), c.expected) << c.name;
}

TEST(VncInputHelpers, ButtonMask) {
    std::uint8_t m = 0;
    m = update_button_mask(m, vorn_ui::PointerButton::Primary, true);
    EXPECT_EQ(m, 1);
    m = update_button_mask(m, vorn_ui::PointerButton::Secondary, true);
    EXPECT_EQ(m, 5);
    m = update_button_mask(m, vorn_ui::PointerButton::Other, true);
    EXPECT_EQ(m, 5);
    m = update_button_mask(m, vorn_ui::PointerButton::Middle, true);
    EXPECT_EQ(m, 7);
    m = update_button_mask(m, vorn_ui::PointerButton::Primary, false);
    EXPECT_EQ(m, 6);
    m = update_button_mask(m, vorn_ui::PointerButton::Primary, false);
    EXPECT_EQ(m, 6);
}

}  // namespace
}  // namespace remote::test
