// A lame_enc.so with three of its four entry points: beCloseStream is missing. Each present
// entry point refuses to work, so a loader that used the library anyway would be noticed.
#include <cstdint>

extern "C" {

__attribute__((visibility("default"))) std::uint32_t beInitStream(const std::uint8_t*,
                                                                  std::uint32_t*, std::uint32_t*,
                                                                  void**) {
    return 1;
}

__attribute__((visibility("default"))) std::uint32_t beEncodeChunk(void*, std::uint32_t,
                                                                   const std::int16_t*,
                                                                   std::uint8_t*, std::uint32_t*) {
    return 1;
}

__attribute__((visibility("default"))) std::uint32_t beDeinitStream(void*, std::uint8_t*,
                                                                    std::uint32_t*) {
    return 1;
}

}  // extern "C"
