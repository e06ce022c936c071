#include "rfb/stream.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace remote {
namespace {

constexpr const char* kClosedText = "the VNC server closed the connection";
constexpr int kCancelSliceMs = 100;

RfbError from_errno(int err) {
    RfbError e{RfbError::Kind::Other, std::strerror(err)};
    if (err == ECONNREFUSED) e.kind = RfbError::Kind::Refused;
    if (err == ETIMEDOUT) e.kind = RfbError::Kind::TimedOut;
    // Writing to a connection the server has closed is the same event as reading its end.
    if (err == EPIPE) e = {RfbError::Kind::EndOfStream, kClosedText};
    return e;
}

RfbError cancelled() { return {RfbError::Kind::Cancelled, "the VNC session was closed"}; }

bool is_cancelled(const std::atomic<bool>* cancel) {
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

// Waits for `events` on fd. With a cancel flag the wait is cut into short slices so that the flag
// is seen promptly; `timeout_ms` < 0 waits for ever. Returns false on time-out.
RfbResult<bool> wait_fd(int fd, short events, int timeout_ms, const std::atomic<bool>* cancel) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (is_cancelled(cancel)) return std::unexpected(cancelled());
        int slice = timeout_ms;
        if (timeout_ms >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            slice = static_cast<int>(std::max<std::int64_t>(0, left.count()));
        }
        if (cancel != nullptr && (slice < 0 || slice > kCancelSliceMs)) slice = kCancelSliceMs;
        pollfd p{fd, events, 0};
        int n = ::poll(&p, 1, slice);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(from_errno(errno));
        }
        if (n > 0) return true;
        if (timeout_ms >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
    }
}

// Connects one address; non-blocking underneath so that cancellation is noticed, otherwise the
// system's own connect behaviour and time limit.
RfbResult<int> connect_one(const addrinfo* ai, const std::atomic<bool>* cancel) {
    int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) return std::unexpected(from_errno(errno));
    int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
    if (rc != 0 && errno != EINPROGRESS && errno != EINTR) {
        int err = errno;
        ::close(fd);
        return std::unexpected(from_errno(err));
    }
    if (rc != 0) {
        auto ready = wait_fd(fd, POLLOUT, -1, cancel);
        if (!ready) {
            ::close(fd);
            return std::unexpected(ready.error());
        }
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
            ::close(fd);
            return std::unexpected(from_errno(err));
        }
    }
    ::fcntl(fd, F_SETFL, flags);
    return fd;
}

}  // namespace

RfbResult<std::unique_ptr<SocketStream>> connect_tcp(const std::string& host, std::uint16_t port,
                                                     const std::atomic<bool>* cancel) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::string service = std::to_string(port);
    int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) {
        std::string text = rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc);
        return std::unexpected(RfbError::other(text));
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(list, ::freeaddrinfo);
    std::optional<RfbError> last;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        auto fd = connect_one(ai, cancel);
        if (fd) {
            int one = 1;
            // Input events are tiny; without this they wait for delayed ACKs. Failure is harmless.
            (void)::setsockopt(*fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return std::make_unique<SocketStream>(*fd, cancel);
        }
        if (fd.error().kind == RfbError::Kind::Cancelled) return std::unexpected(fd.error());
        last = fd.error();
    }
    if (!last) return std::unexpected(RfbError::other("could not resolve to any addresses"));
    return std::unexpected(*last);
}

SocketStream::SocketStream(int fd, const std::atomic<bool>* cancel) : fd_(fd), cancel_(cancel) {}

SocketStream::~SocketStream() { ::close(fd_); }

RfbResult<std::size_t> SocketStream::read_some(std::span<std::uint8_t> into) {
    for (;;) {
        if (cancel_ != nullptr) {
            auto ready = wait_fd(fd_, POLLIN, -1, cancel_);
            if (!ready) return std::unexpected(ready.error());
        }
        ssize_t n = ::recv(fd_, into.data(), into.size(), 0);
        if (n > 0) return static_cast<std::size_t>(n);
        if (n == 0) return std::unexpected(RfbError{RfbError::Kind::EndOfStream, kClosedText});
        if (errno == EINTR) continue;
        return std::unexpected(from_errno(errno));
    }
}

RfbResult<bool> SocketStream::wait_readable(std::chrono::milliseconds timeout) {
    return wait_fd(fd_, POLLIN, static_cast<int>(timeout.count()), nullptr);
}

RfbResult<void> SocketStream::write_all(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(n));
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A server that stops reading fills the send buffer; keep looking at cancellation.
            auto ready = wait_fd(fd_, POLLOUT, -1, cancel_);
            if (!ready) return std::unexpected(ready.error());
            continue;
        }
        return std::unexpected(from_errno(errno));
    }
    return {};
}

RfbResult<std::size_t> MemoryStream::read_some(std::span<std::uint8_t> into) {
    if (pos_ >= input_.size()) {
        return std::unexpected(RfbError{RfbError::Kind::EndOfStream, kClosedText});
    }
    std::size_t n = std::min(into.size(), input_.size() - pos_);
    std::memcpy(into.data(), input_.data() + pos_, n);
    pos_ += n;
    return n;
}

RfbResult<bool> MemoryStream::wait_readable(std::chrono::milliseconds) {
    // Readable even at the end, where the read then reports the end of the stream: a recorded
    // conversation never idles, so every run over it ends.
    return true;
}

RfbResult<void> MemoryStream::write_all(std::span<const std::uint8_t> bytes) {
    written_.insert(written_.end(), bytes.begin(), bytes.end());
    return {};
}

RfbReader::RfbReader(ByteSource& source, std::size_t buffer_size)
    : source_(source), buffer_(std::max<std::size_t>(buffer_size, 16)) {}

RfbResult<std::span<const std::uint8_t>> RfbReader::ensure(std::size_t count) {
    count = std::min(count, buffer_.size());
    if (end_ - pos_ < count) {
        if (pos_ > 0) {
            std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
            end_ -= pos_;
            pos_ = 0;
        }
        while (end_ < count) {
            auto n = source_.read_some(std::span(buffer_).subspan(end_));
            if (!n) return std::unexpected(n.error());
            end_ += *n;
        }
    }
    return std::span<const std::uint8_t>(buffer_.data() + pos_, end_ - pos_);
}

RfbResult<void> RfbReader::read_exact(std::span<std::uint8_t> into) {
    if (into.empty()) return {};
    std::size_t from_buffer = std::min(into.size(), end_ - pos_);
    std::memcpy(into.data(), buffer_.data() + pos_, from_buffer);
    pos_ += from_buffer;
    into = into.subspan(from_buffer);
    // Large reads go straight to the destination; small ones refill the buffer.
    while (into.size() >= buffer_.size()) {
        auto n = source_.read_some(into);
        if (!n) return std::unexpected(n.error());
        into = into.subspan(*n);
    }
    if (!into.empty()) {
        auto view = ensure(into.size());
        if (!view) return std::unexpected(view.error());
        std::memcpy(into.data(), view->data(), into.size());
        pos_ += into.size();
    }
    return {};
}

RfbResult<std::uint8_t> RfbReader::u8() {
    auto v = ensure(1);
    if (!v) return std::unexpected(v.error());
    return buffer_[pos_++];
}

RfbResult<std::uint16_t> RfbReader::u16() {
    auto v = ensure(2);
    if (!v) return std::unexpected(v.error());
    std::uint16_t r = static_cast<std::uint16_t>((buffer_[pos_] << 8) | buffer_[pos_ + 1]);
    pos_ += 2;
    return r;
}

RfbResult<std::uint32_t> RfbReader::u32() {
    auto v = ensure(4);
    if (!v) return std::unexpected(v.error());
    const std::uint8_t* p = buffer_.data() + pos_;
    std::uint32_t r = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                      (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
    pos_ += 4;
    return r;
}

RfbResult<std::int32_t> RfbReader::s32() {
    auto v = u32();
    if (!v) return std::unexpected(v.error());
    return static_cast<std::int32_t>(*v);
}

RfbResult<void> RfbReader::skip(std::uint64_t count) {
    while (count > 0) {
        auto v = ensure(1);
        if (!v) return std::unexpected(v.error());
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, v->size()));
        pos_ += n;
        count -= n;
    }
    return {};
}

RfbResult<std::optional<std::uint8_t>> RfbReader::poll_u8(std::chrono::milliseconds timeout) {
    if (end_ == pos_) {
        auto ready = source_.wait_readable(timeout);
        if (!ready) return std::unexpected(ready.error());
        if (!*ready) return std::optional<std::uint8_t>{};
    }
    auto b = u8();
    if (!b) return std::unexpected(b.error());
    return std::optional<std::uint8_t>{*b};
}

}  // namespace remote
