// lame_enc.so's entry points on arbitrary input: the first 331 bytes are the configuration
// record (forced to the accepted kind, version and size half of the time, so the fields behind
// them are reached), the rest is PCM handed over in chunks of sizes taken from the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "plugins/lame_enc/lame_enc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < BE_CONFIG_SIZE + 1)
        return 0;
    std::uint8_t config[BE_CONFIG_SIZE];
    std::memcpy(config, data, BE_CONFIG_SIZE);
    if (data[BE_CONFIG_SIZE] & 1) {
        const std::uint8_t header[12] = {
            0, 1, 0, 0, 1, 0, 0, 0, BE_CONFIG_SIZE & 0xFF, BE_CONFIG_SIZE >> 8, 0, 0};
        std::memcpy(config, header, sizeof header);
    }
    data += BE_CONFIG_SIZE + 1;
    size -= BE_CONFIG_SIZE + 1;

    std::uint32_t chunk = 0, bufferSize = 0;
    BeStream stream = nullptr;
    if (beInitStream(config, &chunk, &bufferSize, &stream) != BE_OK)
        return 0;
    std::vector<std::uint8_t> output(bufferSize);
    std::vector<std::int16_t> samples(chunk + 1);
    std::uint32_t produced = 0;
    while (size >= 2) {
        // Up to one sample more than a chunk: the library must refuse, not overrun.
        const std::uint32_t count = std::min<std::uint32_t>(data[0] * 16u % (chunk + 2), size / 2);
        std::memcpy(samples.data(), data, count * 2);
        beEncodeChunk(stream, count, samples.data(), output.data(), &produced);
        if (produced > bufferSize)
            __builtin_trap();
        const std::size_t used = std::min<std::size_t>(size, count * 2 + 1);
        data += used;
        size -= used;
    }
    beDeinitStream(stream, output.data(), &produced);
    beCloseStream(stream);
    return 0;
}
