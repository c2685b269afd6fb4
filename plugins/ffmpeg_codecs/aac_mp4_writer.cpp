// AAC-LC in an MPEG-4 file (brand "M4A "), the container iPhones take as ringtones, over
// FFmpeg's AAC encoder and MP4 muxer.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <mutex>
#include <new>
#include <string>

#include "plugins/ffmpeg_codecs/ffmpeg_codecs.h"

namespace tolvane::ffmpeg_codecs {
namespace {

// A failure inside the library, answered at its edge with its code.
struct Failure {
    Result code;
};
[[noreturn]] void fail(Result code) {
    throw Failure{code};
}

// The brand iPhones expect of an AAC ringtone; "faststart" puts the index first, so that a
// phone's browser can start playing a ringtone it is still fetching.
constexpr const char* kBrand = "M4A ";
constexpr const char* kMovFlags = "+faststart";

struct FormatDeleter {
    void operator()(AVFormatContext* fmt) const {
        if (fmt->pb != nullptr)
            avio_closep(&fmt->pb);
        avformat_free_context(fmt);
    }
};
struct CodecDeleter {
    void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

class FfmpegAacMp4Writer {
public:
    FfmpegAacMp4Writer(const std::string& path, const AacMp4Options& settings);
    void write(const std::int16_t* pcm, std::size_t frames);
    void finish();

private:
    void openCodec(const AacMp4Options& settings);
    void openFile(const std::string& path, const AacMp4Options& settings);
    // Codes the frame buffer's `filled_` samples (a null frame drains the coder).
    void sendFrame(bool last);
    void drainPackets();
    void checkOutput() const;

    std::unique_ptr<AVFormatContext, FormatDeleter> format_;
    std::unique_ptr<AVCodecContext, CodecDeleter> codec_;
    std::unique_ptr<AVFrame, FrameDeleter> frame_;
    std::unique_ptr<AVPacket, PacketDeleter> packet_;
    AVStream* stream_ = nullptr;
    int channels_ = 0;
    int frameSize_ = 0;
    int filled_ = 0;            // samples per channel waiting in frame_
    std::int64_t samples_ = 0;  // samples per channel handed to the coder: the next frame's time
    bool finished_ = false;
};

FfmpegAacMp4Writer::FfmpegAacMp4Writer(const std::string& path, const AacMp4Options& settings)
    : channels_(settings.channels) {
    // The program keeps no log: FFmpeg's notes on standard error would only confuse.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    if (channels_ < 1 || channels_ > 2 || settings.sampleRate <= 0)
        fail(kNoEncoder);
    AVFormatContext* fmt = nullptr;
    if (avformat_alloc_output_context2(&fmt, nullptr, "mp4", path.c_str()) < 0 || fmt == nullptr)
        fail(kCannotCreateFile);
    format_.reset(fmt);
    openCodec(settings);
    openFile(path, settings);
}

void FfmpegAacMp4Writer::openCodec(const AacMp4Options& settings) {
    const AVCodec* codec = avcodec_find_encoder_by_name(settings.codecName);
    if (codec == nullptr || codec->type != AVMEDIA_TYPE_AUDIO)
        fail(kNoEncoder);
    codec_.reset(avcodec_alloc_context3(codec));
    if (codec_ == nullptr)
        throw std::bad_alloc();
    AVCodecContext* ctx = codec_.get();
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->sample_rate = settings.sampleRate;
    av_channel_layout_default(&ctx->ch_layout, channels_);
    ctx->bit_rate = settings.bitRate;
    ctx->profile = FF_PROFILE_AAC_LOW;
    ctx->time_base = AVRational{1, settings.sampleRate};
    if ((format_->oformat->flags & AVFMT_GLOBALHEADER) != 0)
        ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(ctx, codec, nullptr) < 0)
        fail(kNoEncoder);
    frameSize_ = ctx->frame_size > 0 ? ctx->frame_size : 1024;

    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (frame_ == nullptr || packet_ == nullptr)
        throw std::bad_alloc();
    frame_->format = ctx->sample_fmt;
    frame_->sample_rate = ctx->sample_rate;
    frame_->nb_samples = frameSize_;
    if (av_channel_layout_copy(&frame_->ch_layout, &ctx->ch_layout) < 0 ||
        av_frame_get_buffer(frame_.get(), 0) < 0)
        throw std::bad_alloc();
}

void FfmpegAacMp4Writer::openFile(const std::string& path, const AacMp4Options& settings) {
    stream_ = avformat_new_stream(format_.get(), nullptr);
    if (stream_ == nullptr || avcodec_parameters_from_context(stream_->codecpar, codec_.get()) < 0)
        throw std::bad_alloc();
    stream_->time_base = codec_->time_base;
    if (settings.title != nullptr && *settings.title != '\0')
        av_dict_set(&format_->metadata, "title", settings.title, 0);
    if (avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
        fail(kCannotCreateFile);
    AVDictionary* options = nullptr;
    av_dict_set(&options, "brand", kBrand, 0);
    av_dict_set(&options, "movflags", kMovFlags, 0);
    const int status = avformat_write_header(format_.get(), &options);
    av_dict_free(&options);
    if (status < 0)
        fail(kWriteError);
    checkOutput();
}

void FfmpegAacMp4Writer::write(const std::int16_t* pcm, std::size_t frames) {
    constexpr float kScale = 1.0f / 32768.0f;
    while (frames > 0) {
        const std::size_t room = static_cast<std::size_t>(frameSize_ - filled_);
        const std::size_t take = std::min(room, frames);
        for (int c = 0; c < channels_; ++c) {
            float* plane = reinterpret_cast<float*>(frame_->extended_data[c]) + filled_;
            const std::int16_t* in = pcm + c;
            for (std::size_t i = 0; i < take; ++i)
                plane[i] = static_cast<float>(in[i * static_cast<std::size_t>(channels_)]) * kScale;
        }
        pcm += take * static_cast<std::size_t>(channels_);
        frames -= take;
        filled_ += static_cast<int>(take);
        if (filled_ == frameSize_)
            sendFrame(false);
    }
}

void FfmpegAacMp4Writer::finish() {
    if (finished_)
        return;
    finished_ = true;
    if (filled_ > 0)
        sendFrame(true);
    if (avcodec_send_frame(codec_.get(), nullptr) < 0)
        fail(kWriteError);
    drainPackets();
    if (av_write_trailer(format_.get()) < 0)
        fail(kWriteError);
    checkOutput();
    if (avio_closep(&format_->pb) < 0)
        fail(kWriteError);
}

void FfmpegAacMp4Writer::sendFrame(bool last) {
    AVFrame* frame = frame_.get();
    if (last && filled_ < frameSize_) {
        const bool shortLastFrame =
            (codec_->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
        if (shortLastFrame) {
            frame->nb_samples = filled_;
        } else {
            for (int c = 0; c < channels_; ++c)
                std::fill_n(reinterpret_cast<float*>(frame->extended_data[c]) + filled_,
                            frameSize_ - filled_, 0.0f);
        }
    }
    frame->pts = samples_;
    samples_ += frame->nb_samples;
    filled_ = 0;
    if (avcodec_send_frame(codec_.get(), frame) < 0)
        fail(kUnableToEncode);
    drainPackets();
    // The coder may keep a reference to the buffer it was given: the next samples need one of
    // their own.
    if (!last && av_frame_make_writable(frame) < 0)
        throw std::bad_alloc();
}

void FfmpegAacMp4Writer::drainPackets() {
    for (;;) {
        const int status = avcodec_receive_packet(codec_.get(), packet_.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
            return;
        if (status < 0)
            fail(kUnableToEncode);
        av_packet_rescale_ts(packet_.get(), codec_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        const int written = av_write_frame(format_.get(), packet_.get());
        av_packet_unref(packet_.get());
        if (written < 0)
            fail(kWriteError);
        checkOutput();
    }
}

void FfmpegAacMp4Writer::checkOutput() const {
    // A failed write (a full disk) is remembered by the I/O context, not always returned.
    if (format_->pb == nullptr || format_->pb->error < 0)
        fail(kWriteError);
}

// The writer behind the library's edge: every failure becomes its code.
template <class Action>
Result guarded(Action action) {
    try {
        action();
        return kOk;
    } catch (const Failure& failure) {
        return failure.code;
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

class Sink : public AacMp4Sink {
public:
    explicit Sink(std::unique_ptr<FfmpegAacMp4Writer> writer) : writer_(std::move(writer)) {}
    Result write(const std::int16_t* pcm, std::size_t frames) override {
        return guarded([&] { writer_->write(pcm, frames); });
    }
    Result finish() override {
        return guarded([&] { writer_->finish(); });
    }

private:
    std::unique_ptr<FfmpegAacMp4Writer> writer_;
};

}  // namespace

Result openAacMp4(const char* path, const AacMp4Options* options, AacMp4Sink** sink) {
    *sink = nullptr;
    return guarded([&] {
        auto writer = std::make_unique<FfmpegAacMp4Writer>(path, *options);
        *sink = new Sink(std::move(writer));
    });
}

}  // namespace tolvane::ffmpeg_codecs
