// The session against a real TigerVNC Xvnc on loopback: the picture drawn on the X display must
// arrive pixel for pixel, with security None and with VNC Authentication.

#include <gtest/gtest.h>

#include "rfb_test_util.h"
#include "xvnc_fixture.h"

namespace remote::test {
namespace {

using namespace std::chrono_literals;

#define START_XVNC(var, options)                                             \
    if (!XvncServer::available()) GTEST_SKIP() << "Xvnc is not installed (tigervnc-standalone-server)"; \
    std::string why_##var;                                                   \
    auto var = XvncServer::start(options, why_##var);                        \
    ASSERT_TRUE(var) << why_##var

// Waits until the session's newest picture is entirely `rgb`; returns whether it was.
bool picture_becomes(VncSession& session, std::array<std::uint8_t, 3> rgb) {
    std::optional<FrameSnapshot> last;
    auto uniform = [&](const FrameSnapshot& s) {
        const auto& px = *s.pixels;
        for (std::size_t i = 0; i < px.size(); i += 4) {
            if (px[i] != rgb[0] || px[i + 1] != rgb[1] || px[i + 2] != rgb[2] || px[i + 3] != 255) {
                return false;
            }
        }
        return true;
    };
    return wait_until([&] {
        if (auto s = take_new_frame(session)) last = s;
        return last && uniform(*last);
    }, 15s);
}

TEST(XvncPeer, PictureArrivesAndFollowsTheScreen) {
    START_XVNC(server, XvncServer::Options{});
    ASSERT_TRUE(server->run_client({"xsetroot", "-solid", "#ff0000"}));
    auto session = start_vnc_session("127.0.0.1", server->port(), std::nullopt);
    ASSERT_TRUE(session);
    EXPECT_TRUE(picture_becomes(*session, {255, 0, 0})) << vnc_status(*session).text;
    EXPECT_EQ(vnc_status(*session), SessionStatus::connected());
    EXPECT_EQ(frame_size(*session), (std::pair<std::uint16_t, std::uint16_t>(320, 240)));

    // Incremental updates follow the screen.
    ASSERT_TRUE(server->run_client({"xsetroot", "-solid", "#2040c0"}));
    EXPECT_TRUE(picture_becomes(*session, {0x20, 0x40, 0xc0}));

    // Pointer and keys are accepted by the server (it would drop us on a malformed message).
    ASSERT_TRUE(send_vnc_input(*session, {VncInput::Pointer{0, 10, 10}}));
    ASSERT_TRUE(send_vnc_input(*session, {VncInput::Key{true, 'a'}}));
    ASSERT_TRUE(send_vnc_input(*session, {VncInput::Key{false, 'a'}}));
    ASSERT_TRUE(server->run_client({"xsetroot", "-solid", "#00ff00"}));
    EXPECT_TRUE(picture_becomes(*session, {0, 255, 0}));
    EXPECT_EQ(vnc_status(*session), SessionStatus::connected());
}

TEST(XvncPeer, ServerShutdownClosesTheSession) {
    std::optional<VncSession> session;
    {
        START_XVNC(server, XvncServer::Options{});
        auto s = start_vnc_session("127.0.0.1", server->port(), std::nullopt);
        ASSERT_TRUE(s);
        session.emplace(std::move(*s));
        ASSERT_TRUE(wait_until([&] { return take_new_frame(*session).has_value(); }));
    }  // the server stops here
    auto end = wait_for_end(*session);
    // Xvnc closes its clients on exit; a reset instead of a clean close is reported by its text.
    EXPECT_TRUE(end == SessionStatus::closed() || end.kind == SessionStatus::Kind::Failed)
        << end.text;
}

TEST(XvncPeer, VncAuthentication) {
    XvncServer::Options options;
    options.password = "s3cr3t-pw";  // longer than 8 bytes: both sides cut it
    START_XVNC(server, options);
    ASSERT_TRUE(server->run_client({"xsetroot", "-solid", "#808080"}));

    auto good = start_vnc_session("127.0.0.1", server->port(), "s3cr3t-p");
    ASSERT_TRUE(good);
    EXPECT_TRUE(picture_becomes(*good, {0x80, 0x80, 0x80})) << vnc_status(*good).text;

    auto bad = start_vnc_session("127.0.0.1", server->port(), "wrong");
    ASSERT_TRUE(bad);
    auto end = wait_for_end(*bad, 20s);
    EXPECT_EQ(end.kind, SessionStatus::Kind::Failed);
    // TigerVNC explains the refusal; a server that just closes gives our own text.
    EXPECT_TRUE(end.text == "Authentication failure" || end.text == "authentication failed")
        << end.text;

    auto none = start_vnc_session("127.0.0.1", server->port(), std::nullopt);
    ASSERT_TRUE(none);
    EXPECT_EQ(wait_for_end(*none, 20s).kind, SessionStatus::Kind::Failed);
}

}  // namespace
}  // namespace remote::test
