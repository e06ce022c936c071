#pragma once
// The VNC session's picture of the remote desktop (RGBA), the immutable snapshots it publishes and
// the latest-picture slot the view reads. Framebuffer: session thread only. FrameSlot and the
// reader functions: any thread (a short mutex guards the slot; it is never held while decoding).

#include <cstddef>
#include <cstdint>
#include <new>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace remote {

// Storage for pixels: large buffers come straight from the system as zero pages that cost
// nothing until drawn on (a 1920x1080 picture otherwise spends ~20 ms faulting in zeros), and
// value-initialisation writes nothing because the memory is already zero.
void* allocate_zeroed(std::size_t bytes);
void free_zeroed(void* p, std::size_t bytes) noexcept;

template <typename T>
struct ZeroedAllocator {
    using value_type = T;
    ZeroedAllocator() = default;
    template <typename U>
    ZeroedAllocator(const ZeroedAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(allocate_zeroed(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { free_zeroed(p, n * sizeof(T)); }
    template <typename U>
    void construct(U*) noexcept {}
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    friend bool operator==(const ZeroedAllocator&, const ZeroedAllocator&) = default;
};
using PixelBuffer = std::vector<std::uint8_t, ZeroedAllocator<std::uint8_t>>;

// A published picture. Its pixels (width × height × 4 bytes, RGBA, no row padding) never change.
struct FrameSnapshot {
    std::shared_ptr<const PixelBuffer> pixels;
    std::uint64_t generation = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
};

// A rectangle of framebuffer pixels, already clipped to the framebuffer.
struct PixelRect {
    std::uint32_t x = 0, y = 0, w = 0, h = 0;
    bool empty() const { return w == 0 || h == 0; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

class Framebuffer {
public:
    // All pixels zero (transparent black), generation 0. Area must be at least one pixel.
    Framebuffer(std::uint16_t width, std::uint16_t height);
    // One owner: a copy would draw into pixel buffers the original still recycles.
    Framebuffer(const Framebuffer&) = delete;
    Framebuffer& operator=(const Framebuffer&) = delete;

    std::uint16_t width() const { return width_; }
    std::uint16_t height() const { return height_; }
    std::uint64_t generation() const { return generation_; }
    void set_generation(std::uint64_t g) { generation_ = g; }
    std::uint8_t* row(std::uint32_t y) { return current_->data() + std::size_t{y} * width_ * 4; }
    const std::uint8_t* row(std::uint32_t y) const {
        return current_->data() + std::size_t{y} * width_ * 4;
    }

    // The clipped part of a rectangle that starts at (x, y); coordinates beyond the framebuffer
    // (including those capped at 65535) fall outside.
    PixelRect clip(std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h) const;

    // An update runs begin_update → (will_read | will_overwrite | will_modify before touching
    // pixels)* → end_update. begin_update makes the working pixels private, recycling an older
    // buffer no reader holds and copying only what changed since that buffer was current.
    void begin_update();
    void will_read(const PixelRect& r);       // pixels in r are about to be read
    void will_overwrite(const PixelRect& r);  // every pixel in r is about to be written
    void will_modify(const PixelRect& r);     // some pixels in r are about to be written
    // `applied`: the whole update was applied, so the generation advances.
    void end_update(bool applied);

    FrameSnapshot snapshot() const;

private:
    using Buffer = std::shared_ptr<PixelBuffer>;
    struct Spare {
        Buffer buffer;
        std::vector<PixelRect> stale;  // where it differs from current_
        bool all_stale = false;
    };
    void copy_from_source(const PixelRect& r);
    void flush_pending();
    void mark_damage(const PixelRect& r);

    std::uint16_t width_;
    std::uint16_t height_;
    std::uint64_t generation_ = 0;
    Buffer current_;
    std::vector<Spare> spares_;      // oldest first
    std::vector<PixelRect> pending_;  // regions of current_ still to be taken from pending_source_
    const PixelBuffer* pending_source_ = nullptr;
    // The all-zero picture published before the first update, kept apart from current_ so that
    // the first update can draw in place.
    mutable std::shared_ptr<const PixelBuffer> blank_;
    bool updated_ = false;
};

// Latest-picture slot shared by the session thread (writer) and the view (reader).
class FrameSlot {
public:
    void put(FrameSnapshot snapshot);
    std::optional<FrameSnapshot> get() const;

private:
    mutable std::mutex mutex_;
    std::optional<FrameSnapshot> snapshot_;
};

// Session thread: makes the framebuffer's current picture the slot's content.
void publish(const Framebuffer& framebuffer, FrameSlot& slot);

// Reader side: the slot's picture if its generation differs from `last_taken`, which is updated.
std::optional<FrameSnapshot> take_new_frame(const FrameSlot& slot,
                                            std::optional<std::uint64_t>& last_taken);
// Width and height of the slot's picture; nothing while the slot is empty.
std::optional<std::pair<std::uint16_t, std::uint16_t>> frame_size(const FrameSlot& slot);

}  // namespace remote
