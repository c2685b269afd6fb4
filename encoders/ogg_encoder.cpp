#include "encoders/ogg_encoder.h"

#include <vorbis/vorbisenc.h>

#include <random>
#include <vector>

#include "encoders/encoders.h"
#include "pipeline/app_exception.h"
#include "platform/paths.h"

namespace tolvane {
namespace {

// Frames handed to libvorbis at a time: its analysis buffer grows to what it is asked for.
constexpr std::size_t kChunkFrames = 4096;

}  // namespace

// libvorbis's and libogg's state, released in the reverse order of its making.
struct COggEncoder::Codec {
    vorbis_info info{};
    vorbis_comment comment{};
    vorbis_dsp_state dsp{};
    vorbis_block block{};
    ogg_stream_state stream{};
    int channels = 0;
    bool infoReady = false;
    bool dspReady = false;
    bool streamReady = false;

    Codec() {
        vorbis_info_init(&info);
        vorbis_comment_init(&comment);
    }
    ~Codec() {
        if (streamReady)
            ogg_stream_clear(&stream);
        if (dspReady) {
            vorbis_block_clear(&block);
            vorbis_dsp_clear(&dsp);
        }
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
    }
};

int COggEncoder::rateFor(int sourceRate) {
    return sourceRate >= kMinNativeRate && sourceRate <= kMaxNativeRate ? sourceRate : kDefaultRate;
}

COggEncoder::COggEncoder(const std::string& path) : title_(platform::stemOf(path)) {
    prepareTarget(path);
    if (!file_.create(path))
        throw EncoderException("cannot create file");
}

COggEncoder::~COggEncoder() = default;

void COggEncoder::startOnce() {
    if (codec_ != nullptr)
        return;
    if (channels_ < 1 || channels_ > 2 || bitsPerSample_ != 16 || sampleRate_ <= 0)
        throw EncoderException("unexpected error");
    auto codec = std::make_unique<Codec>();
    codec->channels = channels_;
    frames_.setFrameBytes(static_cast<std::size_t>(channels_) * 2);
    if (vorbis_encode_init_vbr(&codec->info, channels_, sampleRate_, kQuality) != 0)
        throw EncoderException("unable to encode");
    codec->infoReady = true;
    if (!title_.empty())
        vorbis_comment_add_tag(&codec->comment, "TITLE", title_.c_str());
    if (vorbis_analysis_init(&codec->dsp, &codec->info) != 0)
        throw EncoderException("unable to encode");
    vorbis_block_init(&codec->dsp, &codec->block);
    codec->dspReady = true;
    // Each logical stream carries a serial number of its own.
    if (ogg_stream_init(&codec->stream, static_cast<int>(std::random_device{}())) != 0)
        throw std::bad_alloc();
    codec->streamReady = true;

    ogg_packet id, comments, books;
    vorbis_analysis_headerout(&codec->dsp, &codec->comment, &id, &comments, &books);
    ogg_stream_packetin(&codec->stream, &id);
    ogg_stream_packetin(&codec->stream, &comments);
    ogg_stream_packetin(&codec->stream, &books);
    codec_ = std::move(codec);
    // The audio starts on a page of its own, as players expect.
    writePages(true);
}

void COggEncoder::write(const void* data, std::size_t count, std::size_t* written) {
    if (written != nullptr)
        *written = count;
    startOnce();
    const std::size_t frameBytes = static_cast<std::size_t>(channels_) * 2;
    frames_.push(data, count, [&](const std::uint8_t* pcm, std::size_t frames) {
        while (frames > 0) {
            const std::size_t take = std::min(frames, kChunkFrames);
            code(pcm, take);
            pcm += take * frameBytes;
            frames -= take;
        }
    });
}

void COggEncoder::code(const std::uint8_t* pcm, std::size_t frames) {
    Codec& c = *codec_;
    float** buffer = vorbis_analysis_buffer(&c.dsp, static_cast<int>(frames));
    const std::size_t channels = static_cast<std::size_t>(c.channels);
    for (std::size_t ch = 0; ch < channels; ++ch) {
        float* out = buffer[ch];
        const std::uint8_t* in = pcm + 2 * ch;
        for (std::size_t i = 0; i < frames; ++i, in += 2 * channels) {
            const auto s = static_cast<std::int16_t>(in[0] | in[1] << 8);
            out[i] = static_cast<float>(s) * (1.0f / 32768.0f);
        }
    }
    vorbis_analysis_wrote(&c.dsp, static_cast<int>(frames));
    writePages(false);
}

// Codes every block libvorbis has ready and writes the finished pages (all of them, the last
// one partly filled, when flushing).
void COggEncoder::writePages(bool flush) {
    Codec& c = *codec_;
    while (vorbis_analysis_blockout(&c.dsp, &c.block) == 1) {
        vorbis_analysis(&c.block, nullptr);
        vorbis_bitrate_addblock(&c.block);
        ogg_packet packet;
        while (vorbis_bitrate_flushpacket(&c.dsp, &packet) == 1)
            ogg_stream_packetin(&c.stream, &packet);
    }
    ogg_page page;
    while ((flush ? ogg_stream_flush(&c.stream, &page) : ogg_stream_pageout(&c.stream, &page)) !=
           0) {
        if (!file_.write(page.header, static_cast<std::size_t>(page.header_len)) ||
            !file_.write(page.body, static_cast<std::size_t>(page.body_len)))
            throw EncoderException("write error");
    }
}

void COggEncoder::finish() {
    if (finished_)
        return;
    startOnce();
    finished_ = true;
    // No more audio: libvorbis codes what it holds and marks the stream's end.
    vorbis_analysis_wrote(&codec_->dsp, 0);
    writePages(true);
}

std::unique_ptr<CEncoder> makeOggEncoder(const std::string& path) {
    return std::make_unique<COggEncoder>(path);
}

}  // namespace tolvane
