// The interface of lame_enc.so, the MP3 encoder library that the MP3 ringtone encoder loads at
// run time from the application folder. Four C entry points; a result of 0 means success.
//
// A stream is configured by a 331-byte record of little-endian 32-bit fields at fixed offsets
// (LameConfigOffset below); every byte not named there is reserved and must be 0.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LAME_ENC_API __attribute__((visibility("default")))

typedef struct lame_enc_stream* BeStream;

// Results of the four entry points.
enum BeResult {
    BE_OK = 0,
    BE_ERR_INVALID_FORMAT = 1,             // unknown configuration kind, version or size
    BE_ERR_INVALID_FORMAT_PARAMETERS = 2,  // a field the library cannot honour
    BE_ERR_NO_MORE_HANDLES = 3,            // the encoder could not be set up
    BE_ERR_BAD_HANDLE = 4,
    BE_ERR_BUFFER_TOO_SMALL = 5,  // more samples than one chunk
    BE_ERR_ENCODING = 6,          // the MP3 coder failed
};

enum {
    BE_CONFIG_SIZE = 331,
    BE_CONFIG_KIND_LAME = 256,  // the extended configuration kind, the only one accepted
    BE_CONFIG_VERSION = 1,
    BE_MAX_CHUNK_SAMPLES = 2048,
};

// Byte offsets of the configuration record's fields.
enum LameConfigOffset {
    BE_CFG_KIND = 0,
    BE_CFG_VERSION = 4,
    BE_CFG_SIZE = 8,
    BE_CFG_SAMPLE_RATE = 12,
    BE_CFG_OUT_SAMPLE_RATE = 16,  // 0: the library chooses
    BE_CFG_MODE = 20,             // 3: mono (the only mode accepted)
    BE_CFG_BITRATE = 24,          // kbit/s
    BE_CFG_MAX_BITRATE = 28,
    BE_CFG_PRESET = 32,
    BE_CFG_MPEG_VERSION = 36,  // 1: MPEG-1, 0: MPEG-2
    BE_CFG_PSY_MODEL = 40,
    BE_CFG_EMPHASIS = 44,
    BE_CFG_PRIVATE = 48,
    BE_CFG_CRC = 52,
    BE_CFG_COPYRIGHT = 56,
    BE_CFG_ORIGINAL = 60,
    BE_CFG_WRITE_VBR_HEADER = 64,
    BE_CFG_ENABLE_VBR = 68,
    BE_CFG_VBR_QUALITY = 72,
    BE_CFG_AVERAGE_BITRATE = 76,
    BE_CFG_VBR_METHOD = 80,
    BE_CFG_NO_RESERVOIR = 84,
    BE_CFG_STRICT_ISO = 88,
    BE_CFG_QUALITY = 92,  // 0: the coder's default
};

enum { BE_MODE_MONO = 3, BE_MPEG1 = 1, BE_MPEG2 = 0 };

// Opens a stream. On success: the number of 16-bit samples each beEncodeChunk call takes (the
// last call of a stream may take fewer), the size of the output buffer the caller must pass to
// beEncodeChunk and beDeinitStream, and the stream.
LAME_ENC_API uint32_t beInitStream(const uint8_t* config, uint32_t* samplesPerChunk,
                                   uint32_t* outputBufferSize, BeStream* stream);
// Encodes up to samplesPerChunk samples into output (outputBufferSize bytes); *produced is the
// number of MP3 bytes placed there.
LAME_ENC_API uint32_t beEncodeChunk(BeStream stream, uint32_t sampleCount, const int16_t* samples,
                                    uint8_t* output, uint32_t* produced);
// Flushes the coder: the last MP3 bytes of the stream go to output.
LAME_ENC_API uint32_t beDeinitStream(BeStream stream, uint8_t* output, uint32_t* produced);
// Releases the stream.
LAME_ENC_API uint32_t beCloseStream(BeStream stream);

typedef uint32_t (*BeInitStreamFn)(const uint8_t*, uint32_t*, uint32_t*, BeStream*);
typedef uint32_t (*BeEncodeChunkFn)(BeStream, uint32_t, const int16_t*, uint8_t*, uint32_t*);
typedef uint32_t (*BeDeinitStreamFn)(BeStream, uint8_t*, uint32_t*);
typedef uint32_t (*BeCloseStreamFn)(BeStream);

#ifdef __cplusplus
}
#endif
