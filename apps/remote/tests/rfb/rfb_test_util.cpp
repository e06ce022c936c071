#include "rfb_test_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace remote::test {

bool ServerConn::send(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<Bytes> ServerConn::recv(std::size_t n) {
    Bytes out(n);
    std::size_t done = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (done < n) {
        pollfd p{fd_, POLLIN, 0};
        if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
        if (::poll(&p, 1, 100) <= 0) continue;
        ssize_t r = ::recv(fd_, out.data() + done, n - done, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return std::nullopt;
        done += static_cast<std::size_t>(r);
    }
    return out;
}

bool ServerConn::wait_closed(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    std::uint8_t sink[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        ssize_t r = ::recv(fd_, sink, sizeof sink, 0);
        if (r == 0) return true;
        if (r < 0 && errno != EINTR) return true;
    }
    return false;
}

bool ServerConn::handshake(std::uint16_t w, std::uint16_t h) {
    if (!send(Wire{}.text("RFB 003.008\n")) || !recv(12)) return false;
    if (!send(Wire{}.u8(1).u8(1)) || !recv(1)) return false;
    if (!send(Wire{}.u32(0)) || !recv(1)) return false;
    if (!send(Wire{}.server_init(w, h))) return false;
    return recv(20 + 16 + 10).has_value();
}

ScriptedServer::ScriptedServer(std::function<void(ServerConn&)> script) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listen_fd_, 4);
    socklen_t len = sizeof addr;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this, script = std::move(script)] {
        pollfd p{listen_fd_, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) return;
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        ServerConn conn(fd);
        script(conn);
        // A graceful end: an abrupt close with unread client bytes would reset the connection
        // and could discard what the client has not read yet.
        ::shutdown(fd, SHUT_WR);
        conn.wait_closed(std::chrono::seconds(10));
        ::close(fd);
    });
}

void ScriptedServer::join() {
    if (thread_.joinable()) thread_.join();
}

ScriptedServer::~ScriptedServer() {
    join();
    ::close(listen_fd_);
}

std::uint16_t unused_port() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

SessionStatus wait_for_end(const VncSession& session, std::chrono::milliseconds limit) {
    wait_until([&] { return !vnc_status(session).is_live(); }, limit);
    return vnc_status(session);
}

}  // namespace remote::test
