#include "decoders/mp3_decoding.h"

#include <mad.h>

#include <algorithm>
#include <cstring>
#include <optional>

// libmad decodes a frame only when MAD_BUFFER_GUARD bytes follow it inside the buffer it was
// given; the data handed to it here always ends with that many zero bytes, so the buffer length
// includes them and the last frame of a file is decoded too.
static_assert(MAD_BUFFER_GUARD == 8);

namespace tolvane {
namespace {

int samplesPerFrame(const mad_header& header) {
    if (header.layer == MAD_LAYER_I)
        return 384;
    if (header.layer == MAD_LAYER_III && (header.flags & MAD_FLAG_LSF_EXT) != 0)
        return 576;
    return 1152;
}

}  // namespace

std::uint64_t Mp3Scan::durationMs() const {
    const std::uint64_t bytesPerSecond = std::uint64_t(rate) * channels * 2;
    return bytesPerSecond == 0 ? 0 : pcmBytes * 1000 / bytesPerSecond;
}

namespace {

std::uint32_t littleEndian32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

// The format tag of a RIFF WAVE file's "fmt " chunk, or nothing when there is none.
std::optional<unsigned> waveFormatTag(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 12;
    while (at + 8 <= size) {
        const std::uint32_t length = littleEndian32(data + at + 4);
        if (std::memcmp(data + at, "fmt ", 4) == 0)
            return at + 10 <= size ? std::optional<unsigned>(data[at + 8] | (data[at + 9] << 8))
                                   : std::nullopt;
        at += 8 + std::size_t(length) + (length & 1);
    }
    return std::nullopt;
}

// A file of another kind given an .mp3 name (a WAV, Ogg, FLAC, Monkey's Audio, WMA or AIFF file)
// holds byte patterns that pass as MPEG frame headers, and would decode to bursts of noise or to
// nothing at all. A WAV file that carries MPEG audio (format tags 0x50 and 0x55) is MPEG audio.
bool isOtherContainer(const std::uint8_t* data, std::size_t size) {
    static constexpr std::uint8_t kAsfHeader[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};
    const auto startsWith = [&](const void* magic, std::size_t n) {
        return size >= n && std::memcmp(data, magic, n) == 0;
    };
    if (startsWith("RIFF", 4) && size >= 12 && std::memcmp(data + 8, "WAVE", 4) == 0) {
        const auto tag = waveFormatTag(data, size);
        return !tag || (*tag != 0x50 && *tag != 0x55);
    }
    return startsWith("OggS", 4) || startsWith("fLaC", 4) || startsWith("MAC ", 4) ||
           startsWith("FORM", 4) || startsWith(kAsfHeader, sizeof kAsfHeader);
}

}  // namespace

namespace {

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// What the first frame says about the stream when it is a tag frame rather than audio.
struct FrameTag {
    bool isTag = false;        // the frame holds the tag, not music: it is not decoded
    std::uint32_t frames = 0;  // frames of audio after it, 0 when not stated
    bool hasPads = false;
    std::uint32_t startPad = 0, endPad = 0;
};

// Reads a Layer III frame's Xing or Info tag (with the encoder's delay and padding when the
// encoder is LAME or FFmpeg), or its VBRI tag, the way FFmpeg's MP3 demuxer reads them; every
// field is read inside the data.
FrameTag readFrameTag(const std::uint8_t* data, std::size_t size, std::size_t at) {
    FrameTag tag;
    if (at + 4 > size)
        return tag;
    const std::uint8_t* h = data + at;
    const bool layer3 = ((h[1] >> 1) & 3) == 1;
    if (!layer3)
        return tag;
    const bool lsf = ((h[1] >> 3) & 3) != 3;  // MPEG-2 or 2.5
    const bool mono = (h[3] >> 6) == 3;
    static constexpr std::size_t kSideInfo[2][2] = {{32, 17}, {17, 9}};
    std::size_t p = at + 4 + kSideInfo[lsf][mono];
    const auto has = [&](std::size_t bytes) { return p + bytes <= size; };
    std::uint32_t fileBytes = 0;
    if (has(8) &&
        (std::memcmp(data + p, "Xing", 4) == 0 || std::memcmp(data + p, "Info", 4) == 0)) {
        const std::uint32_t flags = bigEndian32(data + p + 4);
        p += 8;
        if ((flags & 1) != 0 && has(4)) {
            tag.frames = bigEndian32(data + p);
            p += 4;
        }
        if ((flags & 2) != 0 && has(4)) {
            fileBytes = bigEndian32(data + p);
            p += 4;
        }
        // A file that goes on far beyond the size its tag states was joined from several: its
        // frame count is not the file's (FFmpeg then ignores it too).
        const std::uint64_t rest = size - at - 4;
        if (fileBytes != 0 && rest > fileBytes && rest - fileBytes > fileBytes / 16)
            tag.frames = 0;
        p += (flags & 4) != 0 ? 100 : 0;  // table of contents
        p += (flags & 8) != 0 ? 4 : 0;    // quality
        if (has(24) &&
            (std::memcmp(data + p, "LAME", 4) == 0 || std::memcmp(data + p, "Lavf", 4) == 0 ||
             std::memcmp(data + p, "Lavc", 4) == 0)) {
            const std::uint32_t delays = data[p + 21] << 16 | data[p + 22] << 8 | data[p + 23];
            tag.hasPads = true;
            tag.startPad = delays >> 12;
            tag.endPad = delays & 0xFFF;
        }
    }
    const std::size_t vbri = at + 4 + 32;
    if (vbri + 18 <= size && std::memcmp(data + vbri, "VBRI", 4) == 0 &&
        (data[vbri + 4] << 8 | data[vbri + 5]) == 1) {
        fileBytes = bigEndian32(data + vbri + 10);
        tag.frames = bigEndian32(data + vbri + 14);
    }
    tag.isTag = tag.frames != 0 || fileBytes != 0;
    return tag;
}

// The decoder's own delay: the synthesis filter bank's output lags its input by 528 samples,
// plus one.
constexpr std::uint64_t kDecoderDelay = 528 + 1;

Mp3Trim trimOf(const FrameTag& tag, int samplesPerFrame) {
    Mp3Trim trim;
    if (!tag.hasPads)
        return trim;
    trim.skip = tag.startPad + kDecoderDelay;
    if (tag.frames != 0) {
        const std::uint64_t stated = std::uint64_t(tag.frames) * samplesPerFrame;
        trim.gapTo = stated;
        trim.gapFrom =
            stated + kDecoderDelay > tag.endPad ? stated + kDecoderDelay - tag.endPad : 0;
    }
    return trim;
}

}  // namespace

std::uint64_t Mp3Trim::kept(std::uint64_t decoded) const {
    const std::uint64_t from = std::max(skip, std::min(gapFrom, gapTo));
    const std::uint64_t to = std::max(from, gapTo);
    const std::uint64_t first = std::min(decoded, from) - std::min(decoded, skip);
    const std::uint64_t second = decoded > to ? decoded - to : 0;
    return first + second;
}

std::uint64_t Mp3Trim::decodedIndexOf(std::uint64_t output) const {
    const std::uint64_t from = std::max(skip, std::min(gapFrom, gapTo));
    const std::uint64_t to = std::max(from, gapTo);
    return output < from - skip ? skip + output : to + (output - (from - skip));
}

Mp3Scan scanMp3(const std::uint8_t* data, std::size_t size) {
    Mp3Scan scan;
    if (isOtherContainer(data, size))
        return scan;
    mad_stream stream;
    mad_header header;
    mad_stream_init(&stream);
    mad_header_init(&header);
    mad_stream_buffer(&stream, data, size + MAD_BUFFER_GUARD);
    bool first = true;
    for (;;) {
        if (mad_header_decode(&header, &stream) == 0) {
            const std::size_t offset = static_cast<std::size_t>(stream.this_frame - data);
            if (first) {
                first = false;
                const FrameTag tag = readFrameTag(data, size, offset);
                scan.trim = trimOf(tag, samplesPerFrame(header));
                if (tag.isTag)
                    continue;
            }
            scan.frames.push_back({offset, scan.decodedSamples});
            scan.rate = static_cast<int>(header.samplerate);
            scan.channels = header.mode == MAD_MODE_SINGLE_CHANNEL ? 1 : 2;
            scan.decodedSamples += static_cast<std::uint64_t>(samplesPerFrame(header));
        } else if (!MAD_RECOVERABLE(stream.error)) {
            scan.reachedEnd = stream.error == MAD_ERROR_BUFLEN;
            break;
        }
    }
    mad_header_finish(&header);
    mad_stream_finish(&stream);
    scan.pcmBytes = scan.trim.kept(scan.decodedSamples) * std::uint64_t(scan.channels) * 2;
    return scan;
}

// All arithmetic wraps at 32 bits, as the fixed-point design expects; unsigned types keep the
// wrap defined.
std::int16_t Mp3Dither::toPcm16(std::int32_t sample) {
    constexpr std::int32_t kMax = (1 << 28) - 1;
    constexpr std::int32_t kMin = -(1 << 28);
    constexpr std::uint32_t kMask = 8191;  // the bits below the 16-bit output

    auto s = static_cast<std::int32_t>(std::uint32_t(sample) + std::uint32_t(error_[0]) -
                                       std::uint32_t(error_[1]) + std::uint32_t(error_[2]));
    error_[2] = error_[1];
    error_[1] = error_[0] / 2;

    const std::uint32_t random = random_ * 1664525u + 1013904223u;
    auto out =
        static_cast<std::int32_t>(std::uint32_t(s) + 4096u + (random & kMask) - (random_ & kMask));
    random_ = random;

    if (out > kMax) {
        out = kMax;
        if (s > kMax)
            s = kMax;
    } else if (out < kMin) {
        out = kMin;
        if (s < kMin)
            s = kMin;
    }
    error_[0] = static_cast<std::int32_t>(std::uint32_t(s) - (std::uint32_t(out) & ~kMask));
    return static_cast<std::int16_t>(out >> 13);
}

struct Mp3FrameDecoder::State {
    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
};

Mp3FrameDecoder::Mp3FrameDecoder(const std::uint8_t* data, std::size_t size, int channels)
    : data_(data), size_(size), channels_(channels), state_(std::make_unique<State>()) {
    mad_stream_init(&state_->stream);
    mad_frame_init(&state_->frame);
    mad_synth_init(&state_->synth);
    mad_stream_buffer(&state_->stream, data_, size_ + MAD_BUFFER_GUARD);
}

Mp3FrameDecoder::~Mp3FrameDecoder() {
    mad_synth_finish(&state_->synth);
    mad_frame_finish(&state_->frame);
    mad_stream_finish(&state_->stream);
}

void Mp3FrameDecoder::restartAt(std::size_t offset) {
    offset = std::min(offset, size_);
    mad_stream_buffer(&state_->stream, data_ + offset, size_ - offset + MAD_BUFFER_GUARD);
    mad_frame_mute(&state_->frame);
    mad_synth_mute(&state_->synth);
}

bool Mp3FrameDecoder::next(std::vector<std::int16_t>& pcm) {
    if (mad_frame_decode(&state_->frame, &state_->stream) != 0)
        return MAD_RECOVERABLE(state_->stream.error);
    mad_synth_frame(&state_->synth, &state_->frame);
    const mad_pcm& out = state_->synth.pcm;
    const mad_fixed_t* left = out.samples[0];
    const mad_fixed_t* right = out.channels == 2 ? out.samples[1] : out.samples[0];
    const std::size_t start = pcm.size();
    pcm.resize(start + std::size_t(out.length) * channels_);
    std::int16_t* p = pcm.data() + start;
    if (channels_ == 1) {
        for (unsigned i = 0; i < out.length; ++i)
            *p++ = left_.toPcm16(left[i]);
    } else {
        for (unsigned i = 0; i < out.length; ++i) {
            *p++ = left_.toPcm16(left[i]);
            *p++ = right_.toPcm16(right[i]);
        }
    }
    return true;
}

}  // namespace tolvane
