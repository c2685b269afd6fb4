#include "plugins/ffmpeg_codecs/ape_decompressor.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace tolvane::ape {
namespace {

constexpr int kIoBufferSize = 32 * 1024;

int readPacket(void* opaque, std::uint8_t* buffer, int size) {
    unsigned int got = 0;
    if (static_cast<CIO*>(opaque)->Read(buffer, static_cast<unsigned>(size), &got) != 0)
        return AVERROR(EIO);
    return got == 0 ? AVERROR_EOF : static_cast<int>(got);
}

std::int64_t seekPacket(void* opaque, std::int64_t offset, int whence) {
    CIO* io = static_cast<CIO*>(opaque);
    if (whence & AVSEEK_SIZE)
        return io->GetSize();
    whence &= ~AVSEEK_FORCE;
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)
        return -1;
    if (io->Seek(offset, static_cast<unsigned>(whence)) != 0)
        return -1;
    return io->GetPosition();
}

class FfmpegApeDecompress final : public IAPEDecompress {
public:
    ~FfmpegApeDecompress() override {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&codec_);
        avformat_close_input(&format_);
        if (avio_ != nullptr)
            av_freep(&avio_->buffer);
        avio_context_free(&avio_);
    }

    // ERROR_SUCCESS, or why the stream cannot be decoded.
    int open(CIO* io) {
        auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferSize));
        if (buffer == nullptr)
            return ERROR_INSUFFICIENT_MEMORY;
        avio_ = avio_alloc_context(buffer, kIoBufferSize, 0, io, readPacket, nullptr, seekPacket);
        if (avio_ == nullptr) {
            av_free(buffer);
            return ERROR_INSUFFICIENT_MEMORY;
        }
        format_ = avformat_alloc_context();
        if (format_ == nullptr)
            return ERROR_INSUFFICIENT_MEMORY;
        format_->pb = avio_;
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
        if (avformat_open_input(&format_, nullptr, av_find_input_format("ape"), nullptr) < 0)
            return ERROR_INVALID_INPUT_FILE;  // avformat_open_input freed format_
        if (format_->nb_streams < 1)
            return ERROR_INVALID_INPUT_FILE;
        const AVStream* stream = format_->streams[0];
        const AVCodecParameters* par = stream->codecpar;
        rate_ = par->sample_rate;
        channels_ = par->ch_layout.nb_channels;
        bits_ = par->bits_per_coded_sample;
        totalBlocks_ =
            stream->duration == AV_NOPTS_VALUE ? 0 : std::max<std::int64_t>(stream->duration, 0);
        if (par->codec_id != AV_CODEC_ID_APE || rate_ <= 0 || channels_ <= 0 ||
            (bits_ != 8 && bits_ != 16 && bits_ != 24))
            return ERROR_UNSUPPORTED_FILE_VERSION;

        const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_APE);
        codec_ = decoder == nullptr ? nullptr : avcodec_alloc_context3(decoder);
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (codec_ == nullptr || frame_ == nullptr || packet_ == nullptr)
            return ERROR_INSUFFICIENT_MEMORY;
        if (avcodec_parameters_to_context(codec_, par) < 0 ||
            avcodec_open2(codec_, decoder, nullptr) < 0)
            return ERROR_UNSUPPORTED_FILE_VERSION;
        return ERROR_SUCCESS;
    }

    int GetData(char* buffer, int blocks, int* blocksRetrieved) override {
        int got = 0;
        int result = ERROR_SUCCESS;
        while (got < blocks) {
            if (frameOffset_ >= frameBlocks_) {
                const int status = nextFrame();
                if (status == AVERROR_EOF)
                    break;
                if (status < 0) {
                    result = ERROR_DECOMPRESSING_FRAME;
                    break;
                }
                continue;
            }
            const int n = std::min(blocks - got, frameBlocks_ - frameOffset_);
            copyBlocks(buffer + std::size_t(got) * blockAlign(), frameOffset_, n);
            frameOffset_ += n;
            got += n;
            position_ += n;
        }
        if (blocksRetrieved != nullptr)
            *blocksRetrieved = got;
        // Blocks decoded before an error are delivered; the error comes with the next call.
        if (got > 0 && result != ERROR_SUCCESS) {
            failed_ = true;
            return ERROR_SUCCESS;
        }
        return result;
    }

    int Seek(std::int64_t block) override {
        block = std::max<std::int64_t>(block, 0);
        if (av_seek_frame(format_, 0, block, AVSEEK_FLAG_BACKWARD) < 0)
            return ERROR_IO_READ;
        avcodec_flush_buffers(codec_);
        frameBlocks_ = frameOffset_ = 0;
        decodedBlock_ = -1;  // known again from the next packet
        target_ = block;
        position_ = block;
        failed_ = flushed_ = false;
        return ERROR_SUCCESS;
    }

    std::int64_t GetInfo(APE_DECOMPRESS_FIELDS field) override {
        switch (field) {
            case APE_INFO_SAMPLE_RATE:
                return rate_;
            case APE_INFO_BITS_PER_SAMPLE:
                return bits_;
            case APE_INFO_CHANNELS:
                return channels_;
            case APE_INFO_BLOCK_ALIGN:
                return blockAlign();
            case APE_INFO_TOTAL_BLOCKS:
                return totalBlocks_;
            case APE_DECOMPRESS_CURRENT_MS:
                return position_.load() * 1000 / rate_;
            case APE_DECOMPRESS_LENGTH_MS:
                return totalBlocks_ * 1000 / rate_;
        }
        return -1;
    }

private:
    AVIOContext* avio_ = nullptr;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int rate_ = 0, channels_ = 0, bits_ = 0;
    std::int64_t totalBlocks_ = 0;

    int frameBlocks_ = 0;                    // blocks in frame_
    int frameOffset_ = 0;                    // blocks of frame_ already delivered
    std::int64_t decodedBlock_ = 0;          // block number of the next decoded block, -1 unknown
    std::int64_t target_ = 0;                // blocks before this one are dropped (after a seek)
    std::atomic<std::int64_t> position_{0};  // the next block GetData delivers
    bool flushed_ = false;                   // the decoder has been told that no packet follows
    bool failed_ = false;

    int blockAlign() const { return channels_ * (bits_ / 8); }

    // Decodes the next frame into frame_, dropping what lies before the seek target.
    // 0, AVERROR_EOF at the end, or another negative code on an error.
    int nextFrame() {
        if (failed_)
            return AVERROR_INVALIDDATA;
        for (;;) {
            const int received = avcodec_receive_frame(codec_, frame_);
            if (received == 0) {
                if (takeFrame())
                    return 0;
                continue;
            }
            if (received != AVERROR(EAGAIN))
                return received;
            const int fed = feedPacket();
            if (fed < 0)
                return fed;
        }
    }

    // Sends the next packet of the stream (or the end of it) to the decoder.
    int feedPacket() {
        if (flushed_)
            return AVERROR_EOF;
        for (;;) {
            const int read = av_read_frame(format_, packet_);
            if (read < 0) {
                flushed_ = true;
                return avcodec_send_packet(codec_, nullptr) == 0 ? 0 : AVERROR_EOF;
            }
            if (packet_->stream_index != 0) {
                av_packet_unref(packet_);
                continue;
            }
            if (decodedBlock_ < 0)
                decodedBlock_ = packet_->pts == AV_NOPTS_VALUE ? target_ : packet_->pts;
            const int sent = avcodec_send_packet(codec_, packet_);
            av_packet_unref(packet_);
            return sent;
        }
    }

    // True when frame_ holds blocks at or after the target.
    bool takeFrame() {
        const std::int64_t first = decodedBlock_;
        decodedBlock_ += frame_->nb_samples;
        frameBlocks_ = frame_->nb_samples;
        frameOffset_ = static_cast<int>(std::clamp<std::int64_t>(target_ - first, 0, frameBlocks_));
        return frameOffset_ < frameBlocks_;
    }

    // Interleaves `count` blocks of frame_, from block `from`, in the file's own sample format.
    void copyBlocks(char* out, int from, int count) {
        auto* bytes = reinterpret_cast<std::uint8_t*>(out);
        const auto format = static_cast<AVSampleFormat>(frame_->format);
        const bool planar = av_sample_fmt_is_planar(format) != 0;
        for (int i = from; i < from + count; ++i) {
            for (int c = 0; c < channels_; ++c) {
                const int plane = planar ? c : 0;
                const int index = planar ? i : i * channels_ + c;
                const std::uint8_t* data = frame_->extended_data[plane];
                switch (av_get_packed_sample_fmt(format)) {
                    case AV_SAMPLE_FMT_U8:
                        *bytes++ = data[index];
                        break;
                    case AV_SAMPLE_FMT_S16: {
                        std::int16_t s;
                        std::memcpy(&s, data + 2 * index, 2);
                        *bytes++ = static_cast<std::uint8_t>(s);
                        *bytes++ = static_cast<std::uint8_t>(s >> 8);
                        break;
                    }
                    default: {  // S32 holding 24-bit samples in its top bits
                        std::int32_t s;
                        std::memcpy(&s, data + 4 * index, 4);
                        s >>= 8;
                        *bytes++ = static_cast<std::uint8_t>(s);
                        *bytes++ = static_cast<std::uint8_t>(s >> 8);
                        *bytes++ = static_cast<std::uint8_t>(s >> 16);
                        break;
                    }
                }
            }
        }
    }
};

}  // namespace

std::unique_ptr<IAPEDecompress> CreateIAPEDecompressEx(CIO* io, int* errorCode) {
    av_log_set_level(AV_LOG_QUIET);
    auto decompress = std::make_unique<FfmpegApeDecompress>();
    const int result = io == nullptr ? ERROR_INVALID_INPUT_FILE : decompress->open(io);
    if (errorCode != nullptr)
        *errorCode = result;
    if (result != ERROR_SUCCESS)
        return nullptr;
    return decompress;
}

}  // namespace tolvane::ape
