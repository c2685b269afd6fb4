// lame_enc.so: the MP3 encoder library of the ringtone wizard, over libmp3lame.
//
// The configuration record asks for a constant-bit-rate mono stream; fields this library does
// not implement (presets, variable bit rate, psychoacoustic model, quality levels) must be 0 so
// that a caller never gets silently different output from what it asked for.
#include "plugins/lame_enc/lame_enc.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>

struct lame_enc_stream {
    lame_global_flags* flags = nullptr;
    uint32_t samplesPerChunk = 0;
    uint32_t outputBufferSize = 0;
    bool flushed = false;
};

namespace {

// One MPEG-1 Layer III frame of mono samples: a whole frame per chunk keeps the coder's
// internal buffering minimal, and it stays below the callers' limit of 2048 samples.
constexpr uint32_t kSamplesPerChunk = 1152;
// libmp3lame's documented worst case for one call: 1.25 × samples + 7200 bytes; the flush at
// the end needs at most 7200.
constexpr uint32_t kOutputBufferSize = kSamplesPerChunk * 5 / 4 + 7200;

constexpr int kBitrates[] = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                             96, 112, 128, 144, 160, 192, 224, 256, 320};
constexpr int kSampleRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
// The highest input rate the coder is asked to take (it resamples to an MPEG rate itself).
constexpr uint32_t kMaxInputRate = 192000;
// libmp3lame aborts on an assertion in its resampler when it upsamples by large factors (found
// by fuzzing; seen from about 7 times up); such streams are refused rather than let into the
// coder. Its own choice of output rate never goes below 8000 Hz, so this also refuses inputs
// below 2000 Hz.
constexpr int kMaxUpsampling = 4;

uint32_t field(const uint8_t* config, int offset) {
    return static_cast<uint32_t>(config[offset]) | static_cast<uint32_t>(config[offset + 1]) << 8 |
           static_cast<uint32_t>(config[offset + 2]) << 16 |
           static_cast<uint32_t>(config[offset + 3]) << 24;
}

template <std::size_t N>
bool oneOf(uint32_t value, const int (&allowed)[N]) {
    return std::find(std::begin(allowed), std::end(allowed), static_cast<int>(value)) !=
           std::end(allowed);
}

bool isFlag(uint32_t value) {
    return value == 0 || value == 1;
}

// Fields that must be zero: what this library does not implement, and the reserved tail.
bool unsupportedFieldsClear(const uint8_t* config) {
    for (int offset :
         {BE_CFG_MAX_BITRATE, BE_CFG_PRESET, BE_CFG_PSY_MODEL, BE_CFG_ENABLE_VBR,
          BE_CFG_VBR_QUALITY, BE_CFG_AVERAGE_BITRATE, BE_CFG_VBR_METHOD, BE_CFG_QUALITY})
        if (field(config, offset) != 0)
            return false;
    const int reservedStart = BE_CFG_QUALITY + 4;
    return std::all_of(config + reservedStart, config + BE_CONFIG_SIZE,
                       [](uint8_t b) { return b == 0; });
}

uint32_t checkConfig(const uint8_t* config) {
    if (field(config, BE_CFG_KIND) != BE_CONFIG_KIND_LAME ||
        field(config, BE_CFG_VERSION) < BE_CONFIG_VERSION ||
        field(config, BE_CFG_SIZE) != BE_CONFIG_SIZE)
        return BE_ERR_INVALID_FORMAT;
    const uint32_t inRate = field(config, BE_CFG_SAMPLE_RATE);
    const uint32_t outRate = field(config, BE_CFG_OUT_SAMPLE_RATE);
    const uint32_t mpeg = field(config, BE_CFG_MPEG_VERSION);
    const bool ok =
        inRate > 0 && inRate <= kMaxInputRate && (outRate == 0 || oneOf(outRate, kSampleRates)) &&
        field(config, BE_CFG_MODE) == BE_MODE_MONO &&
        oneOf(field(config, BE_CFG_BITRATE), kBitrates) && (mpeg == BE_MPEG1 || mpeg == BE_MPEG2) &&
        field(config, BE_CFG_EMPHASIS) <= 3 && isFlag(field(config, BE_CFG_PRIVATE)) &&
        isFlag(field(config, BE_CFG_CRC)) && isFlag(field(config, BE_CFG_COPYRIGHT)) &&
        isFlag(field(config, BE_CFG_ORIGINAL)) && isFlag(field(config, BE_CFG_WRITE_VBR_HEADER)) &&
        isFlag(field(config, BE_CFG_NO_RESERVOIR)) && isFlag(field(config, BE_CFG_STRICT_ISO)) &&
        unsupportedFieldsClear(config);
    return ok ? BE_OK : BE_ERR_INVALID_FORMAT_PARAMETERS;
}

// A constant-bit-rate mono coder as the record describes; the output rate, when not given, is
// the coder's own choice for the bit rate.
void applyConfig(lame_global_flags* flags, const uint8_t* config) {
    lame_set_num_channels(flags, 1);
    lame_set_mode(flags, MONO);
    lame_set_in_samplerate(flags, static_cast<int>(field(config, BE_CFG_SAMPLE_RATE)));
    lame_set_out_samplerate(flags, static_cast<int>(field(config, BE_CFG_OUT_SAMPLE_RATE)));
    lame_set_VBR(flags, vbr_off);
    lame_set_brate(flags, static_cast<int>(field(config, BE_CFG_BITRATE)));
    lame_set_emphasis(flags, static_cast<int>(field(config, BE_CFG_EMPHASIS)));
    lame_set_extension(flags, static_cast<int>(field(config, BE_CFG_PRIVATE)));
    lame_set_error_protection(flags, static_cast<int>(field(config, BE_CFG_CRC)));
    lame_set_copyright(flags, static_cast<int>(field(config, BE_CFG_COPYRIGHT)));
    lame_set_original(flags, static_cast<int>(field(config, BE_CFG_ORIGINAL)));
    lame_set_bWriteVbrTag(flags, static_cast<int>(field(config, BE_CFG_WRITE_VBR_HEADER)));
    lame_set_disable_reservoir(flags, static_cast<int>(field(config, BE_CFG_NO_RESERVOIR)));
    lame_set_strict_ISO(flags, static_cast<int>(field(config, BE_CFG_STRICT_ISO)));
}

// The coder reports on stdout/stderr by default; a library inside a GUI program stays quiet.
void silent(const char*, va_list) {}

}  // namespace

uint32_t beInitStream(const uint8_t* config, uint32_t* samplesPerChunk, uint32_t* outputBufferSize,
                      BeStream* stream) {
    if (config == nullptr || samplesPerChunk == nullptr || outputBufferSize == nullptr ||
        stream == nullptr)
        return BE_ERR_INVALID_FORMAT;
    if (const uint32_t check = checkConfig(config); check != BE_OK)
        return check;

    // The coder fills process-wide tables (powers, logarithms) while it sets up a stream; streams
    // of files converting at the same time set up one after the other.
    static std::mutex setUp;
    std::unique_lock setUpLock(setUp);
    lame_global_flags* flags = lame_init();
    if (flags == nullptr)
        return BE_ERR_NO_MORE_HANDLES;
    lame_set_errorf(flags, silent);
    lame_set_debugf(flags, silent);
    lame_set_msgf(flags, silent);
    applyConfig(flags, config);
    if (lame_init_params(flags) < 0 ||
        lame_get_out_samplerate(flags) > kMaxUpsampling * lame_get_in_samplerate(flags)) {
        lame_close(flags);
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    setUpLock.unlock();
    auto* s = new (std::nothrow) lame_enc_stream;
    if (s == nullptr) {
        lame_close(flags);
        return BE_ERR_NO_MORE_HANDLES;
    }
    s->flags = flags;
    s->samplesPerChunk = kSamplesPerChunk;
    s->outputBufferSize = kOutputBufferSize;
    *samplesPerChunk = s->samplesPerChunk;
    *outputBufferSize = s->outputBufferSize;
    *stream = s;
    return BE_OK;
}

uint32_t beEncodeChunk(BeStream stream, uint32_t sampleCount, const int16_t* samples,
                       uint8_t* output, uint32_t* produced) {
    if (produced != nullptr)
        *produced = 0;
    if (stream == nullptr || stream->flushed || output == nullptr || produced == nullptr)
        return BE_ERR_BAD_HANDLE;
    if (sampleCount > stream->samplesPerChunk)
        return BE_ERR_BUFFER_TOO_SMALL;
    if (sampleCount == 0)
        return BE_OK;
    if (samples == nullptr)
        return BE_ERR_BAD_HANDLE;
    // Mono: the coder reads only the first channel's buffer.
    const int bytes =
        lame_encode_buffer(stream->flags, samples, samples, static_cast<int>(sampleCount), output,
                           static_cast<int>(stream->outputBufferSize));
    if (bytes < 0)
        return BE_ERR_ENCODING;
    *produced = static_cast<uint32_t>(bytes);
    return BE_OK;
}

uint32_t beDeinitStream(BeStream stream, uint8_t* output, uint32_t* produced) {
    if (produced != nullptr)
        *produced = 0;
    if (stream == nullptr || stream->flushed || output == nullptr || produced == nullptr)
        return BE_ERR_BAD_HANDLE;
    stream->flushed = true;
    const int bytes =
        lame_encode_flush(stream->flags, output, static_cast<int>(stream->outputBufferSize));
    if (bytes < 0)
        return BE_ERR_ENCODING;
    *produced = static_cast<uint32_t>(bytes);
    return BE_OK;
}

uint32_t beCloseStream(BeStream stream) {
    if (stream == nullptr)
        return BE_ERR_BAD_HANDLE;
    lame_close(stream->flags);
    delete stream;
    return BE_OK;
}
