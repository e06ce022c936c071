#include "rfb/framebuffer.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/mman.h>

namespace remote {
namespace {

// Beyond these counts region bookkeeping costs more than it saves; fall back to coarser steps.
constexpr std::size_t kMaxStaleRects = 64;
constexpr std::size_t kMaxPendingRects = 256;
constexpr std::size_t kMaxSpares = 2;

PixelRect intersect(const PixelRect& a, const PixelRect& b) {
    std::uint32_t x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    std::uint32_t x1 = std::min(a.x + a.w, b.x + b.w), y1 = std::min(a.y + a.h, b.y + b.h);
    if (x1 <= x0 || y1 <= y0) return {};
    return {x0, y0, x1 - x0, y1 - y0};
}

PixelRect bounding(const PixelRect& a, const PixelRect& b) {
    std::uint32_t x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    std::uint32_t x1 = std::max(a.x + a.w, b.x + b.w), y1 = std::max(a.y + a.h, b.y + b.h);
    return {x0, y0, x1 - x0, y1 - y0};
}

// Appends the parts of a outside b (at most four bands) to out.
void subtract(const PixelRect& a, const PixelRect& b, std::vector<PixelRect>& out) {
    PixelRect i = intersect(a, b);
    if (i.empty()) {
        out.push_back(a);
        return;
    }
    if (i.y > a.y) out.push_back({a.x, a.y, a.w, i.y - a.y});
    if (i.y + i.h < a.y + a.h) out.push_back({a.x, i.y + i.h, a.w, a.y + a.h - i.y - i.h});
    if (i.x > a.x) out.push_back({a.x, i.y, i.x - a.x, i.h});
    if (i.x + i.w < a.x + a.w) out.push_back({i.x + i.w, i.y, a.x + a.w - i.x - i.w, i.h});
}

constexpr std::size_t kMapThreshold = 256 * 1024;

// Faults in a buffer that is about to be drawn on in one go, which costs far less than one
// page fault at a time while decoding. Only a hint: older kernels refuse it, nothing breaks.
void prefault(PixelBuffer& buffer) {
#ifdef MADV_POPULATE_WRITE
    if (buffer.size() >= kMapThreshold) {
        (void)::madvise(buffer.data(), buffer.size(), MADV_POPULATE_WRITE);
    }
#else
    (void)buffer;
#endif
}

}  // namespace

void* allocate_zeroed(std::size_t n) {
    if (n >= kMapThreshold) {
        void* p = ::mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        return p;
    }
    void* p = std::calloc(n == 0 ? 1 : n, 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void free_zeroed(void* p, std::size_t n) noexcept {
    if (n >= kMapThreshold) {
        ::munmap(p, n);
    } else {
        std::free(p);
    }
}

Framebuffer::Framebuffer(std::uint16_t width, std::uint16_t height)
    : width_(width),
      height_(height),
      current_(std::make_shared<PixelBuffer>(std::size_t{width} * height * 4)) {
    prefault(*current_);
}

PixelRect Framebuffer::clip(std::uint32_t x, std::uint32_t y, std::uint32_t w,
                            std::uint32_t h) const {
    if (x >= width_ || y >= height_) return {};
    return {x, y, std::min(w, width_ - x), std::min(h, height_ - y)};
}

void Framebuffer::begin_update() {
    updated_ = true;
    blank_.reset();
    pending_.clear();
    pending_source_ = nullptr;
    if (current_.use_count() == 1) {
        // Nobody else sees these pixels; the fence orders a reader's last use before our writes.
        std::atomic_thread_fence(std::memory_order_acquire);
        return;
    }

    Buffer previous = current_;
    auto free_spare = std::find_if(spares_.rbegin(), spares_.rend(),
                                   [](const Spare& s) { return s.buffer.use_count() == 1; });
    if (free_spare != spares_.rend()) {
        std::atomic_thread_fence(std::memory_order_acquire);
        // Bring the recycled buffer up to date lazily: regions this update overwrites are never
        // copied, the rest is copied before it is read or when the update ends.
        current_ = free_spare->buffer;
        if (free_spare->all_stale) {
            std::memcpy(current_->data(), previous->data(), previous->size());
        } else {
            pending_ = std::move(free_spare->stale);
            pending_source_ = previous.get();
        }
        spares_.erase(std::next(free_spare).base());
    } else {
        current_ = std::make_shared<PixelBuffer>(previous->size());
        prefault(*current_);
        std::memcpy(current_->data(), previous->data(), previous->size());
        if (spares_.size() >= kMaxSpares) spares_.erase(spares_.begin());
    }
    spares_.push_back({std::move(previous), {}, false});
}

void Framebuffer::copy_from_source(const PixelRect& r) {
    const std::size_t stride = std::size_t{width_} * 4;
    for (std::uint32_t y = r.y; y < r.y + r.h; ++y) {
        std::size_t off = y * stride + std::size_t{r.x} * 4;
        std::memcpy(current_->data() + off, pending_source_->data() + off, std::size_t{r.w} * 4);
    }
}

void Framebuffer::flush_pending() {
    for (const auto& p : pending_) copy_from_source(p);
    pending_.clear();
}

void Framebuffer::will_read(const PixelRect& r) {
    if (r.empty() || pending_.empty()) return;
    std::vector<PixelRect> rest;
    for (const auto& p : pending_) {
        PixelRect i = intersect(p, r);
        if (i.empty()) {
            rest.push_back(p);
            continue;
        }
        copy_from_source(i);
        subtract(p, i, rest);
    }
    pending_ = std::move(rest);
    if (pending_.size() > kMaxPendingRects) flush_pending();
}

void Framebuffer::will_overwrite(const PixelRect& r) {
    if (r.empty()) return;
    if (!pending_.empty()) {
        std::vector<PixelRect> rest;
        for (const auto& p : pending_) subtract(p, r, rest);
        pending_ = std::move(rest);
        if (pending_.size() > kMaxPendingRects) flush_pending();
    }
    mark_damage(r);
}

void Framebuffer::will_modify(const PixelRect& r) {
    if (r.empty()) return;
    will_read(r);
    mark_damage(r);
}

void Framebuffer::mark_damage(const PixelRect& r) {
    for (auto& s : spares_) {
        if (s.all_stale) continue;
        if (s.stale.size() < kMaxStaleRects) {
            s.stale.push_back(r);
            continue;
        }
        PixelRect box = r;
        for (const auto& q : s.stale) box = bounding(box, q);
        s.stale.assign(1, box);
        if (box.w == width_ && box.h == height_) s.all_stale = true;
    }
}

void Framebuffer::end_update(bool applied) {
    // After a failure the overwritten regions may hold partial data; the picture is not
    // published and the session ends, so only the bookkeeping has to stay consistent.
    flush_pending();
    pending_source_ = nullptr;
    if (applied) ++generation_;
}

FrameSnapshot Framebuffer::snapshot() const {
    if (!updated_) {
        if (!blank_) blank_ = std::make_shared<const PixelBuffer>(current_->size());
        return {blank_, generation_, width_, height_};
    }
    return {current_, generation_, width_, height_};
}

void FrameSlot::put(FrameSnapshot snapshot) {
    std::optional<FrameSnapshot> old;
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(snapshot_, std::move(snapshot));
    }
    // `old` is released here, outside the lock.
}

std::optional<FrameSnapshot> FrameSlot::get() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

void publish(const Framebuffer& framebuffer, FrameSlot& slot) { slot.put(framebuffer.snapshot()); }

std::optional<FrameSnapshot> take_new_frame(const FrameSlot& slot,
                                            std::optional<std::uint64_t>& last_taken) {
    auto snapshot = slot.get();
    if (!snapshot || snapshot->generation == last_taken) return std::nullopt;
    last_taken = snapshot->generation;
    return snapshot;
}

std::optional<std::pair<std::uint16_t, std::uint16_t>> frame_size(const FrameSlot& slot) {
    auto snapshot = slot.get();
    if (!snapshot) return std::nullopt;
    return std::pair{snapshot->width, snapshot->height};
}

}  // namespace remote
