// Stand-ins for lame_enc.so, for the MP3 encoder's handling of a bad library. One variant per
// build (the directory each is built into names it):
//   MISSING_CLOSE    beCloseStream is missing; the other entry points refuse to work, so a
//                    loader that used the library anyway would be noticed;
//   FAILING_CHUNKS   every chunk fails to encode while the flush succeeds, so a caller that
//                    ignored the failed chunks would report success;
//   OVERSIZED_CHUNK  the stream asks for chunks larger than the caller can hand over.
#include <cstdint>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
std::uint8_t streamToken;
#ifdef MISSING_CLOSE
constexpr std::uint32_t kRefused = 1;
#else
constexpr std::uint32_t kRefused = 0;
#endif
}  // namespace

EXPORT std::uint32_t beInitStream(const std::uint8_t*, std::uint32_t* samplesPerChunk,
                                  std::uint32_t* outputBufferSize, void** stream) {
#ifdef OVERSIZED_CHUNK
    *samplesPerChunk = 4096;
#else
    *samplesPerChunk = 1152;
#endif
    *outputBufferSize = 8640;
    *stream = &streamToken;
    return kRefused;
}

EXPORT std::uint32_t beEncodeChunk(void*, std::uint32_t, const std::int16_t*, std::uint8_t*,
                                   std::uint32_t* produced) {
    *produced = 0;
#ifdef FAILING_CHUNKS
    return 6;
#else
    return kRefused;
#endif
}

EXPORT std::uint32_t beDeinitStream(void*, std::uint8_t*, std::uint32_t* produced) {
    *produced = 0;
    return kRefused;
}

#ifndef MISSING_CLOSE
EXPORT std::uint32_t beCloseStream(void*) {
    return 0;
}
#endif
