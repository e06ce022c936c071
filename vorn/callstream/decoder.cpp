#include "vorn/callstream/decoder.h"

#include <climits>
#include <cstring>
#include <mutex>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace vorn_callstream::decoder {

namespace {

// Largest picture accepted: a little above 8K UHD. A hostile stream that
// announces more would otherwise make us allocate gigabytes of RGBA.
constexpr std::int64_t kMaxPixels = 8192LL * 4352LL;

// An access unit delimiter appended after every input: it ends the access
// unit in front of it, so the parser hands that unit over now instead of
// waiting for the start of the next one (one frame of latency saved).
constexpr std::uint8_t kAccessUnitDelimiter[] = {0x00, 0x00, 0x00, 0x01, 0x09, 0xF0};

void quiet_codec_logging() {
    // Damaged streams make the codec library print an error per slice; the
    // decoder reports damage by returning no picture, so those lines are noise.
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct ParserDeleter {
    void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct SwsDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

// The full-range ("J") formats are the limited-range ones with another range flag.
AVPixelFormat plain_format(AVPixelFormat format, bool& full_range) {
    switch (format) {
        case AV_PIX_FMT_YUVJ420P:
            full_range = true;
            return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P:
            full_range = true;
            return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P:
            full_range = true;
            return AV_PIX_FMT_YUV444P;
        default:
            return format;
    }
}

}  // namespace

struct H264Decoder::State {
    std::unique_ptr<AVCodecContext, CodecContextDeleter> codec;
    std::unique_ptr<AVCodecParserContext, ParserDeleter> parser;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    std::unique_ptr<AVFrame, FrameDeleter> frame;
    std::unique_ptr<AVFrame, FrameDeleter> newest;
    std::unique_ptr<SwsContext, SwsDeleter> sws;
    // What the converter was last set up for, so colour setup is redone only on change.
    struct ConverterKey {
        int width = 0, height = 0, format = -1, colorspace = -1;
        bool full_range = false;
        friend bool operator==(const ConverterKey&, const ConverterKey&) = default;
    } converter_key;
    std::vector<std::uint8_t> input;  // the caller's bytes, the delimiter and codec padding

    // Sends one parsed access unit; true when it completed a picture.
    bool decode_unit(const std::uint8_t* data, int size) {
        packet->data = const_cast<std::uint8_t*>(data);
        packet->size = size;
        int sent = avcodec_send_packet(codec.get(), packet.get());
        bool got = receive_all();
        if (sent == AVERROR(EAGAIN)) {
            // The decoder had pictures waiting; now drained, it takes the unit.
            avcodec_send_packet(codec.get(), packet.get());
            got = receive_all() || got;
        }
        packet->data = nullptr;
        packet->size = 0;
        return got;
    }

    bool receive_all() {
        bool got = false;
        while (avcodec_receive_frame(codec.get(), frame.get()) == 0) {
            av_frame_unref(newest.get());
            av_frame_move_ref(newest.get(), frame.get());
            got = true;
        }
        return got;
    }

    std::optional<DecodedFrame> convert_newest() {
        AVFrame* f = newest.get();
        const int width = f->width;
        const int height = f->height;
        if (width <= 0 || height <= 0 || std::int64_t{width} * height > kMaxPixels) {
            return std::nullopt;
        }
        bool full_range = f->color_range == AVCOL_RANGE_JPEG;
        const AVPixelFormat format =
            plain_format(static_cast<AVPixelFormat>(f->format), full_range);
        if (format == AV_PIX_FMT_NONE) {
            return std::nullopt;
        }
        const int colorspace = f->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
        const ConverterKey key{width, height, format, colorspace, full_range};
        if (!sws || key != converter_key) {
            sws.reset(sws_getContext(width, height, format, width, height, AV_PIX_FMT_RGBA,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr));
            converter_key = {};
            if (!sws) {
                return std::nullopt;
            }
            sws_setColorspaceDetails(sws.get(), sws_getCoefficients(colorspace), full_range ? 1 : 0,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
            converter_key = key;
        }
        DecodedFrame out;
        out.width = static_cast<std::uint32_t>(width);
        out.height = static_cast<std::uint32_t>(height);
        try {
            out.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                              4);
        } catch (const std::bad_alloc&) {
            return std::nullopt;
        }
        std::uint8_t* planes[4] = {out.pixels.data(), nullptr, nullptr, nullptr};
        int strides[4] = {width * 4, 0, 0, 0};
        const int rows = sws_scale(sws.get(), f->data, f->linesize, 0, height, planes, strides);
        av_frame_unref(f);
        if (rows != height) {
            return std::nullopt;
        }
        return out;
    }
};

H264Decoder::H264Decoder(std::unique_ptr<State> state) : state_(std::move(state)) {}
H264Decoder::H264Decoder(H264Decoder&&) noexcept = default;
H264Decoder& H264Decoder::operator=(H264Decoder&&) noexcept = default;
H264Decoder::~H264Decoder() = default;

std::expected<H264Decoder, std::string> H264Decoder::create() {
    quiet_codec_logging();
    // The software decoder by name: hardware wrappers registered for the same
    // codec may be picked first by id and need devices we do not have.
    const AVCodec* codec = avcodec_find_decoder_by_name("h264");
    if (!codec) {
        codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    }
    if (!codec) {
        return std::unexpected("the codec library has no H.264 decoder");
    }
    auto state = std::make_unique<State>();
    state->codec.reset(avcodec_alloc_context3(codec));
    state->parser.reset(av_parser_init(codec->id));
    state->packet.reset(av_packet_alloc());
    state->frame.reset(av_frame_alloc());
    state->newest.reset(av_frame_alloc());
    if (!state->codec || !state->parser || !state->packet || !state->frame || !state->newest) {
        return std::unexpected("not enough memory for an H.264 decoder");
    }
    AVCodecContext* c = state->codec.get();
    // Low delay: every picture leaves the decoder as soon as it is complete.
    // That rules out frame threads (they hold pictures back), so the second
    // core helps through slice threads where the stream has several slices.
    c->flags |= AV_CODEC_FLAG_LOW_DELAY;
    c->thread_type = FF_THREAD_SLICE;
    c->thread_count = 2;
    c->max_pixels = kMaxPixels;
    if (int rc = avcodec_open2(c, codec, nullptr); rc < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(rc, text, sizeof text);
        return std::unexpected(std::string("could not open the H.264 decoder: ") + text);
    }
    return H264Decoder(std::move(state));
}

std::optional<DecodedFrame> H264Decoder::decode(std::span<const std::uint8_t> data) {
    State& s = *state_;
    constexpr std::size_t kTail = sizeof kAccessUnitDelimiter;
    if (data.size() > static_cast<std::size_t>(INT_MAX) - kTail - AV_INPUT_BUFFER_PADDING_SIZE) {
        return std::nullopt;
    }
    try {
        s.input.resize(data.size() + kTail + AV_INPUT_BUFFER_PADDING_SIZE);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    if (!data.empty()) {
        std::memcpy(s.input.data(), data.data(), data.size());
    }
    std::memcpy(s.input.data() + data.size(), kAccessUnitDelimiter, kTail);
    std::memset(s.input.data() + data.size() + kTail, 0, AV_INPUT_BUFFER_PADDING_SIZE);

    const std::uint8_t* cursor = s.input.data();
    int left = static_cast<int>(data.size() + kTail);
    bool got = false;
    while (left > 0) {
        std::uint8_t* unit = nullptr;
        int unit_size = 0;
        const int used = av_parser_parse2(s.parser.get(), s.codec.get(), &unit, &unit_size, cursor,
                                          left, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0 || used > left) {
            break;
        }
        cursor += used;
        left -= used;
        if (unit_size > 0) {
            got = s.decode_unit(unit, unit_size) || got;
        } else if (used == 0) {
            break;
        }
    }
    if (!got) {
        return std::nullopt;
    }
    return s.convert_newest();
}

}  // namespace vorn_callstream::decoder
