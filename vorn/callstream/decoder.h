#pragma once
// H.264 decoding for device workspace streams: Annex B bytes in, the newest
// picture out as packed RGBA (R, G, B, A=255; rows of width * 4 bytes).
// One decoder belongs to one thread at a time; it may be moved between threads.

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vorn_callstream::decoder {

struct DecodedFrame {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels;  // width * height * 4 bytes, RGBA
};

class H264Decoder {
  public:
    // Fails only when the codec library lacks an H.264 decoder or memory runs out.
    [[nodiscard]] static std::expected<H264Decoder, std::string> create();

    H264Decoder(H264Decoder&&) noexcept;
    H264Decoder& operator=(H264Decoder&&) noexcept;
    ~H264Decoder();

    // Feeds one or more whole access units (Annex B) and returns the newest
    // picture they completed, without waiting for the next unit. Nothing when
    // no picture is complete or the bytes cannot be decoded; the decoder stays
    // usable either way, so units skipped upstream, fragments or garbage cost
    // pictures (or damage them until the next key frame), never the stream.
    [[nodiscard]] std::optional<DecodedFrame> decode(std::span<const std::uint8_t> data);

  private:
    struct State;
    explicit H264Decoder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace vorn_callstream::decoder
