// Constant tables of the QCELP-13K full-rate coder (IS-733 / 3GPP2 C.S0020).
#pragma once

#include <array>
#include <cstdint>

namespace tolvane::qcelp {

// Samples per frame, pitch subframes per frame and their length, codebook subframes and theirs.
constexpr int kFrameLength = 160;
constexpr int kPitchSubframes = 4;
constexpr int kPitchSubframeLength = 40;
constexpr int kCodebookSubframes = 16;
constexpr int kCodebookSubframeLength = 10;
constexpr int kLpcOrder = 10;

// Payload bytes of a full-rate packet (266 bits and 6 pad bits), without the rate byte.
constexpr int kFullRatePayloadBytes = 34;

// The five split-VQ codebooks of LSP increments, in units of 1/10000 of the normalised frequency
// (0..1 = 0..4000 Hz). Codebook k holds the increments of LSPs 2k and 2k+1.
struct LspCodebook {
    const std::uint16_t (*entries)[2];
    int size;
};
extern const std::array<LspCodebook, 5> kLspCodebooks;

// The circular excitation codebook, in hundredths.
extern const std::array<std::int16_t, 128> kCircularCodebook;

// Linear codebook gain magnitude for g1 = 0..60 (about 1 dB steps), in units of full scale.
extern const std::array<float, 61> kCodebookGain;

// Half of the symmetric 8-tap Hamming-windowed sinc that delays by half a sample.
extern const std::array<float, 4> kHalfSampleSinc;

// Bandwidth expansion applied by the decoder to its LPC coefficients: a_k * 0.9883^k.
constexpr double kBandwidthExpansion = 0.9883;

}  // namespace tolvane::qcelp
