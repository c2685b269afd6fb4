// QCELP-13K full-rate encoder: analysis by synthesis against an exact model of the decoder's
// excitation and synthesis filters.
#pragma once

#include <array>
#include <cstdint>

#include "plugins/qscl/qcelp_frame.h"
#include "plugins/qscl/qcelp_lpc.h"

namespace tolvane::qcelp {

class Encoder {
public:
    // Samples of look-ahead the LPC analysis reads beyond the frame.
    static constexpr int kLookahead = 60;
    // Pitch lag range of the decoder and the length of its excitation history.
    static constexpr int kMinLag = 17;
    static constexpr int kMaxLag = 143;
    static constexpr int kMaxFracLag = 139;
    static constexpr int kHistory = 143;

    Encoder();

    // Encodes the frame samples[0..159]; samples[160..219] must hold the look-ahead (zeros after
    // the end of the signal). Samples are in units of full scale (16-bit value / 32768).
    FullRateFrame encode(const float* samples);

private:
    struct SubframeFilters {
        LpcF synthesis;                      // the decoder's 1/A(z), bandwidth-expanded
        std::array<double, kLpcOrder> wNum;  // A(z/0.94) of the unquantised predictor
        std::array<double, kLpcOrder> wDen;  // A(z/0.6)
        std::array<float, kPitchSubframeLength> impulse;  // of W(z)/A(z)
    };
    struct PitchChoice {
        int lagCode = 0;
        int frac = 0;
        int gainCode = 0;
    };
    struct CodebookChoice {
        int shift = 0;
        bool negative = false;
        int gainCode = 0;
        int g1 = 0;
    };
    // Filter states the analysis by synthesis advances sample by sample.
    struct FilterState {
        std::array<float, kLpcOrder> synthesis{};  // last decoded samples, newest first
        std::array<double, kLpcOrder> error{};     // last errors (input - decoded), newest first
        std::array<double, kLpcOrder> weighted{};  // last weighted errors, newest first
    };

    void analyse(const float* samples, Lsp& lsp);
    // Codes pitch subframe i of the (postfilter-shaped) frame: pitch, its four codebook
    // subframes, and the decoder's memories after it.
    void codePitchSubframe(const SubframeFilters& f, int i, const float* speech,
                           FullRateFrame& frame, std::array<int, 16>& g1);
    void codeCodebookSubframe(const SubframeFilters& f, const PitchChoice& pitch,
                              const float* speech, int c, int subframe, FullRateFrame& frame,
                              std::array<int, 16>& g1);
    std::array<std::uint8_t, 5> quantiseLsp(const Lsp& target);
    SubframeFilters subframeFilters(const LspF& quantised, const Lsp& unquantised) const;
    // Runs `count` samples of excitation through the synthesis and weighting filters from
    // `state`, giving the weighted error against `speech`.
    static void weightedError(const SubframeFilters& f, FilterState& state, const float* speech,
                              const float* excitation, int count, float* out);
    // The best pitch choice so far; "off" (no pitch filter) changes nothing and is the start.
    struct PitchBest {
        PitchChoice choice;
        double delta = 0.0;  // change of the weighted error energy
        // Tries the eight gains of (lag, frac) given <t,y_k> and <y_j,y_k> of the excitation's
        // polynomial terms.
        void consider(int lag, int frac, int degree, const double* c, const double (*gram)[3]);
    };
    PitchChoice searchPitch(const SubframeFilters& f, const float* target) const;
    void searchShortLags(const SubframeFilters& f, const float* target, PitchBest& best) const;
    void searchLongLags(const SubframeFilters& f, const float* target, PitchBest& best) const;
    // The lagged excitation b * p[n - L] (or its half-sample interpolation) at subframe offset n.
    float pitchContribution(const PitchChoice& p, int n) const;
    // The excitation the decoder's formant filter receives for the pitch subframe just coded:
    // the pitch prefilter's output brought back to the energy of the excitation.
    void prefilter(const PitchChoice& p, float* out);
    CodebookChoice searchCodebook(const SubframeFilters& f, const float* target, int subframe,
                                  const std::array<int, 16>& g1) const;

    // Shapes the frame so that the decoder's postfilter gives the input back: the inverse of
    // A(z/0.625) / A(z/0.775) and of its tilt 1 - 0.3 z^-1, at the input's energy.
    void undoPostfilter(const float* samples, const LpcF& lpc, float* out);

    LspF previousQuantised_;
    // Memories of the inverse postfilter: input, pole part and tilt part, newest first.
    std::array<float, kLpcOrder> postInput_{};
    std::array<float, kLpcOrder> postPoles_{};
    float postTilt_ = 0.0f;
    Lsp previousUnquantised_;
    std::array<std::uint8_t, 5> lastValidLsp_{};
    FilterState state_;
    // Excitation history p[-143..-1] followed by the current pitch subframe.
    std::array<float, kHistory + kPitchSubframeLength> excitation_{};
    // The decoder's pitch prefilter output, laid out like excitation_.
    std::array<float, kHistory + kPitchSubframeLength> prefiltered_{};
};

}  // namespace tolvane::qcelp
