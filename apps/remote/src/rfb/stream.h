#pragma once
// Byte transport under the RFB client: an abstract source/sink of bytes, the TCP socket that
// implements it, an in-memory one for tests and fuzzing, and the buffered reader every decoder uses.
// Thread notes: each object belongs to the one thread that runs the session; none is shared.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace remote {

// An RFB failure: the session tells a few kinds apart, everything else is shown by its message.
struct RfbError {
    enum class Kind {
        Refused,      // the TCP connection was refused
        TimedOut,     // the connection or a read timed out
        EndOfStream,  // the server closed the connection
        Cancelled,    // the session's owner went away; nothing is reported
        Other,
    };
    Kind kind = Kind::Other;
    std::string message;

    static RfbError other(std::string m) { return {Kind::Other, std::move(m)}; }
};

template <typename T>
using RfbResult = std::expected<T, RfbError>;

// What the protocol code reads from and writes to.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads at least one byte into `into` (never more than its size) and returns the count.
    // The server closing the stream is an EndOfStream error.
    [[nodiscard]] virtual RfbResult<std::size_t> read_some(std::span<std::uint8_t> into) = 0;
    // Waits until a read would not block; false when `timeout` passed first.
    [[nodiscard]] virtual RfbResult<bool> wait_readable(std::chrono::milliseconds timeout) = 0;
    [[nodiscard]] virtual RfbResult<void> write_all(std::span<const std::uint8_t> bytes) = 0;
};

// A connected TCP socket. Blocking reads wake every 100 ms to look at `cancel` (when given), so a
// dropped session never keeps its thread in a read for long.
class SocketStream final : public ByteSource {
public:
    SocketStream(int fd, const std::atomic<bool>* cancel);
    ~SocketStream() override;
    SocketStream(const SocketStream&) = delete;
    SocketStream& operator=(const SocketStream&) = delete;

    [[nodiscard]] RfbResult<std::size_t> read_some(std::span<std::uint8_t> into) override;
    [[nodiscard]] RfbResult<bool> wait_readable(std::chrono::milliseconds timeout) override;
    [[nodiscard]] RfbResult<void> write_all(std::span<const std::uint8_t> bytes) override;

private:
    int fd_;
    const std::atomic<bool>* cancel_;
};

// Resolves host and port and connects to the first address that accepts, trying them in the
// resolver's order; sets TCP_NODELAY. No time limit of its own beyond the system's.
[[nodiscard]] RfbResult<std::unique_ptr<SocketStream>> connect_tcp(
    const std::string& host, std::uint16_t port, const std::atomic<bool>* cancel = nullptr);

// Server bytes held in memory (tests, fuzzing, benchmarks); written bytes are collected.
// It is always readable; at the end of the data a read reports EndOfStream.
class MemoryStream final : public ByteSource {
public:
    explicit MemoryStream(std::span<const std::uint8_t> input) : input_(input) {}
    [[nodiscard]] RfbResult<std::size_t> read_some(std::span<std::uint8_t> into) override;
    [[nodiscard]] RfbResult<bool> wait_readable(std::chrono::milliseconds timeout) override;
    [[nodiscard]] RfbResult<void> write_all(std::span<const std::uint8_t> bytes) override;
    const std::vector<std::uint8_t>& written() const { return written_; }
    void rewind() { pos_ = 0; }
    std::size_t remaining() const { return input_.size() - pos_; }

private:
    std::span<const std::uint8_t> input_;
    std::size_t pos_ = 0;
    std::vector<std::uint8_t> written_;
};

// Buffered big-endian reader over a ByteSource; every server message is read through it.
class RfbReader {
public:
    explicit RfbReader(ByteSource& source, std::size_t buffer_size = 64 * 1024);

    [[nodiscard]] RfbResult<void> read_exact(std::span<std::uint8_t> into);
    [[nodiscard]] RfbResult<std::uint8_t> u8();
    [[nodiscard]] RfbResult<std::uint16_t> u16();
    [[nodiscard]] RfbResult<std::uint32_t> u32();
    [[nodiscard]] RfbResult<std::int32_t> s32();
    // Reads and drops `count` bytes without holding them.
    [[nodiscard]] RfbResult<void> skip(std::uint64_t count);
    // Makes at least `count` bytes (at most the buffer size) available and returns every byte that
    // is buffered; the caller consumes some of them with `consume`.
    [[nodiscard]] RfbResult<std::span<const std::uint8_t>> ensure(std::size_t count);
    void consume(std::size_t count) { pos_ += count; }
    // One byte if it is already buffered or arrives within `timeout`; nothing on time-out.
    [[nodiscard]] RfbResult<std::optional<std::uint8_t>> poll_u8(std::chrono::milliseconds timeout);
    std::size_t buffered() const { return end_ - pos_; }
    ByteSource& source() { return source_; }

private:
    ByteSource& source_;
    std::vector<std::uint8_t> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

}  // namespace remote
