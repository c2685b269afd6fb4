// Objective measures of a decoded signal against the encoder's input.
#pragma once

#include <cstdint>
#include <vector>

namespace tolvane::test {

struct SpeechQuality {
    double segmentalSnrDb = 0.0;  // mean over 160-sample frames, silent frames skipped
    double correlation = 0.0;     // of the whole signals
    double levelDb = 0.0;         // energy of the output relative to the input
    int lag = 0;                  // samples the output trails the input by
    int frames = 0;               // frames that counted for the segmental SNR
};

// Frames quieter than -50 dBFS are silent; per-frame SNRs are clipped to [-10, 35] dB as usual.
SpeechQuality measureSpeech(const std::vector<std::int16_t>& input,
                            const std::vector<std::int16_t>& output, int maxLag = 160);

}  // namespace tolvane::test
