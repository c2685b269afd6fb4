// A lame_enc.so with all four entry points that misbehaves, for the MP3 encoder's distrust of
// its library. Built twice: by default every chunk fails to encode; with
// OVERSIZED_CHUNK the stream opens asking for chunks larger than the caller can hand over. The
// flush succeeds, so a caller that ignored the failed chunks would report success.
#include <cstdint>

namespace {
std::uint8_t streamToken;
}

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT std::uint32_t beInitStream(const std::uint8_t*, std::uint32_t* samplesPerChunk,
                                  std::uint32_t* outputBufferSize, void** stream) {
#ifdef OVERSIZED_CHUNK
    *samplesPerChunk = 4096;
#else
    *samplesPerChunk = 1152;
#endif
    *outputBufferSize = 8640;
    *stream = &streamToken;
    return 0;
}

EXPORT std::uint32_t beEncodeChunk(void*, std::uint32_t, const std::int16_t*, std::uint8_t*,
                                   std::uint32_t* produced) {
    *produced = 0;
    return 6;
}

EXPORT std::uint32_t beDeinitStream(void*, std::uint8_t*, std::uint32_t* produced) {
    *produced = 0;
    return 0;
}

EXPORT std::uint32_t beCloseStream(void*) {
    return 0;
}
