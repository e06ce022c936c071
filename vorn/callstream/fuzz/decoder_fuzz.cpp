// Arbitrary bytes into the H.264 decoder, as frame events a hostile or broken device could
// send: the input is cut into successive frames at each "VORNNEXT" and all of them go through
// one decoder, so damage carried from frame to frame is exercised too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "vorn/callstream/decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto decoder = vorn_callstream::decoder::H264Decoder::create();
    if (!decoder) {
        std::abort();
    }
    constexpr std::string_view kNext = "VORNNEXT";
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    for (int frames = 0; frames < 16; ++frames) {
        const std::size_t end = std::min(input.find(kNext, start), input.size());
        const auto* first = data + start;
        if (auto picture = decoder->decode({first, end - start})) {
            // Every picture is whole: its bytes are width * height * 4, all readable.
            if (picture->width == 0 || picture->height == 0 ||
                picture->pixels.size() != std::size_t{picture->width} * picture->height * 4) {
                std::abort();
            }
            volatile std::uint8_t last = picture->pixels.back();
            (void)last;
        }
        if (end == input.size()) {
            break;
        }
        start = end + kNext.size();
    }
    return 0;
}
