// A model of a QCELP-13K decoder for full-rate packets, written from the decoder's published
// behaviour so that tests can check our packets without an outside program: LSP decoding and its
// erasure rule, codebook and pitch excitation, pitch prefilter with gain control, formant
// synthesis per pitch subframe, and the adaptive postfilter. Output is in units of full scale.
#pragma once

#include <array>
#include <vector>

#include "plugins/qscl/qcelp_frame.h"
#include "plugins/qscl/qcelp_lpc.h"

namespace tolvane::test {

class QcelpDecoderModel {
public:
    QcelpDecoderModel();

    // Decodes one full-rate payload into 160 samples. Returns false for a packet the decoder
    // would erase (bad LSPs, reserved bits set, fractional lag out of range); those produce no
    // samples here.
    bool decode(const qcelp::Payload& payload, std::array<float, 160>& out);

    // The excitation and synthesis before the postfilter, of the last frame (for diagnostics).
    const std::array<float, 160>& unfiltered() const { return unfiltered_; }

private:
    void pitchFilter(std::array<float, 303>& memory, const float* in, const float* gain,
                     const int* lag, const std::uint8_t* frac, float* out);

    qcelp::LspF previousLsp_;
    std::array<float, 303> pitchSynthesis_{};
    std::array<float, 303> pitchPrefilter_{};
    std::array<float, 170> formant_{};
    std::array<float, 10> postfilterPoles_{};
    float tiltMemory_ = 0.0f;
    float gainMemory_ = 0.0f;
    std::array<float, 160> unfiltered_{};
};

// Decodes a whole QCP file image of full-rate packets (header as our writer makes it).
std::vector<float> decodeQcpWithModel(const std::vector<std::uint8_t>& file, int* erased);

}  // namespace tolvane::test
