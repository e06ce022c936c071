// The handshake against scripted servers: version table, security choices, VNC Authentication,
// SecurityResult, ServerInit limits and the exact bytes the client sends.

#include <gtest/gtest.h>

#include "rfb/handshake.h"
#include "rfb_test_util.h"

namespace remote::test {
namespace {

Bytes hex(std::string_view h) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

Bytes text_bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

constexpr const char* kClosed = "the VNC server closed the connection";

TEST(RfbHandshake, VersionTable) {
    struct Case {
        const char* server;
        const char* reply;  // nullptr: refused with "bad ProtocolVersion"
    } cases[] = {
        {"RFB 003.008\n", "RFB 003.008\n"}, {"RFB 003.007\n", "RFB 003.007\n"},
        {"RFB 003.005\n", "RFB 003.003\n"}, {"RFB 003.003\n", "RFB 003.003\n"},
        {"RFB 004.001\n", "RFB 003.008\n"}, {"RFB 002.009\n", "RFB 003.003\n"},
        {"RFB 003.255\n", "RFB 003.008\n"}, {"RFB 003.889\n", nullptr},
        {"RFX 003.008\n", nullptr},         {"RFB 003-008\n", nullptr},
        {"RFB 003.\xff\xfe\n", nullptr},    {"RFB .008    ", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        std::optional<Bytes> reply;
        ScriptedServer server([&](ServerConn& conn) {
            conn.send(Wire{}.text(std::string_view(c.server, 12)));
            if (c.reply) reply = conn.recv(12);
        });
        auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
        ASSERT_TRUE(session);
        auto end = wait_for_end(*session);
        server.join();
        EXPECT_EQ(end.kind, SessionStatus::Kind::Failed);
        if (c.reply) {
            ASSERT_TRUE(reply);
            EXPECT_EQ(*reply, text_bytes(c.reply));
            EXPECT_EQ(end.text, kClosed);  // the script ends after the version exchange
        } else {
            EXPECT_EQ(end.text, "bad ProtocolVersion");
        }
    }
}

// Security negotiation up to the end of the security phase; the script then hands over to a
// normal initialisation so that success shows as a connected (then closed) session.
TEST(RfbHandshake, SecurityChoices) {
    static const std::string kept_reason = std::string(kMaxReasonBytes, 'r') + "…";
    struct Case {
        const char* name;
        const char* version;
        Bytes offer;                      // what the server sends after the version
        std::optional<std::uint8_t> choice;  // the byte the client must send (3.7/3.8)
        bool auth;                        // VNC Authentication follows
        bool result;                      // the server sends a SecurityResult
        const char* failure;              // expected status text, nullptr when it connects
    } cases[] = {
        {"3.8 [2,1] picks None", "RFB 003.008\n", {2, 2, 1}, 1, false, true, nullptr},
        {"3.8 [2] picks auth", "RFB 003.008\n", {1, 2}, 2, true, true, nullptr},
        {"3.8 [16,18] unsupported", "RFB 003.008\n", {2, 16, 18}, std::nullopt, false, false,
         "no supported VNC security type"},
        {"3.7 None has no result", "RFB 003.007\n", {1, 1}, 1, false, false, nullptr},
        {"3.3 None", "RFB 003.003\n", Wire{}.u32(1).b, std::nullopt, false, false, nullptr},
        {"3.3 auth", "RFB 003.003\n", Wire{}.u32(2).b, std::nullopt, true, true, nullptr},
        {"3.3 type 0", "RFB 003.003\n", Wire{}.u32(0).b, std::nullopt, false, false,
         "unhandled security type 0"},
        {"3.3 low byte decides", "RFB 003.003\n", Wire{}.u32(0x0301).b, std::nullopt, false,
         false, nullptr},
        {"3.3 type 16", "RFB 003.003\n", Wire{}.u32(16).b, std::nullopt, false, false,
         "unhandled security type 16"},
        {"no types, reason", "RFB 003.008\n", Wire{}.u8(0).u32(9).text("go away \xff").b,
         std::nullopt, false, false, "go away \xEF\xBF\xBD"},
        {"no types, empty reason", "RFB 003.007\n", Wire{}.u8(0).u32(0).b, std::nullopt, false,
         false, ""},
        {"no types, 4 GiB reason kept bounded", "RFB 003.008\n",
         Wire{}.u8(0).u32(0xFFFFFFFF).fill(kMaxReasonBytes + 10, 'r').b, std::nullopt, false, false,
         kept_reason.c_str()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<Bytes> choice, response;
        bool closed_early = false;
        ScriptedServer server([&](ServerConn& conn) {
            conn.send(Wire{}.text(c.version));
            if (!conn.recv(12)) return;
            conn.send(c.offer);
            if (c.failure) {
                closed_early = conn.wait_closed(std::chrono::seconds(5));
                return;
            }
            if (c.choice) choice = conn.recv(1);
            if (c.auth) {
                conn.send(Wire{}.fill(16, 7));
                response = conn.recv(16);
            }
            if (c.result) conn.send(Wire{}.u32(0));
            // The next byte must be ClientInit: a missing or extra SecurityResult shifts it.
            auto init = conn.recv(1);
            if (!init || (*init)[0] != 1) return;
            conn.send(Wire{}.server_init(8, 8));
            conn.recv(46);
        });
        auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
        ASSERT_TRUE(session);
        auto end = wait_for_end(*session);
        server.join();
        if (c.failure) {
            EXPECT_EQ(end, SessionStatus::failed(c.failure));
            EXPECT_TRUE(closed_early) << "nothing is sent after an unusable offer";
            continue;
        }
        EXPECT_EQ(end, SessionStatus::closed());
        if (c.choice) {
            ASSERT_TRUE(choice);
            EXPECT_EQ((*choice)[0], *c.choice);
        }
        if (c.auth) {
            ASSERT_TRUE(response);
            std::array<std::uint8_t, 16> challenge;
            challenge.fill(7);
            auto expected = vnc_auth_response(challenge, "");
            EXPECT_EQ(*response, Bytes(expected.begin(), expected.end()));
        }
    }
}

TEST(RfbHandshake, VncAuthResponseMatchesDes) {
    std::array<std::uint8_t, 16> challenge;
    for (std::size_t i = 0; i < 16; ++i) challenge[i] = static_cast<std::uint8_t>(i);
    // Computed independently with a DES command-line tool and the bit-reversed key.
    auto r = vnc_auth_response(challenge, "password");
    EXPECT_EQ(Bytes(r.begin(), r.end()), hex("b866924125c8eebb9debc1db61c538e2"));
    auto empty = vnc_auth_response(challenge, "");
    EXPECT_EQ(Bytes(empty.begin(), empty.end()), hex("491e890de9ace932838a49792f2213f3"));
    // Only the first 8 bytes count, even when the cut falls inside a character.
    EXPECT_EQ(vnc_auth_response(challenge, "password123"), r);
    EXPECT_EQ(vnc_auth_response(challenge, "passwor\xc3\xa9"),
              vnc_auth_response(challenge, "passwor\xc3"));
    EXPECT_NE(vnc_auth_response(challenge, "passwore"), r);
}

TEST(RfbHandshake, SecurityResultFailures) {
    struct Case {
        const char* name;
        const char* version;
        Bytes after_response;  // SecurityResult and whatever follows, then the server closes
        std::string failure;
    } cases[] = {
        {"3.8 with reason", "RFB 003.008\n", Wire{}.u32(1).u32(14).text("Wrong password").b,
         "Wrong password"},
        {"3.3 closes", "RFB 003.003\n", Wire{}.u32(1).b, "authentication failed"},
        {"3.7 closes", "RFB 003.007\n", Wire{}.u32(2).b, "authentication failed"},
        {"reason cut short", "RFB 003.008\n", Wire{}.u32(1).u32(50).text("short").b,
         "authentication failed"},
        {"huge reason kept bounded", "RFB 003.008\n",
         Wire{}.u32(1).u32(0xFFFFFFFF).fill(kMaxReasonBytes + 100, 'x').b,
         std::string(kMaxReasonBytes, 'x') + "…"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server([&](ServerConn& conn) {
            conn.send(Wire{}.text(c.version));
            conn.recv(12);
            if (std::string_view(c.version) == "RFB 003.003\n") {
                conn.send(Wire{}.u32(2));
            } else {
                conn.send(Wire{}.u8(1).u8(2));
                conn.recv(1);
            }
            conn.send(Wire{}.fill(16, 1));
            conn.recv(16);
            conn.send(c.after_response);
        });
        auto session = start_vnc_session("127.0.0.1", server.port(), "secret");
        ASSERT_TRUE(session);
        EXPECT_EQ(wait_for_end(*session), SessionStatus::failed(c.failure));
    }
}

TEST(RfbHandshake, ServerInitLimits) {
    struct Case {
        const char* name;
        std::uint16_t w, h;
        std::uint32_t name_len;
        std::size_t name_sent;  // bytes of name actually sent
        const char* failure;
    } cases[] = {
        {"name 16384", 8, 8, 16384, 16384, nullptr},
        {"name 16385 refused unread", 8, 8, 16385, 0, "RFB server name exceeds the 16 KiB limit"},
        {"name 4 GiB", 8, 8, 0xFFFFFFFF, 0, "RFB server name exceeds the 16 KiB limit"},
        {"name checked before size", 0, 0, 16385, 0, "RFB server name exceeds the 16 KiB limit"},
        {"4096x4096", 4096, 4096, 0, 0, nullptr},
        {"4097x4096", 4097, 4096, 0, 0,
         "RFB framebuffer dimensions exceed the 16 megapixel limit"},
        {"0x600", 0, 600, 0, 0, "RFB framebuffer dimensions exceed the 16 megapixel limit"},
        {"65535x65535", 65535, 65535, 0, 0,
         "RFB framebuffer dimensions exceed the 16 megapixel limit"},
        {"65535x256", 65535, 256, 0, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server([&](ServerConn& conn) {
            if (!conn.send(Wire{}.text("RFB 003.008\n")) || !conn.recv(12)) return;
            conn.send(Wire{}.u8(1).u8(1));
            conn.recv(1);
            conn.send(Wire{}.u32(0));
            conn.recv(1);
            Wire init;
            init.u16(c.w).u16(c.h).fill(16, 0).u32(c.name_len).fill(c.name_sent, 'n');
            conn.send(init);
            if (!c.failure) conn.recv(46);
        });
        auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
        ASSERT_TRUE(session);
        auto end = wait_for_end(*session);
        if (c.failure) {
            EXPECT_EQ(end, SessionStatus::failed(c.failure));
        } else {
            EXPECT_EQ(end, SessionStatus::closed());
            auto size = frame_size(*session);
            ASSERT_TRUE(size);
            EXPECT_EQ(*size, std::pair(c.w, c.h));
        }
    }
}

TEST(RfbHandshake, ClientSendsExactInitialMessages) {
    std::optional<Bytes> sent;
    ScriptedServer server([&](ServerConn& conn) {
        conn.send(Wire{}.text("RFB 003.008\n"));
        conn.recv(12);
        conn.send(Wire{}.u8(1).u8(1));
        conn.recv(1);
        conn.send(Wire{}.u32(0));
        sent = conn.recv(1);  // ClientInit
        conn.send(Wire{}.server_init(640, 480));
        auto rest = conn.recv(20 + 16 + 10);
        if (sent && rest) sent->insert(sent->end(), rest->begin(), rest->end());
    });
    auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
    ASSERT_TRUE(session);
    server.join();
    ASSERT_TRUE(sent);
    EXPECT_EQ(*sent, hex("01"
                         "0000000020180001" "00ff00ff00ff100800000000"
                         "0200000300000000" "0000000100000002"
                         "0300" "0000" "0000" "0280" "01e0"));
}

TEST(RfbHandshake, ConnectionFailures) {
    auto refused = start_vnc_session("127.0.0.1", unused_port(), std::nullopt);
    ASSERT_TRUE(refused);
    EXPECT_EQ(wait_for_end(*refused), SessionStatus::failed("Connection refused"));

    auto unresolvable = start_vnc_session("no-such-host.invalid", 5900, std::nullopt);
    ASSERT_TRUE(unresolvable);
    auto end = wait_for_end(*unresolvable, std::chrono::seconds(30));
    EXPECT_EQ(end.kind, SessionStatus::Kind::Failed);
    EXPECT_FALSE(end.text.empty());

    // The server goes away in the middle of the handshake.
    ScriptedServer server([](ServerConn& conn) { conn.send(Wire{}.text("RFB 003.0")); });
    auto cut = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
    ASSERT_TRUE(cut);
    EXPECT_EQ(wait_for_end(*cut), SessionStatus::failed(kClosed));
}

TEST(RfbHandshake, Utf8Replacement) {
    struct Case {
        Bytes in;
        std::string out;
    } cases[] = {
        {text_bytes("plain"), "plain"},
        {{0xC3, 0xA9}, "é"},
        {{0xFF, 'a'}, "\xEF\xBF\xBD" "a"},
        {{0xE2, 0x82, 'x'}, "\xEF\xBF\xBD" "x"},       // truncated sequence is one replacement
        {{0xED, 0xA0, 0x80}, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
        {{0xF0, 0x9F, 0x98, 0x80}, "\xF0\x9F\x98\x80"},
        {{0xC3}, "\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) EXPECT_EQ(decode_utf8_lossy(c.in), c.out);
}

}  // namespace
}  // namespace remote::test
