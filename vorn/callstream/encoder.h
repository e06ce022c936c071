#pragma once
// H.264 encoding of YUV 4:2:0 pictures into Annex B access units, for the
// simulated device and for producing test streams. One encoder per thread.

#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <vector>

namespace vorn_callstream::encoder {

// Planar 4:2:0: a full-size luma plane and two chroma planes of half width and
// half height (rounded up), each with rows packed.
struct YuvPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> y, u, v;

    static YuvPicture blank(std::uint32_t width, std::uint32_t height);
    std::uint32_t chroma_width() const { return (width + 1) / 2; }
    std::uint32_t chroma_height() const { return (height + 1) / 2; }
};

struct EncoderSettings {
    std::uint32_t width = 1280;  // even
    std::uint32_t height = 720;  // even
    int frames_per_second = 30;
    int key_interval = 30;  // frames between key frames
    std::string preset = "ultrafast";
    int threads = 1;
};

class H264Encoder {
  public:
    [[nodiscard]] static std::expected<H264Encoder, std::string> create(
        const EncoderSettings& settings);

    H264Encoder(H264Encoder&&) noexcept;
    H264Encoder& operator=(H264Encoder&&) noexcept;
    ~H264Encoder();

    // One access unit per picture (key frames carry their parameter sets, so
    // a decoder may join at any key frame). The picture must have the size
    // the encoder was made for.
    [[nodiscard]] std::expected<std::vector<std::uint8_t>, std::string> encode(
        const YuvPicture& picture, bool force_key = false);

  private:
    struct State;
    explicit H264Encoder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace vorn_callstream::encoder
