// The PCM wave-format record, as stored in a WAV file's "fmt " chunk.
#pragma once

#include <cstdint>

namespace tolvane {

struct PcmFormat {
    std::uint16_t formatTag = 1;  // 1 = PCM
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t extraSize = 0;

    // A PCM record with the derived fields filled in.
    static PcmFormat pcm(unsigned channels, unsigned rate, unsigned bits) {
        PcmFormat f;
        f.formatTag = 1;
        f.channels = static_cast<std::uint16_t>(channels);
        f.sampleRate = rate;
        f.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
        f.avgBytesPerSec = rate * f.blockAlign;
        f.bitsPerSample = static_cast<std::uint16_t>(bits);
        f.extraSize = 0;
        return f;
    }
};

}  // namespace tolvane
