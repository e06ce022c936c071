#include "vorn/callstream/encoder.h"

#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace vorn_callstream::encoder {

namespace {

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

std::string error_text(int rc) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof text);
    return text;
}

}  // namespace

YuvPicture YuvPicture::blank(std::uint32_t width, std::uint32_t height) {
    YuvPicture p;
    p.width = width;
    p.height = height;
    p.y.assign(std::size_t{width} * height, 16);
    p.u.assign(std::size_t{p.chroma_width()} * p.chroma_height(), 128);
    p.v.assign(std::size_t{p.chroma_width()} * p.chroma_height(), 128);
    return p;
}

struct H264Encoder::State {
    std::unique_ptr<AVCodecContext, CodecContextDeleter> codec;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    std::unique_ptr<AVFrame, FrameDeleter> frame;
    std::int64_t next_pts = 0;
};

H264Encoder::H264Encoder(std::unique_ptr<State> state) : state_(std::move(state)) {}
H264Encoder::H264Encoder(H264Encoder&&) noexcept = default;
H264Encoder& H264Encoder::operator=(H264Encoder&&) noexcept = default;
H264Encoder::~H264Encoder() = default;

std::expected<H264Encoder, std::string> H264Encoder::create(const EncoderSettings& settings) {
    if (settings.width == 0 || settings.height == 0 || settings.width % 2 || settings.height % 2 ||
        settings.width > 8192 || settings.height > 8192 || settings.frames_per_second <= 0) {
        return std::unexpected(
            "an H.264 picture needs an even width and height up to 8192 and a positive rate");
    }
    // The encoder prints its statistics when it closes; a device has no one to read them.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        return std::unexpected("the codec library has no H.264 encoder (libx264)");
    }
    auto state = std::make_unique<State>();
    state->codec.reset(avcodec_alloc_context3(codec));
    state->packet.reset(av_packet_alloc());
    state->frame.reset(av_frame_alloc());
    if (!state->codec || !state->packet || !state->frame) {
        return std::unexpected("not enough memory for an H.264 encoder");
    }
    AVCodecContext* c = state->codec.get();
    c->width = static_cast<int>(settings.width);
    c->height = static_cast<int>(settings.height);
    c->time_base = AVRational{1, settings.frames_per_second};
    c->framerate = AVRational{settings.frames_per_second, 1};
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->gop_size = settings.key_interval > 0 ? settings.key_interval : settings.frames_per_second;
    c->max_b_frames = 0;
    c->thread_count = settings.threads > 0 ? settings.threads : 1;
    av_opt_set(c->priv_data, "preset", settings.preset.c_str(), 0);
    // No look-ahead and no reordering: each picture comes out as its own unit at once.
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    if (int rc = avcodec_open2(c, codec, nullptr); rc < 0) {
        return std::unexpected("could not open the H.264 encoder: " + error_text(rc));
    }
    AVFrame* f = state->frame.get();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = c->width;
    f->height = c->height;
    return H264Encoder(std::move(state));
}

std::expected<std::vector<std::uint8_t>, std::string> H264Encoder::encode(const YuvPicture& picture,
                                                                          bool force_key) {
    State& s = *state_;
    AVCodecContext* c = s.codec.get();
    const std::size_t luma = std::size_t{picture.width} * picture.height;
    const std::size_t chroma = std::size_t{picture.chroma_width()} * picture.chroma_height();
    if (static_cast<int>(picture.width) != c->width ||
        static_cast<int>(picture.height) != c->height || picture.y.size() != luma ||
        picture.u.size() != chroma || picture.v.size() != chroma) {
        return std::unexpected("the picture does not have the encoder's size");
    }
    AVFrame* f = s.frame.get();
    // Borrowed planes: the encoder copies a frame that owns no buffer.
    f->data[0] = const_cast<std::uint8_t*>(picture.y.data());
    f->data[1] = const_cast<std::uint8_t*>(picture.u.data());
    f->data[2] = const_cast<std::uint8_t*>(picture.v.data());
    f->linesize[0] = static_cast<int>(picture.width);
    f->linesize[1] = static_cast<int>(picture.chroma_width());
    f->linesize[2] = static_cast<int>(picture.chroma_width());
    f->pts = s.next_pts++;
    f->pict_type = force_key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    const int sent = avcodec_send_frame(c, f);
    f->data[0] = f->data[1] = f->data[2] = nullptr;
    if (sent < 0) {
        return std::unexpected("H.264 encoding failed: " + error_text(sent));
    }
    std::vector<std::uint8_t> out;
    while (avcodec_receive_packet(c, s.packet.get()) == 0) {
        out.insert(out.end(), s.packet->data, s.packet->data + s.packet->size);
        av_packet_unref(s.packet.get());
    }
    return out;
}

}  // namespace vorn_callstream::encoder
