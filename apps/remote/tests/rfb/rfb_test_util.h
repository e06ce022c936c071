#pragma once
// Test helpers for the RFB client: a builder for server bytes, a scripted RFB server on loopback,
// and bounded waiting.

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "rfb/session.h"

namespace remote {
inline void PrintTo(const SessionStatus& s, std::ostream* os) {
    static const char* names[] = {"Connecting", "Connected", "Closed", "Unavailable", "Failed"};
    *os << names[static_cast<int>(s.kind)] << "(\"" << s.text << "\")";
}
}  // namespace remote

namespace remote::test {

using Bytes = std::vector<std::uint8_t>;

// Appends big-endian values, as the server writes them.
struct Wire {
    Bytes b;
    Wire& u8(std::uint32_t v) { b.push_back(static_cast<std::uint8_t>(v)); return *this; }
    Wire& u16(std::uint32_t v) { return u8(v >> 8).u8(v); }
    Wire& u32(std::uint32_t v) { return u16(v >> 16).u16(v); }
    Wire& s32(std::int32_t v) { return u32(static_cast<std::uint32_t>(v)); }
    // Byte by byte: g++ 12 -O3 misreads a range insert into an empty vector as an overflow.
    Wire& text(std::string_view s) {
        for (char c : s) b.push_back(static_cast<std::uint8_t>(c));
        return *this;
    }
    Wire& fill(std::size_t n, std::uint8_t v) { b.insert(b.end(), n, v); return *this; }
    Wire& raw(const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); return *this; }
    // A 32-bit client-format pixel (bytes blue, green, red, unused).
    Wire& pixel(std::uint8_t r, std::uint8_t g, std::uint8_t bl) { return u8(bl).u8(g).u8(r).u8(0); }
    // FramebufferUpdate header including its type byte.
    Wire& update(std::uint16_t rects) { return u8(0).u8(0).u16(rects); }
    Wire& rect(std::uint16_t x, std::uint16_t y, std::uint16_t w, std::uint16_t h, std::int32_t enc) {
        return u16(x).u16(y).u16(w).u16(h).s32(enc);
    }
    // ServerInit with a 32-bit server format and `name`.
    Wire& server_init(std::uint16_t w, std::uint16_t h, std::string_view name = "test") {
        u16(w).u16(h).u8(32).u8(24).u8(0).u8(1).u16(255).u16(255).u16(255).u8(16).u8(8).u8(0);
        return fill(3, 0).u32(static_cast<std::uint32_t>(name.size())).text(name);
    }
};

// One accepted connection of the scripted server, seen from the server.
class ServerConn {
public:
    explicit ServerConn(int fd) : fd_(fd) {}
    bool send(const Bytes& bytes);
    bool send(const Wire& w) { return send(w.b); }
    // Exactly n bytes from the client within 10 s, or nothing.
    std::optional<Bytes> recv(std::size_t n);
    // True when the client closes the connection within `limit`.
    bool wait_closed(std::chrono::milliseconds limit);
    // The standard successful handshake for version 3.8 and security None; returns false if the
    // client did not answer as expected. Also reads the first FramebufferUpdateRequest.
    bool handshake(std::uint16_t w, std::uint16_t h);
    int fd() const { return fd_; }

private:
    int fd_;
};

// Listens on 127.0.0.1 at a free port; one connection runs `script` on its own thread, after
// which the server closes the connection.
class ScriptedServer {
public:
    explicit ScriptedServer(std::function<void(ServerConn&)> script);
    ~ScriptedServer();
    std::uint16_t port() const { return port_; }
    // Waits (bounded) for the script to finish.
    void join();

private:
    int listen_fd_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

// A port on 127.0.0.1 with nothing listening.
std::uint16_t unused_port();

// Polls `done` every 5 ms until it holds or `limit` passes; returns its last value.
bool wait_until(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::seconds(10));

// The final status of a session: waits until it is neither Connecting nor Connected.
SessionStatus wait_for_end(const VncSession& session,
                           std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace remote::test
